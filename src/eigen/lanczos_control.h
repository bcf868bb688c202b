// Process-wide control of the Lanczos iterations: the lock around ARPACK and a test hook.
#pragma once

#include <mutex>

namespace orv {

// ARPACK keeps the state of an iteration in Fortran SAVE variables, so at most one iteration may
// run in the process at a time; every run holds this lock from its first dsaupd call to the end
// of its dseupd call.
std::mutex& arpackMutex();

// True while a ForceLanczosFailure object lives.
bool lanczosFailureForced();

// Test hook: while an object of this class lives, every Lanczos run in the process reports no
// converged eigenvalue without calling ARPACK, as a breakdown of the iteration would.
class ForceLanczosFailure {
 public:
  ForceLanczosFailure();
  ~ForceLanczosFailure();
  ForceLanczosFailure(const ForceLanczosFailure&) = delete;
  ForceLanczosFailure& operator=(const ForceLanczosFailure&) = delete;
};

}  // namespace orv
