// A fault or a trap inside an export, whatever its frame, leaves the caller's whole
// floating-point state as it was, no lock held and nothing leaked (the sanitizer run reports a
// leak at exit): the library keeps working, logging included, from any thread.
#include <sys/mman.h>
#include <unistd.h>

#include <cfloat>
#include <cstring>
#include <functional>
#include <thread>

#include "host.h"

namespace orv::test {
namespace {

struct FpState {
  uint16_t x87 = 0;
  uint16_t x87Flags = 0;
  uint32_t mxcsr = 0;
  bool operator==(const FpState&) const = default;
};

FpState readState() {
  FpState s;
  __asm__ __volatile__("fnstcw %0\n\tfnstsw %1\n\tstmxcsr %2"
                       : "=m"(s.x87), "=m"(s.x87Flags), "=m"(s.mxcsr));
  s.x87Flags &= 0x3F;
  return s;
}

void writeState(const FpState& s) {
  __asm__ __volatile__("fnclex\n\tfldcw %0\n\tldmxcsr %1" : : "m"(s.x87), "m"(s.mxcsr));
}

// A readable page followed by one the process may not touch, mapped once: the first page of
// noAccess(), and text placed at the very end of the readable page by unterminated().
char* trapPage() {
  static const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  static char* const base = [] {
    auto* p = static_cast<char*>(
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(p + page, page, PROT_NONE);
    return p + page;
  }();
  return base;
}
double* noAccess() { return reinterpret_cast<double*>(trapPage()); }
const char* unterminated(const char* text) {
  const size_t length = std::strlen(text);
  return static_cast<char*>(std::memcpy(trapPage() - length, text, length));
}

// A converted 2 x 2 pair: A = [4 1; 1 3], B = I.
void assemble(SystemHandle& system) {
  for (int which = 0; which < 2; ++which) {
    ASSERT_EQ(exp_initMatrix_v3(system.address(), 2, which), 0);
    ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), 0, 0, which == 0 ? 4.0 : 1.0, which), 0);
    ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), 1, 0, which == 0 ? 1.0 : 0.0, which), 0);
    ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), 1, 1, which == 0 ? 3.0 : 1.0, which), 0);
    ASSERT_EQ(exp_createCCS_v3(system.get(), which), 0);
  }
}

TEST(FaultRecovery, EveryKindOfFrameLeavesTheCallersStateAndTheObjectUsable) {
  // Precision 53 bits, rounding toward zero, traps on invalid, divide and overflow in both units,
  // flush-to-zero and denormals-are-zero.
  const FpState host{0x0E72, 0, 0xF940};
  SystemHandle system;
  assemble(system);
  alignas(16) float out[24] = {};
  alignas(16) float huge[24];
  std::fill(std::begin(huge), std::end(huge), FLT_MAX);
  void* srss = nullptr;
  ASSERT_EQ(exp_mediaSismica_init_v3(&srss, 1, 1, nullptr, 0.05f), 0);
  double y[4] = {1.0, 0.0, 1.0, 0.0};
  double big[2] = {DBL_MAX, DBL_MAX};
  Array x(2, 3);
  Array rhs(2, 3, 1.0);
  Array eig(2, 0);
  rhs.descriptor().pvData = noAccess();
  eig.descriptor().pvData = noAccess();
  int32_t found = 0;
  ASSERT_EQ(exp_setMatrixElem_v3(system.get(), 0, 0, DBL_MAX, 1), 0);
  const std::string violation = "-1 CException n. C0000005";
  const struct {
    const char* why;
    std::string result;  // and the object's text
    std::function<int32_t()> call;
  } rows[] = {
      {"E: name into a page not readable", violation,
       [&] { return exp_writeMatrix_v3(system.get(), unterminated("k.ijv"), 0); }},
      {"E: overflow trap", "-1 CException n. C0000091",
       [&] { return exp_incrMatrixElem_v3(system.get(), 0, 0, DBL_MAX, 1); }},
      {"E+F: vector not readable", violation,
       [&] { return exp_multVector_v3(system.get(), noAccess(), y, 0); }},
      {"E+F: overflow masked", "0 ", [&] { return exp_multVector_v3(system.get(), big, y, 0); }},
      {"E+F: right-hand sides not readable", violation,
       [&] { return exp_solve_v3(system.get(), x.address(), rhs.address()); }},
      {"E+F: eigenvalues not writable", violation,
       [&] { return exp_eigenSystem_v3(system.get(), 2, eig.address(), nullptr, &found); }},
      {"modal combination: block not readable", "-1 ",
       [&] { return exp_mediaSismica_calc24_v3(srss, reinterpret_cast<float*>(noAccess()), out); }},
      {"modal combination: overflow trap", "-1 ",
       [&] { return exp_mediaSismica_calc24_v3(srss, huge, out); }},
      {"dense packed solver: vectors not writable", "-1 ",
       [&] { return exp_LAPACK_DSPGVD_v3(1, 1, big, nullptr, y, y + 1, noAccess()); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    const FpState before = readState();
    writeState(host);
    const int32_t result = row.call();
    const FpState after = readState();
    writeState(before);
    EXPECT_EQ(std::to_string(result) + " " + lastError(system.get()), row.result);
    EXPECT_EQ(after, host) << std::hex << after.x87 << " " << after.mxcsr;
  }
  rhs.descriptor().pvData = rhs.data().data();
  ASSERT_EQ(exp_solve_v3(system.get(), x.address(), rhs.address()), 0);
  EXPECT_NEAR(x[0], 2.0 / 11.0, 1e-15);
  EXPECT_EQ(exp_mediaSismica_free_v3(&srss), 0);
}

// A fault while a call logs, then logged calls from two threads, which a lock left held would
// hang; the child process running it is ended by an alarm then.
int faultThenLogFromTwoThreads() {
  alarm(30);
  ScratchFile log("recovery.log");
  exp_logDestination_v3(nullptr, log.c_str());
  SystemHandle faulting;
  assemble(faulting);
  const bool faulted =
      exp_writeMatrix_v3(faulting.get(), unterminated("a.ijv"), 0) == -1 &&
      exp_factor_v3(faulting.get(), unterminated("metis_node")) == -1 &&
      exp_factor_v3(reinterpret_cast<symRealSPDMatrixLinSys*>(noAccess()), "") == -1 &&
      lastError(nullptr) == "symRealSPDMatrixLinSys not allocated";
  int ok[2] = {0, 0};
  // Deleting an object turns logging off, so both live until both threads are done.
  SystemHandle systems[2];
  auto work = [&](int k) {
    assemble(systems[k]);
    ok[k] = exp_factor_v3(systems[k].get(), "metis_node") == 0 ? 1 : 0;
  };
  std::thread first(work, 0);
  std::thread second(work, 1);
  first.join();
  second.join();
  const int logged = countOf(readFile(log.path()), "Ordering method used: metis_node");
  return faulted && ok[0] + ok[1] == 2 && logged == 2 ? 0 : 1;
}

TEST(FaultRecovery, LoggingGoesOnFromEveryThreadAfterAFaultWhileALineWasWritten) {
  EXPECT_EXIT(std::exit(faultThenLogFromTwoThreads()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace orv::test
