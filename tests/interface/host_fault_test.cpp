// A host that handles its own faults keeps doing so after loading the library.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <setjmp.h>
#include <signal.h>

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
  ASSERT_NE(signal(SIGSEGV, hostHandler), SIG_ERR);
  void* library = dlopen(ORV_LIBRARY_FILE, RTLD_NOW);
  ASSERT_NE(library, nullptr) << dlerror();
  // exp_logDestination_v3, with the object pointer passed as an opaque one.
  auto logDestination =
      reinterpret_cast<int (*)(void*, const char*)>(dlsym(library, "exp_logDestination_v3"));

  // Inside the library the fault is the library's: -1, and the host's handler stays unused.
  EXPECT_EQ(logDestination(nullptr, reinterpret_cast<const char*>(16)), -1);
  EXPECT_EQ(hostHandlerCalls, 0);
  // The signal stays blocked while its handler runs: the jump puts back the mask saved here.
  if (sigsetjmp(hostJump, 1) == 0) static_cast<void>(*badAddress);
  EXPECT_EQ(hostHandlerCalls, 1);
}

}  // namespace
