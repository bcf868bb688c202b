// Internal: a per-thread generator with the sequence of the Windows C runtime's srand/rand.
#pragma once

#include <cstdint>

namespace orv::detail {

// Sets the calling thread's state.
void seedWindowsRand(uint32_t seed);

// Next value in 0 .. 0x7FFF: state = state * 214013 + 2531011 (mod 2^32), (state >> 16) & 0x7FFF.
int windowsRand();

}  // namespace orv::detail
