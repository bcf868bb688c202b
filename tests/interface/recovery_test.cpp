// A fault or a trap inside an export, of every kind of frame, leaves the caller's whole
// floating-point state as it was, no lock held and nothing leaked (the sanitizer run checks the
// last at exit): the library keeps working, logging included, from any thread.
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
  uint16_t x87;
  uint16_t x87Status;
  uint32_t mxcsr;
  bool operator==(const FpState&) const = default;
};

FpState readState() {
  FpState s{};
  __asm__ __volatile__("fnstcw %0" : "=m"(s.x87));
  __asm__ __volatile__("fnstsw %0" : "=m"(s.x87Status));
  __asm__ __volatile__("stmxcsr %0" : "=m"(s.mxcsr));
  s.x87Status &= 0x3F;
  return s;
}

void writeControl(uint16_t x87, uint32_t mxcsr) {
  __asm__ __volatile__("fnclex\n\tfldcw %0" : : "m"(x87));
  __asm__ __volatile__("ldmxcsr %0" : : "m"(mxcsr));
}

// A readable page followed by one the process may not touch; text placed at the very end of the
// readable page runs into the other.
class Trap {
 public:
  Trap() {
    base_ = static_cast<char*>(
        mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(base_ + page_, page_, PROT_NONE);
  }
  ~Trap() { munmap(base_, 2 * page_); }
  Trap(const Trap&) = delete;
  Trap& operator=(const Trap&) = delete;
  double* noAccess() { return reinterpret_cast<double*>(base_ + page_); }
  const char* unterminated(const char* text) {
    const size_t length = std::strlen(text);
    std::memcpy(base_ + page_ - length, text, length);
    return base_ + page_ - length;
  }

 private:
  size_t page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  char* base_;
};

// A converted 2 x 2 system.
void assemble(SystemHandle& system) {
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 2, 0), 0);
  ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), 0, 0, 4.0, 0), 0);
  ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), 1, 0, 1.0, 0), 0);
  ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), 1, 1, 3.0, 0), 0);
  ASSERT_EQ(exp_createCCS_v3(system.get(), 0), 0);
}

TEST(FaultRecovery, TheCallersWholeFloatingPointStateSurvivesEveryKindOfFrame) {
  // Precision 53 bits, rounding toward zero, traps on invalid, divide and overflow in both units,
  // flush-to-zero and denormals-are-zero.
  const uint16_t hostX87 = 0x0E72;
  const uint32_t hostMxcsr = 0xF940;
  Trap trap;
  SystemHandle system;
  assemble(system);
  alignas(16) float out[24] = {};
  alignas(16) float huge[24];
  std::fill(std::begin(huge), std::end(huge), FLT_MAX);
  void* srss = nullptr;
  ASSERT_EQ(exp_mediaSismica_init_v3(&srss, 1, 1, nullptr, 0.05f), 0);
  double y[2];
  double big[2] = {DBL_MAX, DBL_MAX};
  double w[1];
  double z[1];
  const double one = 1.0;
  struct Row {
    const char* why;
    std::function<int32_t()> call;
    int32_t result;
    const char* text;  // of the object, or null for the exports without one
  };
  const Row rows[] = {
      {"frame E, access violation",
       [&] { return exp_writeMatrix_v3(system.get(), trap.unterminated("k.ijv"), 0); }, -1,
       "CException n. C0000005"},
      {"frame E, overflow trap",
       [&] {
         return exp_setMatrixElem_v3(system.get(), 0, 0, DBL_MAX, 0) |
                exp_incrMatrixElem_v3(system.get(), 0, 0, DBL_MAX, 0);
       },
       -1, "CException n. C0000091"},
      {"frames E and F, access violation",
       [&] { return exp_multVector_v3(system.get(), trap.noAccess(), y, 0); }, -1,
       "CException n. C0000005"},
      {"frames E and F, overflow masked",
       [&] { return exp_multVector_v3(system.get(), big, y, 0); }, 0, ""},
      {"modal combination, access violation",
       [&] {
         return exp_mediaSismica_calc24_v3(srss, reinterpret_cast<float*>(trap.noAccess()), out);
       },
       -1, nullptr},
      {"modal combination, overflow trap",
       [&] { return exp_mediaSismica_calc24_v3(srss, huge, out); }, -1, nullptr},
      {"dense packed solver, access violation",
       [&] { return exp_LAPACK_DSPGVD_v3(1, 0, trap.noAccess(), &one, y, w, z); }, -1, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    const FpState before = readState();
    writeControl(hostX87, hostMxcsr);
    const FpState host = readState();
    const int32_t result = row.call();
    const FpState after = readState();
    writeControl(before.x87, before.mxcsr);
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(after, host) << std::hex << after.x87 << " " << after.mxcsr;
    if (row.text != nullptr) {
      EXPECT_EQ(lastError(system.get()), row.text);
    }
  }
  EXPECT_EQ(exp_mediaSismica_free_v3(&srss), 0);
}

// A fault while a call logs, then logged calls from two threads: a lock left held would hang
// them. The exit status tells whether all went as it should.
int faultThenLogFromTwoThreads() {
  alarm(30);
  ScratchFile log("recovery.log");
  exp_logDestination_v3(nullptr, log.c_str());
  Trap trap;
  SystemHandle faulting;
  assemble(faulting);
  auto* notAnObject = reinterpret_cast<symRealSPDMatrixLinSys*>(trap.noAccess());
  const bool faulted = exp_writeMatrix_v3(faulting.get(), trap.unterminated("a.ijv"), 0) == -1 &&
                       exp_factor_v3(faulting.get(), trap.unterminated("metis_node")) == -1 &&
                       exp_factor_v3(notAnObject, "") == -1 &&
                       lastError(nullptr) == "symRealSPDMatrixLinSys not allocated";
  int ok[2] = {0, 0};
  auto work = [&](int k) {
    SystemHandle system;
    assemble(system);
    ok[k] = exp_factor_v3(system.get(), "metis_node") == 0 ? 1 : 0;
  };
  std::thread first(work, 0);
  std::thread second(work, 1);
  first.join();
  second.join();
  const int logged = countOf(readFile(log.path()), "Ordering method used: metis_node");
  return faulted && ok[0] + ok[1] == 2 && logged == 2 ? 0 : 1;
}

// In a child process that an alarm ends if it hangs.
TEST(FaultRecovery, LoggingGoesOnFromEveryThreadAfterAFaultWhileALineWasWritten) {
  EXPECT_EXIT(std::exit(faultThenLogFromTwoThreads()), ::testing::ExitedWithCode(0), "");
}

// Exports that allocate before they have finished with the host's arrays: a fault there must
// leave nothing behind (the sanitizer run reports any leak at exit) and the object usable.
TEST(FaultRecovery, NothingACallOwnedIsLeftBehind) {
  Trap trap;
  SystemHandle system;
  assemble(system);
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 2, 1), 0);
  ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), 0, 0, 1.0, 1), 0);
  ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), 1, 1, 1.0, 1), 0);
  ASSERT_EQ(exp_createCCS_v3(system.get(), 1), 0);
  Array x(2, 3);
  Array rhs(2, 3, 1.0);
  Array eig(2, 0);
  rhs.descriptor().pvData = trap.noAccess();
  eig.descriptor().pvData = trap.noAccess();
  int32_t found = 0;
  double ap[3] = {2.0, 0.0, 2.0};
  double bp[3] = {1.0, 0.0, 1.0};
  double w[2];
  const std::function<int32_t()> calls[] = {
      [&] { return exp_solve_v3(system.get(), x.address(), rhs.address()); },
      [&] { return exp_eigenSystem_v3(system.get(), 2, eig.address(), nullptr, &found); },
      [&] { return exp_LAPACK_DSPGVD_v3(2, 1, ap, nullptr, bp, w, trap.noAccess()); },
  };
  for (const auto& call : calls) EXPECT_EQ(call(), -1);
  rhs.descriptor().pvData = rhs.data().data();
  ASSERT_EQ(exp_solve_v3(system.get(), x.address(), rhs.address()), 0);
  EXPECT_NEAR(x[0], 2.0 / 11.0, 1e-15);
}

}  // namespace
}  // namespace orv::test
