// The numerical checks: their settings, their thresholds at the limit and their log lines.
#include "pipeline_support.h"

namespace {

using orv::test::countOf;
using orv::test::lastError;

class Checks : public orv::test::LoggedSystem {
 protected:
  struct Setting {
    int enable;
    double value;
    int ivalue;
  };
  Setting query(int code) {
    Setting s{-1, -99.0, -99};
    EXPECT_EQ(exp_checksSettings_v3(system.get(), &s.enable, &s.value, &s.ivalue, code), 0);
    return s;
  }
};

TEST_F(Checks, FreshObjectReportsTheDefaults) {
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 1, 0), 0);
  const Setting c1 = query(1);
  EXPECT_EQ(c1.enable, 1);
  EXPECT_EQ(c1.value, 310.0);
  EXPECT_EQ(c1.ivalue, -99);  // codes 1, 2 and 4 have no integer parameter
  const Setting c2 = query(2);
  EXPECT_EQ(c2.enable, 0);
  EXPECT_EQ(c2.value, 310.0);
  const Setting c4 = query(4);
  EXPECT_EQ(c4.enable, 0);
  EXPECT_EQ(c4.value, 0.001);
  const Setting c8 = query(8);
  EXPECT_EQ(c8.enable, 1);
  EXPECT_EQ(c8.value, 12.0);
  EXPECT_EQ(c8.ivalue, 2);
  const Setting c16 = query(16);
  EXPECT_EQ(c16.enable, 0);
  EXPECT_EQ(c16.value, -7.5);
  EXPECT_EQ(c16.ivalue, 2);
}

TEST_F(Checks, UnknownCodesAreRejectedAndNothingIsTouched) {
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 1, 0), 0);
  for (int code : {0, 3, 32, -1}) {
    int enable = 1;
    double value = 5.0;
    int ivalue = 5;
    EXPECT_EQ(exp_checksSettings_v3(system.get(), &enable, &value, &ivalue, code), -1);
    EXPECT_EQ(lastError(system.get()), "Invalid check code");
    EXPECT_EQ(enable, 1);
    EXPECT_EQ(value, 5.0);
    EXPECT_EQ(ivalue, 5);
  }
}

TEST_F(Checks, EnableZeroDisablesAndReportsInsteadOfSetting) {
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 1, 0), 0);
  int enable = 0;
  double value = 99.0;
  int ivalue = 99;
  ASSERT_EQ(exp_checksSettings_v3(system.get(), &enable, &value, &ivalue, 8), 0);
  EXPECT_EQ(enable, 0);
  EXPECT_EQ(value, 12.0);
  EXPECT_EQ(ivalue, 2);
  const Setting after = query(8);
  EXPECT_EQ(after.enable, 0);
  EXPECT_EQ(after.value, 12.0);
}

TEST_F(Checks, PositiveEnableSetsAndEnables) {
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 1, 0), 0);
  int enable = 7;
  double value = -9.0;
  int ivalue = 4;
  ASSERT_EQ(exp_checksSettings_v3(system.get(), &enable, &value, &ivalue, 16), 0);
  EXPECT_EQ(enable, 1);
  const Setting after = query(16);
  EXPECT_EQ(after.enable, 1);
  EXPECT_EQ(after.value, -9.0);
  EXPECT_EQ(after.ivalue, 4);
}

TEST_F(Checks, SettingsSurviveReinitialisation) {
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 1, 0), 0);
  ASSERT_EQ(setCheck(4, 1, 0.5), 0);
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 3, 0), 0);
  EXPECT_EQ(query(4).value, 0.5);
  EXPECT_EQ(query(4).enable, 1);
}

TEST_F(Checks, NonPositiveOrMissingDiagonalFailsThePreFactorCheck) {
  for (const double bad : {-1.0, 0.0}) {
    assembleA(3, {{0, 0, 2.0}, {1, 1, bad}, {2, 2, 3.0}});
    newLog();
    EXPECT_EQ(exp_factor_v3(system.get(), ""), -1);
    EXPECT_EQ(lastError(system.get()),
              "Pre-factor checks failed.\nMatrix is not SPD or ill conditioned");
    const std::string text = newLog();
    EXPECT_EQ(countOf(text, "Non positive diagonal element at row     1 ="), 1) << text;
    EXPECT_EQ(countOf(text, "A: Pre-factor checks completed"), 1);
    EXPECT_EQ(countOf(text, "Maximum diagonal element"), 0);
  }
  assembleA(3, {{0, 0, 2.0}, {2, 1, 1.0}, {2, 2, 3.0}});
  EXPECT_EQ(exp_factor_v3(system.get(), ""), -1);
  EXPECT_EQ(countOf(newLog(), "Non positive diagonal element at row     1 =          0"), 1);
}

TEST_F(Checks, DiagonalSpreadAboveTheLimitFailsWithItsLine) {
  assembleA(2, {{0, 0, 1.0}, {1, 1, 1000.0}});
  ASSERT_EQ(setCheck(1, 1, 2.0), 0);
  newLog();
  EXPECT_EQ(exp_factor_v3(system.get(), ""), -1);
  const std::string text = newLog();
  EXPECT_EQ(countOf(text,
                    "Maximum diagonal element at row     1 =  1.000e+03\n"
                    "Minimum diagonal element at row     0 =  1.000e+00\n"
                    "log10(Maximum/Minimum) = 3\n"
                    "log10(Maximum/Minimum) not smaller than 2\n"),
            1)
      << text;
}

TEST_F(Checks, SpreadEqualToTheLimitPassesForChecksOneTwoAndEight) {
  // diag(1, 10000): log10 of the spread of A is 4, of L's diagonal 2, of the condition 4.
  assembleA(2, {{0, 0, 1.0}, {1, 1, 10000.0}});
  ASSERT_EQ(setCheck(1, 1, 4.0), 0);
  ASSERT_EQ(setCheck(2, 1, 2.0), 0);
  ASSERT_EQ(setCheck(8, 1, 4.0, 2), 0);
  newLog();
  EXPECT_EQ(exp_factor_v3(system.get(), "identity"), 0) << lastError(system.get());
  const std::string text = newLog();
  EXPECT_EQ(countOf(text,
                    "Maximum diaginal element at row     1 (original     1) =  1.000e+02\n"
                    "Minimum diaginal element at row     0 (original     0) =  1.000e+00\n"
                    "log10(Maximum/Minimum) = 2\n"),
            1)
      << text;
  EXPECT_EQ(countOf(text, "Norm-1 condition number estimate: 10000\n"), 1) << text;

  for (auto [code, limit] : {std::pair{1, 3.999}, std::pair{2, 1.999}, std::pair{8, 3.999}}) {
    assembleA(2, {{0, 0, 1.0}, {1, 1, 10000.0}});
    ASSERT_EQ(setCheck(1, 1, 4.0), 0);
    ASSERT_EQ(setCheck(2, 1, 2.0), 0);
    ASSERT_EQ(setCheck(8, 1, 4.0, 2), 0);
    ASSERT_EQ(setCheck(code, 1, limit, 2), 0);
    EXPECT_EQ(exp_factor_v3(system.get(), "identity"), -1) << "check " << code;
  }
}

TEST_F(Checks, ResidualEqualToTheLimitFails) {
  // Perfect squares on the diagonal: L L^T reproduces A exactly, so the residual is 0.
  assembleA(3, {{0, 0, 4.0}, {1, 1, 9.0}, {2, 2, 16.0}});
  ASSERT_EQ(setCheck(4, 1, 0.0), 0);
  newLog();
  EXPECT_EQ(exp_factor_v3(system.get(), "identity"), -1);
  EXPECT_EQ(lastError(system.get()), "Post-factor checks failed. System is ill conditioned");
  const std::string text = newLog();
  EXPECT_EQ(countOf(text,
                    "Maximum diagonal residual at row     0 (original     0) =  0.000e+00\n"
                    "MaxResidual >= 1.0 / (3)\xB2\n"),
            1)
      << text;
  ASSERT_EQ(setCheck(4, 1, 1e-15), 0);
  EXPECT_EQ(exp_factor_v3(system.get(), ""), 0) << lastError(system.get());
}

TEST_F(Checks, SingleDiagonalEntryOfLGivesTheSameRowAndNoSpread) {
  assembleA(1, {{0, 0, 9.0}});
  ASSERT_EQ(setCheck(2, 1, 0.0), 0);
  ASSERT_EQ(setCheck(8, 0, 0.0), 0);
  newLog();
  EXPECT_EQ(exp_factor_v3(system.get(), ""), 0);
  EXPECT_EQ(countOf(newLog(),
                    "Maximum diaginal element at row     0 (original     0) =  3.000e+00\n"
                    "Minimum diaginal element at row     0 (original     0) =  3.000e+00\n"
                    "log10(Maximum/Minimum) = 0\n"),
            1);
}

TEST_F(Checks, EstimatorColumnsAboveNFailYetTheFactorServesTheNextSolve) {
  assembleA(1, {{0, 0, 4.0}});
  newLog();
  EXPECT_EQ(exp_factor_v3(system.get(), ""), -1);
  EXPECT_EQ(lastError(system.get()), "T must be an integer between 1 and N");
  const std::string failed = newLog();
  EXPECT_EQ(countOf(failed, "Norm1(inv(A)) estimate started\n"), 1);
  EXPECT_EQ(countOf(failed, "A: Post-factor checks completed"), 0);

  orv::test::Array x(1, 0);
  orv::test::Array b(1, 0, 8.0);
  ASSERT_EQ(exp_solve_v3(system.get(), x.address(), b.address()), 0);
  EXPECT_EQ(x[0], 2.0);
  const std::string solved = newLog();
  EXPECT_EQ(countOf(solved, "Numeric factorization"), 0) << solved;
  EXPECT_EQ(countOf(solved, "A: Right hand sides solutions started\n"), 1);
}

}  // namespace
