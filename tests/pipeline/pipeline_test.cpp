// The factorisation and solution through the exports: which steps run, the numerical checks with
// their settings, limits and log lines, and the solve with its post-solve table and refinement.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "dense.h"
#include "host.h"

namespace orv::test {
namespace {

const char* const kPreFactor = "Pre-factor checks failed.\nMatrix is not SPD or ill conditioned";
const char* const kIllConditioned = "Post-factor checks failed. System is ill conditioned";

using Pipeline = LoggedSystem;

void assembleLower(SystemHandle& system, const Lower& a) {
  ASSERT_EQ(exp_initMatrix_v3(system.address(), a.n, 0), 0);
  for (const models::Triplet& t : a.entries) {
    ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), t.row, t.col, t.value, 0), 0);
  }
  ASSERT_EQ(exp_createCCS_v3(system.get(), 0), 0);
}

TEST_F(Pipeline, FactorRunsOnlyTheMissingSteps) {
  assembleLower(system, secondDifference(3));
  newLog();
  ASSERT_EQ(exp_factor_v3(system.get(), ""), 0);
  const std::string first = newLog();
  EXPECT_EQ(countOf(first, " completed in "), 5) << first;
  EXPECT_EQ(countOf(first, "Ordering method used: metis_node\n"), 1);
  ASSERT_EQ(exp_factor_v3(system.get(), "no such method"), 0);
  EXPECT_EQ(newLog(), "");
  ASSERT_EQ(exp_setMatrixElem_v3(system.get(), 1, 0, -0.5, 0), 0);
  ASSERT_EQ(exp_factor_v3(system.get(), "identity"), 0);
  const std::string edited = newLog();
  EXPECT_EQ(countOf(edited, " completed in "), 3) << edited;
  EXPECT_EQ(countOf(edited, "A: Optimal ordering") + countOf(edited, "A: Symbolic"), 0) << edited;
}

// Codes 1, 2 and 4 have no integer parameter and leave it alone.
TEST_F(Pipeline, CheckSettingsStartAtTheirDefaultsAndUnknownCodesAreRejected) {
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 1, 0), 0);
  std::ostringstream settings;
  for (int code : {1, 2, 4, 8, 16, 0, 3}) {
    int enable = -1, ivalue = -99;
    double value = -99.0;
    const int result = exp_checksSettings_v3(system.get(), &enable, &value, &ivalue, code);
    settings << code << ": " << (result == 0 ? "" : lastError(system.get())) << enable << " "
             << value << " " << ivalue << "; ";
  }
  EXPECT_EQ(settings.str(),
            "1: 1 310 -99; 2: 0 310 -99; 4: 0 0.001 -99; 8: 1 12 2; 16: 0 -7.5 2; 0: Invalid check "
            "code-1 -99 -99; 3: Invalid check code-1 -99 -99; ");
}

// One check on at a time, factorised in the natural order. For diag(1, 10⁴) log10 of the spread
// of A's diagonal is 4, of L's diagonal 2, and of the condition number 4.
TEST_F(Pipeline, ChecksPassAtTheirLimitsAndLogTheseLines) {
  const Lower spread = diagonal({1.0, 1e4}), squares = diagonal({4.0, 9.0, 16.0});
  const struct {
    Lower a;
    int code;
    double value;
    const char* error;  // empty when the factorisation passes
    const char* lines;
  } rows[] = {
      {spread, 1, 4.0, "",
       "Maximum diagonal element at row     1 =  1.000e+04\nMinimum diagonal element at row     0 "
       "=  1.000e+00\nlog10(Maximum/Minimum) = 4\n"},
      {spread, 1, 3.999, kPreFactor, "log10(Maximum/Minimum) not smaller than 3.999\n"},
      {spread, 2, 2.0, "",
       "Maximum diaginal element at row     1 (original     1) =  1.000e+02\nMinimum diaginal "
       "element at row     0 (original     0) =  1.000e+00\nlog10(Maximum/Minimum) = 2\n"},
      {spread, 2, 1.999, kIllConditioned, "log10(Maximum/Minimum) > 1.999\n"},
      {spread, 8, 4.0, "", "Norm-1 condition number estimate: 10000\n"},
      {spread, 8, 3.999, kIllConditioned, "log10(Norm1CondNumEst) greater than 3.999\n"},
      {squares, 4, 0.0, kIllConditioned,
       "Maximum diagonal residual at row     0 (original     0) =  0.000e+00\nMaxResidual >= 1.0 / "
       "(3)\xB2\n"},
      {diagonal({4.0}), 8, 12.0, "T must be an integer between 1 and N",
       "Norm1(inv(A)) estimate started\n"},
  };
  for (const auto& row : rows) {
    assembleLower(system, row.a);
    for (int code : {1, 2, 4, 8, 16}) ASSERT_EQ(setCheck(code, 0, 0.0), 0);
    ASSERT_EQ(setCheck(row.code, 1, row.value, 2), 0);
    const int result = exp_factor_v3(system.get(), "identity");
    EXPECT_EQ(result == 0 ? "" : lastError(system.get()), row.error);
    const std::string text = newLog();
    EXPECT_EQ(countOf(text, row.lines), 1) << text;
  }
}

TEST_F(Pipeline, SolveRejectsArraysOfTheWrongShape) {
  assembleLower(system, secondDifference(3));
  const struct {
    uint32_t xRows, xColumns, bRows, bColumns;  // 0 rows: no array
    unsigned short dimensions;                  // of both; 0: as made
    const char* error;
  } rows[] = {{0, 0, 3, 0, 0, "X not allocated"},
              {3, 0, 0, 0, 0, "RHS not allocated"},
              {3, 0, 3, 3, 0, "X and RHS dimensions not consistent"},
              {4, 0, 3, 0, 0, "X and/or RHS dimensions not equal to N"},
              {3, 3, 3, 4, 0, "X and RHS have different number of columns"},
              {4, 3, 3, 3, 0, "X and/or RHS length not equal to N"},
              {3, 3, 3, 3, 3, "X dimensions are not correct"}};
  for (SAFEARRAY* none = nullptr; const auto& row : rows) {
    Array x(row.xRows, row.xColumns), b(row.bRows, row.bColumns);
    if (row.dimensions != 0) x.descriptor().cDims = b.descriptor().cDims = row.dimensions;
    const int result = exp_solve_v3(system.get(), row.xRows == 0 ? &none : x.address(),
                                    row.bRows == 0 ? &none : b.address());
    EXPECT_EQ(result == 0 ? "" : lastError(system.get()), row.error);
  }
}

TEST_F(Pipeline, PostSolveTableRefinesOnlyTheFailingColumn) {
  assembleLower(system, secondDifference(3));
  ASSERT_EQ(setCheck(16, 1, -7.5, 2), 0);
  Array x(3, 2), b(3, 2, 0.0);
  b[0] = b[1] = b[2] = 1.0;
  b[4] = std::nan("");  // a NaN load fails the check whatever refinement does
  EXPECT_EQ(exp_solve_v3(system.get(), x.address(), b.address()), -1);
  EXPECT_EQ(lastError(system.get()), kIllConditioned);
  const std::string text = newLog();
  const char* const header =
      "NRH n.      Norm-1 Ax-b      Norm-1 b       Rel Err       Err max          Test\n     0   ";
  EXPECT_EQ(countOf(text, header), 1) << text;
  // A first pass of both columns and refineMax + 1 = 3 refinement passes of the NaN column.
  EXPECT_EQ(countOf(text, "            ok\n"), 1);
  EXPECT_EQ(countOf(text, "          fail\n"), 4);
}

// With a threshold no column can meet, every column goes through every pass: the first leaves a
// relative residual below 1e-8 even on these ill-conditioned matrices, and no later pass may raise
// it beyond rounding. The random system's solution is dposv's.
TEST_F(Pipeline, RefinementNeverRaisesAColumnsResidualAndSolvesAsDposv) {
  const Lower random = randomSpd(150, 3, 0.2, 4242u);
  for (const Lower& a : {random, readMatrix("bcsstk14.mtx"), readMatrix("bcsstk18.mtx"),
                         readMatrix("s3rmt3m3.mtx")}) {
    assembleLower(system, a);
    ASSERT_EQ(setCheck(8, 0, 0.0), 0);
    ASSERT_EQ(setCheck(16, 1, -30.0, 2), 0);
    Array x(static_cast<uint32_t>(a.n), 3), b(static_cast<uint32_t>(a.n), 3);
    for (size_t k = 0; k < b.data().size(); ++k) b[k] = std::sin(1.0 + double(k));
    EXPECT_EQ(exp_solve_v3(system.get(), x.address(), b.address()), -1) << a.n;
    std::istringstream lines(newLog());
    std::vector<double> previous(3, 1e-8);
    for (std::string line; std::getline(lines, line);) {
      size_t k = 0;
      double normR = 0.0, normB = 0.0, e = 0.0;
      if (std::sscanf(line.c_str(), " %zu %lf %lf %lf", &k, &normR, &normB, &e) != 4) continue;
      EXPECT_LE(e, std::max(previous[k], 1e-15) * 1.5) << "n " << a.n << ", column " << k;
      previous[k] = e;
    }
    if (a.n != random.n) continue;
    const std::vector<double> expected = solveSpd(dense(a), a.n, b.data());
    for (size_t k = 0; k < expected.size(); ++k) EXPECT_NEAR(x[k], expected[k], 1e-12) << k;
  }
}

}  // namespace
}  // namespace orv::test
