// Failures told as what they are: a load case without load solves, a bad matrix gives a log of
// bounded size, a pivot is named in the host's numbering, and a factor that cannot fit in the
// memory the process may use is refused at once.
#include <sys/resource.h>

#include <fstream>
#include <regex>

#include "host.h"
#include "models/export_sink.h"
#include "models/hex8.h"

namespace orv::test {
namespace {

using Truthful = LoggedSystem;

TEST_F(Truthful, AZeroLoadCaseFailedTheWholeBlockOfLoadCases) {
  assemble(3, {{0, 0, 4.0}, {1, 0, 1.0}, {1, 1, 3.0}, {2, 1, 1.0}, {2, 2, 2.0}});
  ASSERT_EQ(setCheck(16, 1, -12.0, 3), 0);
  Array x(3, 2);
  Array b(3, 2, 0.0);
  b[0] = 5.0;  // A (1, 1, 0)
  b[1] = 4.0;
  b[2] = 1.0;
  ASSERT_EQ(exp_solve_v3(system.get(), x.address(), b.address()), 0) << lastError(system.get());
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(x[k], k < 2 ? 1.0 : 0.0, 1e-15);
    EXPECT_EQ(x[3 + k], 0.0);
  }
  EXPECT_EQ(countOf(newLog(), "    1        0.000e+00     0.000e+00     0.000e+00     0.000e+00"),
            1);
}

TEST_F(Truthful, AMatrixWithoutDiagonalWroteALineForEveryRow) {
  assemble(250, {{0, 0, 1.0}});
  EXPECT_EQ(exp_factor_v3(system.get(), ""), -1);
  EXPECT_EQ(lastError(system.get()),
            "Pre-factor checks failed.\nMatrix is not SPD or ill conditioned");
  const std::string text = newLog();
  EXPECT_EQ(countOf(text, "Non positive diagonal element at row"), 100);
  EXPECT_EQ(countOf(text, "Non positive diagonal element at row   100 ="), 1);
  EXPECT_EQ(countOf(text, "... and 149 more rows with a non positive diagonal element\n"), 1);
}

// Rows 20 and 21 of the identity make an indefinite block: whichever of the two is eliminated
// second has the non-positive pivot.
TEST_F(Truthful, ANonPositivePivotWasNamedOnlyInTheReorderedNumbering) {
  const std::regex line("Non-positive pivot in original column (\\d+)\n");
  for (const char* ordering : {"identity", "metis_node", "amdv1_1", "random"}) {
    SCOPED_TRACE(ordering);
    ASSERT_EQ(exp_initMatrix_v3(system.address(), 40, 0), 0);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), i, i, 1.0, 0), 0);
    ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), 21, 20, 2.0, 0), 0);
    ASSERT_EQ(exp_createCCS_v3(system.get(), 0), 0);
    newLog();
    EXPECT_EQ(exp_factor_v3(system.get(), ordering), -1);
    const std::string text = newLog();
    std::smatch match;
    ASSERT_TRUE(std::regex_search(text, match, line)) << text;
    const int original = std::stoi(match[1]);
    EXPECT_TRUE(original == 20 || original == 21);
    EXPECT_TRUE(original == 21 || std::string(ordering) != "identity");
    EXPECT_LT(text.find("Non-positive pivot in column"), match.position());
  }
}

// The brick's factor takes about 60 MB; under an address-space limit 32 MB above what the process
// holds, the factorisation is refused before the numeric work starts (and the alarm ends a child
// that hangs instead).
int factorUnderAddressSpaceLimit(bool limited) {
  ScratchFile log("memory.log");
  exp_logDestination_v3(nullptr, log.c_str());
  symRealSPDMatrixLinSys* system = nullptr;
  models::BrickParameters brick;
  brick.nx = brick.ny = brick.nz = 16;
  models::assembleIntoLibrary(models::BrickSolid(brick), &system, false);
  if (limited) {
    alarm(60);
    std::ifstream statm("/proc/self/statm");
    rlim_t pages = 0;
    statm >> pages;
    const rlim_t limit = pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (rlim_t{32} << 20);
    const rlimit rl{limit, limit};
    setrlimit(RLIMIT_AS, &rl);
  }
  const int result = exp_factor_v3(system, "");
  const bool refused = result == -1 && lastError(system) == "Out of memory" &&
                       countOf(readFile(log.path()), "Numeric factorization needs ") == 1;
  exp_deleteMatrix_v3(&system);
  return limited ? (refused ? 0 : 1) : result;
}

TEST(MemoryCheck, AFactorTooLargeForTheProcessFailsAtOnce) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space: no limit can apply";
#endif
  EXPECT_EXIT(std::exit(factorUnderAddressSpaceLimit(true)), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(factorUnderAddressSpaceLimit(false), 0);
}

}  // namespace
}  // namespace orv::test
