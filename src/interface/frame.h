// The call frames of the exports: the exception barrier (E), the floating-point guard (F), and
// the silent barrier of the exports that report failure by -1 alone.
//
// A hardware fault inside a frame jumps back to the frame's sigsetjmp and is reported like a
// thrown SE_Exception; the object may hold partial state afterwards, the library stays usable and
// the caller's floating-point state is put back whole.
#pragma once

#include <setjmp.h>

#include <cstdint>
#include <exception>
#include <new>

#include "interface/linsys.h"
#include "log/failure.h"
#include "platform/fault_cleanup.h"
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
// allocation it was. A floating-point trap the caller enabled is reported as the fault it would
// have been (see FpuGuard); with guard Mode::mask (frame F) there is none.
//
// A fault jumps back here past the body's destructors. The locks and swapped process-wide state
// they would have released are undone here (FaultCleanup); buffers are safe because the exports
// read the host's memory, the only thing that can fault once traps are masked, by copying or
// probing it before they own anything. A second fault while the first is reported (an object
// pointer that is not one) is reported without the object.
template <class Body>
int32_t barrierFrame(symRealSPDMatrixLinSys* const& obj, Body&& body,
                     FpuGuard::Mode mode = FpuGuard::Mode::report) {
  FpuGuard guard(mode);
  FaultTarget target;
  FaultScope scope(target);
  const int held = FaultCleanup::depth();
  if (sigsetjmp(target.jump, 0) != 0) {
    guard.faulted();
    FaultCleanup::undoSince(held);
    reportError(target.faults == 1 ? obj : nullptr, SE_Exception(target.code).what());
    return -1;
  }
  try {
    const int32_t result = body();
    if (const uint32_t code = guard.trappedCode()) {
      reportError(obj, SE_Exception(code).what());
      return -1;
    }
    return result;
  } catch (const Failure& failure) {
    reportError(obj, failure.what());
  } catch (const std::bad_alloc&) {
    reportError(obj, "Out of memory");
  } catch (const std::length_error&) {
    // A container asked for more than it can hold: the same as memory running out.
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

// Frames E and F together: traps masked throughout.
template <class Body>
int32_t guardedFrame(symRealSPDMatrixLinSys* const& obj, Body&& body) {
  return barrierFrame(obj, static_cast<Body&&>(body), FpuGuard::Mode::mask);
}

// The barrier of the exports without error text: any exception, fault or trap the caller
// enabled gives -1.
template <class Body>
int32_t silentFrame(Body&& body, FpuGuard::Mode mode = FpuGuard::Mode::report) {
  FpuGuard guard(mode);
  FaultTarget target;
  FaultScope scope(target);
  const int held = FaultCleanup::depth();
  if (sigsetjmp(target.jump, 0) != 0) {
    guard.faulted();
    FaultCleanup::undoSince(held);
    return -1;
  }
  try {
    const int32_t result = body();
    return guard.trappedCode() != 0 ? -1 : result;
  } catch (...) {
    return -1;
  }
}

}  // namespace orv
