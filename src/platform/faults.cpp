#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform.h"

namespace orv {
namespace {

// volatile: the optimiser sees no reader of the store inside the frame, only the handler.
// initial-exec: one pointer of static TLS, so the per-call reads and writes need no lookup call.
thread_local FaultTarget* volatile tlsTarget __attribute__((tls_model("initial-exec"))) = nullptr;

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
struct sigaction previousActions[4];

int signalSlot(int sig) {
  for (int k = 0; k < 4; ++k) {
    if (kSignals[k] == sig) return k;
  }
  return -1;
}

uint32_t windowsCode(int sig, const siginfo_t* info) {
  switch (sig) {
    case SIGILL:
      return 0xC000001Du;
    case SIGFPE:
      switch (info->si_code) {
        case FPE_INTDIV:
          return 0xC0000094u;
        case FPE_INTOVF:
          return 0xC0000095u;
        case FPE_FLTDIV:
          return 0xC000008Eu;
        case FPE_FLTOVF:
          return 0xC0000091u;
        case FPE_FLTUND:
          return 0xC0000093u;
        case FPE_FLTRES:
          return 0xC000008Fu;
        default:
          return 0xC0000090u;
      }
    default:  // SIGSEGV, SIGBUS
      return 0xC0000005u;
  }
}

// A fault outside a framed export belongs to whoever handled it before the library was loaded.
void forwardToPrevious(int sig, siginfo_t* info, void* context) {
  const struct sigaction& previous = previousActions[signalSlot(sig)];
  if (previous.sa_flags & SA_SIGINFO) {
    if (previous.sa_sigaction != nullptr) {
      previous.sa_sigaction(sig, info, context);
      return;
    }
  } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(sig);
    return;
  }
  // Default action: restore it and return, so the faulting instruction faults again and the
  // process ends as it would have without the library.
  signal(sig, SIG_DFL);
}

void onFault(int sig, siginfo_t* info, void* context) {
  FaultTarget* target = tlsTarget;
  if (target == nullptr) {
    forwardToPrevious(sig, info, context);
    return;
  }
  target->code = windowsCode(sig, info);
  ++target->faults;
  siglongjmp(target->jump, 1);
}

}  // namespace

SE_Exception::SE_Exception(uint32_t code) : code_(code) {
  std::snprintf(text_, sizeof text_, "CException n. %X", code);
}

FaultTarget* currentFaultTarget() { return tlsTarget; }
void setFaultTarget(FaultTarget* target) { tlsTarget = target; }

void installFaultHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int k = 0; k < 4; ++k) {
      struct sigaction action {};
      action.sa_sigaction = onFault;
      // SA_NODEFER: the jump leaves the handler, so the signal must not stay blocked.
      action.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
      sigemptyset(&action.sa_mask);
      sigaction(kSignals[k], &action, &previousActions[k]);
    }
  });
}

void probeRead(const void* data, size_t bytes) {
  if (bytes == 0) return;
  static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const volatile char* p = static_cast<const volatile char*>(data);
  for (size_t k = 0; k < bytes; k += page) static_cast<void>(p[k]);
  static_cast<void>(p[bytes - 1]);
}

void probeWrite(void* data, size_t bytes) {
  if (bytes == 0) return;
  static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  volatile char* p = static_cast<volatile char*>(data);
  for (size_t k = 0; k < bytes; k += page) p[k] = p[k];
  p[bytes - 1] = p[bytes - 1];
}

std::string hostString(const char* text) {
  const size_t length = std::strlen(text);
  return std::string(text, length);
}

}  // namespace orv
