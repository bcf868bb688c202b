#include "allocation_hooks.h"

#include <SuiteSparse_config.h>

#include <cstdlib>
#include <new>

namespace orv::test {
namespace {

thread_local int64_t count = 0;
thread_local bool failing = false;

int64_t failAt = -1;
int64_t calls = 0;
int64_t liveBlocks = 0;
void* (*savedMalloc)(size_t) = nullptr;
void* (*savedCalloc)(size_t, size_t) = nullptr;
void* (*savedRealloc)(void*, size_t) = nullptr;
void (*savedFree)(void*) = nullptr;

bool failsNow() { return calls++ == failAt; }

void* allocate(size_t size) {
  if (failsNow()) return nullptr;
  void* p = std::malloc(size);
  if (p != nullptr) ++liveBlocks;
  return p;
}

void* allocateZeroed(size_t items, size_t size) {
  if (failsNow()) return nullptr;
  void* p = std::calloc(items, size);
  if (p != nullptr) ++liveBlocks;
  return p;
}

void* reallocate(void* old, size_t size) {
  if (failsNow()) return nullptr;
  void* p = std::realloc(old, size);
  if (p != nullptr && old == nullptr) ++liveBlocks;
  return p;
}

void release(void* p) {
  if (p != nullptr) --liveBlocks;
  std::free(p);
}

}  // namespace

int64_t allocationCount() { return count; }
void failAllocations(bool fail) { failing = fail; }

FailingSuiteSparseAllocator::FailingSuiteSparseAllocator(int64_t failAtCall) {
  failAt = failAtCall;
  calls = 0;
  savedMalloc = SuiteSparse_config.malloc_func;
  savedCalloc = SuiteSparse_config.calloc_func;
  savedRealloc = SuiteSparse_config.realloc_func;
  savedFree = SuiteSparse_config.free_func;
  SuiteSparse_config.malloc_func = &allocate;
  SuiteSparse_config.calloc_func = &allocateZeroed;
  SuiteSparse_config.realloc_func = &reallocate;
  SuiteSparse_config.free_func = &release;
}

FailingSuiteSparseAllocator::~FailingSuiteSparseAllocator() {
  SuiteSparse_config.malloc_func = savedMalloc;
  SuiteSparse_config.calloc_func = savedCalloc;
  SuiteSparse_config.realloc_func = savedRealloc;
  SuiteSparse_config.free_func = savedFree;
}

void FailingSuiteSparseAllocator::stopFailing() { failAt = -1; }
int64_t FailingSuiteSparseAllocator::live() { return liveBlocks; }

}  // namespace orv::test

void* operator new(std::size_t size) {
  if (orv::test::failing) throw std::bad_alloc();
  ++orv::test::count;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
