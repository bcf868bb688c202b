// Allocation failures on demand, for the programs that test the failure paths. Linking
// orv_allocation_hooks replaces the global operator new and delete (every form) in the whole
// program, the library's shared object included, and puts counting hooks into SuiteSparse's
// allocator, which reach inside CHOLMOD and AMD.
#pragma once

#include <cstdint>

namespace orv::test {

// Blocks from operator new and from SuiteSparse's allocator not yet released, over the whole
// process.
int64_t liveAllocations();

// While an object lives, the allocations that the constructing thread makes through operator new
// or SuiteSparse's allocator are numbered 0, 1, 2, ...
// and the one numbered failAt fails (with Mode::fromThenOn, every later one too): operator new
// throws std::bad_alloc, its nothrow forms and SuiteSparse's functions return null. Other threads
// are never disturbed. One object at a time per thread.
class AllocationFailure {
 public:
  enum class Mode { once, fromThenOn };

  explicit AllocationFailure(int64_t failAt, Mode mode = Mode::once);
  ~AllocationFailure();
  AllocationFailure(const AllocationFailure&) = delete;
  AllocationFailure& operator=(const AllocationFailure&) = delete;

  // No allocation fails any more; counting goes on.
  void stop();
  // Whether the allocation numbered failAt was reached, and so failed.
  bool struck() const;
};

}  // namespace orv::test
