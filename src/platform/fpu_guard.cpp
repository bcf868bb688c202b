#include <fenv.h>

#include "platform.h"

namespace orv {

// glibc's trap control covers both the x87 and the SSE unit.
FpuGuard::FpuGuard() : savedTraps_(fegetexcept()) { fedisableexcept(FE_ALL_EXCEPT); }

FpuGuard::~FpuGuard() {
  feclearexcept(FE_ALL_EXCEPT);
  if (savedTraps_ > 0) feenableexcept(savedTraps_);
}

}  // namespace orv
