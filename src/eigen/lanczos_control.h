// Process-wide control of the Lanczos iterations: the lock around ARPACK.
#pragma once

#include <mutex>

namespace orv {

// ARPACK keeps the state of an iteration in Fortran SAVE variables, so at most one iteration may
// run in the process at a time; every run holds this lock from its first dsaupd call to the end
// of its dseupd call.
std::mutex& arpackMutex();

}  // namespace orv
