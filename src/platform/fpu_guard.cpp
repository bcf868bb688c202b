#include <fenv.h>

#include "platform.h"

namespace orv {

#if defined(__x86_64__) || defined(__i386__)

// The six exception bits of both units: mask bits in the x87 control word and in MXCSR, flag
// bits in the x87 status word and in MXCSR. Reading and writing the control registers directly
// costs a few cycles, where a full environment save and restore costs tens of nanoseconds, and a
// guard runs on every call of a heavy export.
namespace {
constexpr uint16_t kX87Masks = 0x3F;
constexpr uint32_t kSseMasks = 0x1F80;
constexpr uint32_t kSseFlags = 0x3F;

uint16_t readX87Control() {
  uint16_t word = 0;
  __asm__ __volatile__("fnstcw %0" : "=m"(word));
  return word;
}
void writeX87Control(uint16_t word) { __asm__ __volatile__("fldcw %0" : : "m"(word)); }
uint32_t readMxcsr() {
  uint32_t word = 0;
  __asm__ __volatile__("stmxcsr %0" : "=m"(word));
  return word;
}
void writeMxcsr(uint32_t word) { __asm__ __volatile__("ldmxcsr %0" : : "m"(word)); }
}  // namespace

FpuGuard::FpuGuard() : savedX87_(readX87Control()), savedSse_(readMxcsr()) {
  if ((savedX87_ & kX87Masks) != kX87Masks) writeX87Control(savedX87_ | kX87Masks);
  if ((savedSse_ & kSseMasks) != kSseMasks) writeMxcsr(savedSse_ | kSseMasks);
}

FpuGuard::~FpuGuard() {
  __asm__ __volatile__("fnclex");
  const uint16_t x87 = readX87Control();
  const uint16_t wantedX87 = static_cast<uint16_t>((x87 & ~kX87Masks) | (savedX87_ & kX87Masks));
  if (x87 != wantedX87) writeX87Control(wantedX87);
  const uint32_t sse = readMxcsr();
  const uint32_t wantedSse = (sse & ~(kSseMasks | kSseFlags)) | (savedSse_ & kSseMasks);
  if (sse != wantedSse) writeMxcsr(wantedSse);
}

#else

// Elsewhere glibc's trap control covers every unit there is.
FpuGuard::FpuGuard() : savedTraps_(fegetexcept()) { fedisableexcept(FE_ALL_EXCEPT); }

FpuGuard::~FpuGuard() {
  feclearexcept(FE_ALL_EXCEPT);
  if (savedTraps_ > 0) feenableexcept(savedTraps_);
}

#endif

}  // namespace orv
