#include "failing_new.h"

#include <cstdlib>
#include <new>

namespace {

// Per thread, so that helper threads of the library are not disturbed.
thread_local bool armed = false;
thread_local long long failAt = -1;
thread_local long long calls = 0;
thread_local long long live = 0;

}  // namespace

namespace orv::test {

void armAllocationFailure(long long at) {
  failAt = at;
  calls = 0;
  live = 0;
  armed = true;
}

void disarmAllocationFailure() { armed = false; }

long long liveAllocations() { return live; }

}  // namespace orv::test

void* operator new(std::size_t size) {
  if (armed && calls++ == failAt) throw std::bad_alloc();
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  if (armed) ++live;
  return p;
}

void operator delete(void* p) noexcept {
  if (armed && p != nullptr) --live;
  std::free(p);
}

void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

// The other forms go through the two above, so that every block is allocated and released by the
// same pair.
void* operator new[](std::size_t size) { return operator new(size); }

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

void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { operator delete(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { operator delete(p); }
