// A host that handles its own faults keeps doing so after loading the library.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <setjmp.h>
#include <signal.h>

#include <ORVSparseSolver/exports.h>

namespace {

sigjmp_buf hostJump;
volatile sig_atomic_t hostHandlerCalls = 0;

void hostHandler(int) {
  hostHandlerCalls = hostHandlerCalls + 1;
  siglongjmp(hostJump, 1);
}

// An invalid address the optimiser cannot see through.
volatile int* volatile badAddress = reinterpret_cast<volatile int*>(16);

TEST(HostFaults, FaultOutsideTheLibraryReachesTheHostsOwnHandler) {
  struct sigaction action {};
  action.sa_handler = hostHandler;
  action.sa_flags = SA_NODEFER;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGSEGV, &action, nullptr), 0);

  void* library = dlopen(ORV_LIBRARY_FILE, RTLD_NOW);
  ASSERT_NE(library, nullptr) << dlerror();
  using LogDestination = int32_t (*)(symRealSPDMatrixLinSys*, const char*);
  auto logDestination = reinterpret_cast<LogDestination>(dlsym(library, "exp_logDestination_v3"));
  ASSERT_NE(logDestination, nullptr);

  // Inside the library the fault is the library's: -1, and the host handler stays unused.
  EXPECT_EQ(logDestination(nullptr, reinterpret_cast<const char*>(16)), -1);
  EXPECT_EQ(hostHandlerCalls, 0);

  if (sigsetjmp(hostJump, 0) == 0) {
    static_cast<void>(*badAddress);
    ADD_FAILURE() << "the read did not fault";
  }
  EXPECT_EQ(hostHandlerCalls, 1);
}

}  // namespace
