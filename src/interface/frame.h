// The call frames of the exports: the exception barrier (E), the floating-point guard (F), and
// the silent barrier of the exports that report failure by -1 alone.
//
// A hardware fault inside a frame jumps back to the frame's sigsetjmp and is reported like a
// thrown SE_Exception. The jump skips the destructors of the body's locals, so the object may
// hold partial state afterwards; the library itself stays usable.
#pragma once

#include <fenv.h>
#include <setjmp.h>

#include <cstdint>
#include <exception>
#include <new>

#include "interface/linsys.h"
#include "platform/platform.h"

namespace orv {

// Records text as obj's last error (or, with no object, the process-wide text
// "symRealSPDMatrixLinSys not allocated") and logs "ERROR: <text>". When memory is too short to
// copy text, the object's text becomes "Out of memory".
void reportError(symRealSPDMatrixLinSys* obj, const char* text) noexcept;

// Restores the enclosing frame's fault target on every way out of a frame.
class FaultScope {
 public:
  explicit FaultScope(FaultTarget& target) : previous_(currentFaultTarget()) {
    setFaultTarget(&target);
  }
  ~FaultScope() { setFaultTarget(previous_); }
  FaultScope(const FaultScope&) = delete;
  FaultScope& operator=(const FaultScope&) = delete;

 private:
  FaultTarget* previous_;
};

// Frame E. obj is read when a failure is reported, so an export that creates the object
// passes the variable that receives it. Exhausted memory reads "Out of memory" whichever
// allocation it was.
template <class Body>
int32_t barrierFrame(symRealSPDMatrixLinSys* const& obj, Body&& body) {
  FaultTarget target;
  FaultScope scope(target);
  if (sigsetjmp(target.jump, 0) != 0) {
    feclearexcept(FE_ALL_EXCEPT);
    reportError(obj, SE_Exception(target.code).what());
    return -1;
  }
  try {
    return body();
  } catch (const char* text) {
    reportError(obj, text);
  } catch (const std::bad_alloc&) {
    reportError(obj, "Out of memory");
  } catch (const std::exception& e) {
    reportError(obj, e.what());
  } catch (const SE_Exception& e) {
    reportError(obj, e.what());
  } catch (...) {
    reportError(obj, "Unknown error");
  }
  return -1;
}

// Frames E and F together: the guard encloses the barrier.
template <class Body>
int32_t guardedFrame(symRealSPDMatrixLinSys* const& obj, Body&& body) {
  FpuGuard guard;
  return barrierFrame(obj, static_cast<Body&&>(body));
}

// The barrier of the exports without error text: any exception or fault gives -1.
template <class Body>
int32_t silentFrame(Body&& body) {
  FaultTarget target;
  FaultScope scope(target);
  if (sigsetjmp(target.jump, 0) != 0) {
    feclearexcept(FE_ALL_EXCEPT);
    return -1;
  }
  try {
    return body();
  } catch (...) {
    return -1;
  }
}

}  // namespace orv
