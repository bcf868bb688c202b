#include <fenv.h>

#include "platform.h"

namespace orv {

namespace {

// Windows codes of the six exceptions, by the bit they have in the x87 status word and in the
// flags of MXCSR (invalid, denormal, divide, overflow, underflow, inexact), in the order a
// report names them.
struct TrapCode {
  uint32_t bit;
  uint32_t code;
};
constexpr TrapCode kTrapCodes[] = {{0x01, 0xC0000090u}, {0x04, 0xC000008Eu}, {0x08, 0xC0000091u},
                                   {0x10, 0xC0000093u}, {0x02, 0xC000008Du}, {0x20, 0xC000008Fu}};

uint32_t codeOf(uint32_t bits) {
  for (const TrapCode& t : kTrapCodes) {
    if (bits & t.bit) return t.code;
  }
  return 0;
}

}  // namespace

#if defined(__x86_64__) || defined(__i386__)

// The six exception bits of both units: mask bits in the x87 control word and in MXCSR, flag
// bits in the x87 status word and in MXCSR. Reading and writing the control registers directly
// costs a few cycles, where a full environment save and restore costs tens of nanoseconds, and a
// guard runs on every call.
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

uint16_t readX87Status() {
  uint16_t word = 0;
  __asm__ __volatile__("fnstsw %0" : "=m"(word));
  return word;
}

uint32_t readMxcsr() {
  uint32_t word = 0;
  __asm__ __volatile__("stmxcsr %0" : "=m"(word));
  return word;
}

void writeMxcsr(uint32_t word) { __asm__ __volatile__("ldmxcsr %0" : : "m"(word)); }

}  // namespace

void FpuGuard::enter() {
  changed_ = true;
  if (report_) {
    // Flags raised inside are told apart from the caller's own pending ones.
    __asm__ __volatile__("fnclex");
    writeMxcsr((savedSse_ | kSseMasks) & ~kSseFlags);
  } else if ((savedSse_ & kSseMasks) != kSseMasks) {
    writeMxcsr(savedSse_ | kSseMasks);
  }
  if ((savedX87_ & kX87Masks) != kX87Masks) writeX87Control(savedX87_ | kX87Masks);
}

void FpuGuard::leave() {
  __asm__ __volatile__("fnclex");
  if (readX87Control() != savedX87_) writeX87Control(savedX87_);
  const uint32_t wanted = savedSse_ & ~kSseFlags;
  if (readMxcsr() != wanted) writeMxcsr(wanted);
}

uint32_t FpuGuard::raisedCode() const {
  const uint32_t x87 = readX87Status() & ~savedX87_ & kX87Masks;
  const uint32_t sse = readMxcsr() & kSseFlags & ~(savedSse_ >> 7);
  return codeOf(x87 | sse);
}

#else

// Elsewhere glibc's environment covers every unit there is.
void FpuGuard::enter() {
  changed_ = true;
  feholdexcept(&savedEnvironment_);
}

void FpuGuard::leave() {
  feclearexcept(FE_ALL_EXCEPT);
  fesetenv(&savedEnvironment_);
  feclearexcept(FE_ALL_EXCEPT);
}

uint32_t FpuGuard::raisedCode() const {
  const int raised = fetestexcept(FE_ALL_EXCEPT);
  fenv_t current;
  fegetenv(&current);
  fesetenv(&savedEnvironment_);
  const int enabled = fegetexcept();
  fesetenv(&current);
  const int hit = raised & enabled;
  return codeOf(((hit & FE_INVALID) ? 0x01u : 0u) | ((hit & FE_DIVBYZERO) ? 0x04u : 0u) |
                ((hit & FE_OVERFLOW) ? 0x08u : 0u) | ((hit & FE_UNDERFLOW) ? 0x10u : 0u) |
                ((hit & FE_INEXACT) ? 0x20u : 0u));
}

#endif

}  // namespace orv
