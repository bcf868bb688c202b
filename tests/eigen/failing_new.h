// A replaced global operator new that can fail one chosen allocation of the calling thread and
// counts the blocks still allocated since it was armed.
#pragma once

namespace orv::test {

// From now on, allocation number failAt (0-based) of this thread throws std::bad_alloc.
void armAllocationFailure(long long failAt);
void disarmAllocationFailure();
// Blocks allocated on this thread while armed and not freed (frees of older blocks count too).
long long liveAllocations();

}  // namespace orv::test
