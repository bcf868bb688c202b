#include "eigen/lanczos_control.h"

#include <mutex>

namespace orv {

std::mutex& arpackMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace orv
