#include "allocation_hooks.h"

#include <SuiteSparse_config.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace orv::test {
namespace {

struct Injection {
  bool armed = false;
  bool fromThenOn = false;
  bool struck = false;
  int64_t failAt = -1;
  int64_t calls = 0;
};

thread_local Injection injection;
std::atomic<int64_t> live{0};

// Numbers the allocation when armed; true when it must fail.
bool failsNow() {
  Injection& i = injection;
  if (!i.armed) return false;
  const int64_t number = i.calls++;
  if (number == i.failAt || (i.fromThenOn && number > i.failAt && i.failAt >= 0)) {
    i.struck = true;
    return true;
  }
  return false;
}

void* counted(void* p) {
  if (p != nullptr) live.fetch_add(1, std::memory_order_relaxed);
  return p;
}

void released(void* p) {
  if (p == nullptr) return;
  live.fetch_sub(1, std::memory_order_relaxed);
  std::free(p);
}

void* suiteSparseMalloc(size_t size) { return failsNow() ? nullptr : counted(std::malloc(size)); }

void* suiteSparseCalloc(size_t items, size_t size) {
  return failsNow() ? nullptr : counted(std::calloc(items, size));
}

void* suiteSparseRealloc(void* old, size_t size) {
  if (failsNow()) return nullptr;
  void* p = std::realloc(old, size);
  if (p != nullptr && old == nullptr) live.fetch_add(1, std::memory_order_relaxed);
  return p;
}

// SuiteSparse allocates nothing before main, so the hooks go in once, at start-up, and every
// block it ever hands out is counted both ways.
const bool hooksInstalled = [] {
  SuiteSparse_config.malloc_func = &suiteSparseMalloc;
  SuiteSparse_config.calloc_func = &suiteSparseCalloc;
  SuiteSparse_config.realloc_func = &suiteSparseRealloc;
  SuiteSparse_config.free_func = &released;
  return true;
}();

}  // namespace

int64_t liveAllocations() { return live.load(std::memory_order_relaxed); }

AllocationFailure::AllocationFailure(int64_t failAt, Mode mode) {
  static_cast<void>(hooksInstalled);
  injection = Injection{true, mode == Mode::fromThenOn, false, failAt, 0};
}

AllocationFailure::~AllocationFailure() { injection.armed = false; }

void AllocationFailure::stop() { injection.failAt = -1; }
bool AllocationFailure::struck() const { return injection.struck; }

}  // namespace orv::test

// Every form of the global operators goes through these two, so each block is allocated and
// released by the same pair and counted once.
void* operator new(std::size_t size) {
  if (orv::test::failsNow()) throw std::bad_alloc();
  void* p = orv::test::counted(std::malloc(size == 0 ? 1 : size));
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void operator delete(void* p) noexcept { orv::test::released(p); }

void* operator new[](std::size_t size) { return operator new(size); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}

void operator delete(void* p, const std::nothrow_t&) noexcept { operator delete(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { operator delete(p); }
