// Allocation hooks for the factor tests: a replaced global operator new that counts allocations
// on the calling thread and can be told to fail them, and SuiteSparse's allocator hooks, which
// reach inside CHOLMOD and AMD, failing one chosen allocation.
#pragma once

#include <cstdint>

namespace orv::test {

// Allocations by operator new on this thread since start-up.
int64_t allocationCount();

// While set, operator new on this thread throws std::bad_alloc.
void failAllocations(bool fail);

// While alive, SuiteSparse allocates through counting hooks that fail the allocation numbered
// failAt (0-based, counted from construction), and never again after stopFailing().
class FailingSuiteSparseAllocator {
 public:
  explicit FailingSuiteSparseAllocator(int64_t failAt);
  ~FailingSuiteSparseAllocator();
  FailingSuiteSparseAllocator(const FailingSuiteSparseAllocator&) = delete;
  FailingSuiteSparseAllocator& operator=(const FailingSuiteSparseAllocator&) = delete;

  static void stopFailing();
  // Blocks allocated through the hooks and not yet freed.
  static int64_t live();
};

}  // namespace orv::test
