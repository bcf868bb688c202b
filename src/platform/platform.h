// Linux stand-ins for the Windows facilities the exports rely on: the automation string and
// array descriptor (declared in the public header), the floating-point guard and the
// translation of hardware faults into exceptions-like returns.
#pragma once

#include <ORVSparseSolver/exports.h>
#include <fenv.h>
#include <setjmp.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace orv {

// A BSTR holding text's bytes; throws std::bad_alloc when memory is exhausted.
BSTR makeBstr(const std::string& text);

// The caller's floating-point control state (the x87 control word and MXCSR: exception masks,
// rounding, precision, flush-to-zero, denormals-are-zero), held for the length of an export and
// put back whole on the way out, whatever happened in between: a fault handler runs with a fresh
// state, and the jump back to the frame keeps it.
//  - Mode::mask, the guard of the heavy exports: every trap is masked inside, so exceptions give
//    infinities and NaNs, and the pending exception flags are cleared on exit.
//  - Mode::report, every other export: when the caller has traps enabled they are masked inside
//    as well, and trappedCode() tells, once the body has run, which exception would have trapped.
//    The export then fails as the trap would have made it fail, but nothing the body held (a lock,
//    a buffer) is left behind as a trap in the middle of the work would leave it. With no trap
//    enabled nothing is changed.
class FpuGuard {
 public:
  enum class Mode { mask, report };
  // The common case, a report-mode guard whose caller enabled no trap, is two register reads.
  explicit FpuGuard(Mode mode = Mode::mask) : report_(mode == Mode::report) {
    save();
    if (!report_ || trapsEnabled()) enter();
  }
  ~FpuGuard() {
    if (changed_ || faulted_) leave();
  }
  FpuGuard(const FpuGuard&) = delete;
  FpuGuard& operator=(const FpuGuard&) = delete;

  // In report mode, the Windows code of an exception raised inside whose trap the caller had
  // enabled (invalid first, then divide by zero, overflow, underflow, denormal operand,
  // inexact), or 0; always 0 in mask mode.
  uint32_t trappedCode() const { return report_ && changed_ ? raisedCode() : 0; }
  // A fault was translated: on exit the pending flags are cleared and the state put back even
  // where nothing was changed on entry.
  void faulted() { faulted_ = true; }

 private:
  void enter();
  void leave();
  uint32_t raisedCode() const;

#if defined(__x86_64__) || defined(__i386__)
  void save() {
    __asm__ __volatile__("fnstcw %0" : "=m"(savedX87_));
    __asm__ __volatile__("stmxcsr %0" : "=m"(savedSse_));
  }
  // A clear mask bit in either unit's six (x87 control word bits 0-5, MXCSR bits 7-12).
  bool trapsEnabled() const { return (savedX87_ & 0x3F) != 0x3F || (savedSse_ & 0x1F80) != 0x1F80; }

  uint16_t savedX87_ = 0;
  uint32_t savedSse_ = 0;
#else
  void save() { fegetenv(&savedEnvironment_); }
  bool trapsEnabled() const { return fegetexcept() != 0; }

  fenv_t savedEnvironment_;
#endif
  bool report_;
  bool changed_ = false;
  bool faulted_ = false;
};

// Touch one byte of every page of a host array, reading it (probeRead) or writing back the byte
// read (probeWrite). An export probes what the host handed it before it takes a lock or owns
// anything, so that a bad pointer faults there and never in the middle of its work.
void probeRead(const void* data, size_t bytes);
void probeWrite(void* data, size_t bytes);
// The host's text, read to its end before any memory is allocated for the copy.
std::string hostString(const char* text);

// A hardware fault caught inside a framed export, with its Windows exception code.
class SE_Exception {
 public:
  explicit SE_Exception(uint32_t code);
  uint32_t code() const { return code_; }
  // "CException n. %X" with the code.
  const char* what() const { return text_; }

 private:
  uint32_t code_;
  char text_[32];
};

// The jump target of the framed export running on this thread, or null outside one. Frames
// nest: each saves the previous target and puts it back when it ends.
struct FaultTarget {
  sigjmp_buf jump;
  uint32_t code = 0;
  int faults = 0;  // faults translated to this target, so that reporting one cannot loop
};
FaultTarget* currentFaultTarget();
void setFaultTarget(FaultTarget* target);

// Installs the SIGSEGV, SIGBUS, SIGFPE and SIGILL handlers once; called when the library loads.
void installFaultHandlers();

}  // namespace orv
