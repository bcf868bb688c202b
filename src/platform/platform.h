// Linux stand-ins for the Windows facilities the exports rely on: the automation string and
// array descriptor (declared in the public header), the floating-point guard and the
// translation of hardware faults into exceptions-like returns.
#pragma once

#include <ORVSparseSolver/exports.h>
#include <setjmp.h>

#include <cstdint>
#include <string>

namespace orv {

// A BSTR holding text's bytes; throws std::bad_alloc when memory is exhausted.
BSTR makeBstr(const std::string& text);

// Masks every floating-point trap (invalid, denormal, divide, overflow, underflow, inexact) of
// the x87 and SSE units for its lifetime. On destruction it clears the pending exception flags
// and puts back exactly the masks the caller had.
class FpuGuard {
 public:
  FpuGuard();
  ~FpuGuard();
  FpuGuard(const FpuGuard&) = delete;
  FpuGuard& operator=(const FpuGuard&) = delete;

 private:
#if defined(__x86_64__) || defined(__i386__)
  uint16_t savedX87_;
  uint32_t savedSse_;
#else
  int savedTraps_;
#endif
};

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
};
FaultTarget* currentFaultTarget();
void setFaultTarget(FaultTarget* target);

// Installs the SIGSEGV, SIGBUS, SIGFPE and SIGILL handlers once; called when the library loads.
void installFaultHandlers();

}  // namespace orv
