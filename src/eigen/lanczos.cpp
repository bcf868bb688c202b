#include "eigen/lanczos_control.h"

#include <atomic>
#include <mutex>

namespace orv {

namespace {

std::atomic<int> forcedFailures{0};

}  // namespace

std::mutex& arpackMutex() {
  static std::mutex mutex;
  return mutex;
}

bool lanczosFailureForced() { return forcedFailures.load() > 0; }

ForceLanczosFailure::ForceLanczosFailure() { ++forcedFailures; }

ForceLanczosFailure::~ForceLanczosFailure() { --forcedFailures; }

}  // namespace orv
