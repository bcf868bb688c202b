// What a hardware fault must not leave behind: the locks the library takes and the process-wide
// state it swaps for a while. A fault translated into an export's failure jumps back to the
// export's frame past the destructors that would undo them, so they are registered while held,
// and the frame undoes what is registered since its entry, latest first.
//
// Header-only, so that every part of the library registers without linking the platform
// library. The registry is a fixed thread-local array, never the stack: the jump leaves the
// skipped frames' stack to be overwritten by the very calls that undo them.
#pragma once

#include <mutex>

namespace orv {

namespace fault_cleanup_detail {
using Undo = void (*)(void* argument);
constexpr int kCapacity = 8;
struct Registry {
  struct {
    Undo undo;
    void* argument;
  } entries[kCapacity];
  int depth;
};
// initial-exec: a frame reads the depth on every call.
inline thread_local Registry registry __attribute__((tls_model("initial-exec"))) = {};
}  // namespace fault_cleanup_detail

class FaultCleanup {
 public:
  using Undo = fault_cleanup_detail::Undo;

  // argument must outlive the registration and must not live on the stack.
  FaultCleanup(Undo undo, void* argument) {
    fault_cleanup_detail::Registry& r = fault_cleanup_detail::registry;
    if (r.depth < fault_cleanup_detail::kCapacity) r.entries[r.depth] = {undo, argument};
    ++r.depth;
  }
  ~FaultCleanup() { --fault_cleanup_detail::registry.depth; }
  FaultCleanup(const FaultCleanup&) = delete;
  FaultCleanup& operator=(const FaultCleanup&) = delete;

  // Registrations held by this thread; a frame notes it at entry.
  static int depth() { return fault_cleanup_detail::registry.depth; }
  // After a translated fault: undoes, latest first, what was registered since depth was noted.
  static void undoSince(int mark) {
    fault_cleanup_detail::Registry& r = fault_cleanup_detail::registry;
    for (; r.depth > mark; --r.depth) {
      if (r.depth <= fault_cleanup_detail::kCapacity)
        r.entries[r.depth - 1].undo(r.entries[r.depth - 1].argument);
    }
  }
};

// A mutex held for the length of a scope and released by the frame after a fault.
class FaultSafeLock {
 public:
  explicit FaultSafeLock(std::mutex& mutex) : mutex_(lock(mutex)), cleanup_(unlock, &mutex) {}
  ~FaultSafeLock() { mutex_.unlock(); }
  FaultSafeLock(const FaultSafeLock&) = delete;
  FaultSafeLock& operator=(const FaultSafeLock&) = delete;

 private:
  static std::mutex& lock(std::mutex& mutex) {
    mutex.lock();
    return mutex;
  }
  static void unlock(void* mutex) { static_cast<std::mutex*>(mutex)->unlock(); }

  std::mutex& mutex_;
  FaultCleanup cleanup_;
};

}  // namespace orv
