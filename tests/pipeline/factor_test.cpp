// The factorisation pipeline: which steps run, what they log and how failures leave the factor.
#include <fenv.h>

#include "pipeline_support.h"

namespace {

using orv::test::countOf;
using orv::test::lastError;

class Factor : public orv::test::LoggedSystem {};

const char* const kPhases[] = {"Optimal ordering calculation", "Pre-factor checks",
                               "Symbolic factorization", "Numeric factorization",
                               "Post-factor checks"};

// The phases the log text starts, in the order listed above.
std::vector<std::string> startedPhases(const std::string& text) {
  std::vector<std::string> phases;
  for (const char* phase : kPhases) {
    if (text.find(std::string("A: ") + phase + " started\n") != std::string::npos) {
      phases.emplace_back(phase);
    }
  }
  return phases;
}

TEST_F(Factor, FirstRunLogsEveryStepAndASecondRunNothing) {
  assembleA(3, {{0, 0, 4.0}, {1, 0, -1.0}, {1, 1, 4.0}, {2, 1, -1.0}, {2, 2, 4.0}});
  newLog();
  ASSERT_EQ(exp_factor_v3(system.get(), ""), 0);
  const std::string first = newLog();
  EXPECT_EQ(startedPhases(first).size(), 5u) << first;
  EXPECT_EQ(countOf(first, "Ordering method used: metis_node\n"), 1);
  EXPECT_EQ(countOf(first, " completed in "), 5);
  ASSERT_EQ(exp_factor_v3(system.get(), "no such method"), 0);
  EXPECT_EQ(newLog(), "");
}

TEST_F(Factor, ValueEditRepeatsOnlyChecksAndNumericWork) {
  assembleA(3, {{0, 0, 4.0}, {1, 0, -1.0}, {1, 1, 4.0}, {2, 2, 4.0}});
  ASSERT_EQ(exp_factor_v3(system.get(), "amdv1_1"), 0);
  ASSERT_EQ(exp_setMatrixElem_v3(system.get(), 1, 0, -2.0, 0), 0);
  newLog();
  ASSERT_EQ(exp_factor_v3(system.get(), "identity"), 0);
  EXPECT_EQ(startedPhases(newLog()),
            (std::vector<std::string>{"Pre-factor checks", "Numeric factorization",
                                      "Post-factor checks"}));
}

TEST_F(Factor, BeforeConversionFailsWithoutOrdering) {
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 2, 0), 0);
  ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), 0, 0, 1.0, 0), 0);
  newLog();
  EXPECT_EQ(exp_factor_v3(system.get(), ""), -1);
  EXPECT_EQ(lastError(system.get()), "Matrix not assembled yet");
  EXPECT_EQ(newLog(), "ERROR: Matrix not assembled yet\n\n");
}

TEST_F(Factor, EveryAcceptedOrderingNameFactorises) {
  for (const char* method :
       {"", "metis_node", "metis", "metis_edge", "amdv1_1", "tree", "random", "identity"}) {
    assembleA(4, {{0, 0, 4.0}, {1, 0, -1.0}, {1, 1, 4.0}, {3, 1, -1.0}, {2, 2, 4.0}, {3, 3, 4.0}});
    newLog();
    EXPECT_EQ(exp_factor_v3(system.get(), method), 0) << method << ": " << lastError(system.get());
    const std::string expected =
        std::string("Ordering method used: ") + (method[0] == '\0' ? "metis_node" : method) + "\n";
    EXPECT_EQ(countOf(newLog(), expected), 1) << method;
  }
}

TEST_F(Factor, UnavailableOrderingFailsAfterItsLine) {
  assembleA(2, {{0, 0, 1.0}, {1, 1, 1.0}});
  newLog();
  EXPECT_EQ(exp_factor_v3(system.get(), "amd"), -1);
  EXPECT_EQ(lastError(system.get()), "Optimal ordering calculation failed");
  const std::string text = newLog();
  EXPECT_LT(text.find("taucs_ccs_amd: AMD routines not linked.\n"),
            text.find("ERROR: Optimal ordering calculation failed\n\n"));
  EXPECT_EQ(countOf(text, "Optimal ordering calculation completed"), 0);
  EXPECT_EQ(exp_factor_v3(system.get(), "bogus"), -1);
  EXPECT_EQ(countOf(newLog(), "taucs_ccs_order: invalid ordering requested (bogus)\n"), 1);
  EXPECT_EQ(exp_factor_v3(system.get(), "identity"), 0);
}

TEST_F(Factor, IndefiniteMatrixWithPositiveDiagonalFailsNumericallyAndRecoversAfterAnEdit) {
  assembleA(2, {{0, 0, 1.0}, {1, 0, 2.0}, {1, 1, 1.0}});
  newLog();
  EXPECT_EQ(exp_factor_v3(system.get(), ""), -1);
  EXPECT_EQ(lastError(system.get()), "Numeric factorization failed");
  const std::string failed = newLog();
  EXPECT_EQ(countOf(failed, "A: Pre-factor checks completed in "), 1);
  EXPECT_EQ(countOf(failed, "LL^T Factorization: Matrix is not positive definite.\n"), 1);
  EXPECT_EQ(countOf(failed, "A: Numeric factorization completed"), 0);

  ASSERT_EQ(exp_setMatrixElem_v3(system.get(), 1, 0, 0.5, 0), 0);
  EXPECT_EQ(exp_factor_v3(system.get(), ""), 0);
  EXPECT_EQ(startedPhases(newLog()),
            (std::vector<std::string>{"Pre-factor checks", "Numeric factorization",
                                      "Post-factor checks"}));
}

TEST_F(Factor, OverflowInsideTheGuardGivesInfinityInsteadOfATrap) {
  // The inverse of 1e-320 overflows in the condition estimate: without the guard the caller's
  // overflow trap would fire inside the solve.
  assembleA(2, {{0, 0, 1e-320}, {1, 1, 1.0}});
  ASSERT_EQ(setCheck(1, 0, 0.0), 0);
  feclearexcept(FE_ALL_EXCEPT);
  ASSERT_EQ(feenableexcept(FE_DIVBYZERO | FE_OVERFLOW | FE_INVALID), 0);
  const int result = exp_factor_v3(system.get(), "");
  const int traps = fegetexcept();
  const int pending = fetestexcept(FE_ALL_EXCEPT);
  fedisableexcept(FE_ALL_EXCEPT);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(lastError(system.get()), "Post-factor checks failed. System is ill conditioned");
  EXPECT_EQ(countOf(newLog(), "Norm-1 condition number estimate: inf\n"), 1);
  EXPECT_EQ(traps, FE_DIVBYZERO | FE_OVERFLOW | FE_INVALID);
  EXPECT_EQ(pending, 0);
}

}  // namespace
