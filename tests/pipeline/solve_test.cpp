// The solution: argument checks, agreement with a dense solve, the post-solve table and
// iterative refinement.
#include <cmath>
#include <random>

#include "pipeline_support.h"

extern "C" void dposv_(const char* uplo, const int* n, const int* nrhs, double* a, const int* lda,
                       double* b, const int* ldb, int* info);

namespace {

using orv::test::Array;
using orv::test::countOf;
using orv::test::lastError;

class Solve : public orv::test::LoggedSystem {
 protected:
  // The 3 x 3 tridiagonal [4 -1 0; -1 4 -1; 0 -1 4].
  void assembleTridiagonal() {
    assembleA(3, {{0, 0, 4.0}, {1, 0, -1.0}, {1, 1, 4.0}, {2, 1, -1.0}, {2, 2, 4.0}});
  }
  int solve(Array& x, Array& b) { return exp_solve_v3(system.get(), x.address(), b.address()); }
};

TEST_F(Solve, ArgumentsAreCheckedInOrder) {
  assembleTridiagonal();
  Array vector3(3, 0);
  Array vector3b(3, 0);
  Array vector4(4, 0);
  Array block3x3(3, 3);
  Array block3x4(3, 4);
  Array block4x3(4, 3);
  Array block3x4b(3, 4);
  SAFEARRAY* none = nullptr;

  EXPECT_EQ(exp_solve_v3(system.get(), &none, vector3.address()), -1);
  EXPECT_EQ(lastError(system.get()), "X not allocated");
  EXPECT_EQ(exp_solve_v3(system.get(), nullptr, vector3.address()), -1);
  EXPECT_EQ(lastError(system.get()), "X not allocated");
  EXPECT_EQ(exp_solve_v3(system.get(), vector3.address(), &none), -1);
  EXPECT_EQ(lastError(system.get()), "RHS not allocated");
  EXPECT_EQ(solve(vector3, block3x3), -1);
  EXPECT_EQ(lastError(system.get()), "X and RHS dimensions not consistent");
  EXPECT_EQ(solve(vector4, vector3), -1);
  EXPECT_EQ(lastError(system.get()), "X and/or RHS dimensions not equal to N");
  EXPECT_EQ(solve(block3x3, block3x4), -1);
  EXPECT_EQ(lastError(system.get()), "X and RHS have different number of columns");
  EXPECT_EQ(solve(block4x3, block3x3), -1);
  EXPECT_EQ(lastError(system.get()), "X and/or RHS length not equal to N");

  Array cube(3, 3);
  Array cubeB(3, 3);
  cube.descriptor().cDims = 3;
  cubeB.descriptor().cDims = 3;
  EXPECT_EQ(solve(cube, cubeB), -1);
  EXPECT_EQ(lastError(system.get()), "X dimensions are not correct");

  EXPECT_EQ(solve(vector3, vector3b), 0);  // the object is still usable
  EXPECT_EQ(solve(block3x4b, block3x4), 0);
}

TEST_F(Solve, ZeroColumnsPassTheChecksAndSolveNothing) {
  assembleTridiagonal();
  Array x(3, 2);
  Array b(3, 2);
  x.descriptor().rgsabound[0].cElements = 0;
  b.descriptor().rgsabound[0].cElements = 0;
  newLog();
  EXPECT_EQ(solve(x, b), 0);
  const std::string text = newLog();
  EXPECT_EQ(countOf(text, "Number of right hand sides: 0\n"), 1);
  EXPECT_EQ(countOf(text, "A: Post-solve checks completed"), 1);
}

TEST_F(Solve, FirstSolveFactorisesWithTheDefaultOrderingAndLogsNoTableByDefault) {
  assembleTridiagonal();
  Array x(3, 0);
  Array b(3, 0, 1.0);
  newLog();
  ASSERT_EQ(solve(x, b), 0);
  const std::string text = newLog();
  EXPECT_LT(text.find("Ordering method used: metis_node\n"),
            text.find("A: Right hand sides solutions started\n"));
  EXPECT_LT(text.find("A: Numeric factorization completed"),
            text.find("A: Right hand sides solutions started\n"));
  EXPECT_EQ(countOf(text, "Number of right hand sides: 1\n"), 1);
  EXPECT_EQ(countOf(text, "A: Post-solve checks started\n"), 1);
  EXPECT_EQ(countOf(text, "NRH n."), 0);
  // [4 -1 0; -1 4 -1; 0 -1 4] x = 1 gives x = (5, 6, 5) / 14.
  EXPECT_NEAR(x[0], 5.0 / 14.0, 1e-15);
  EXPECT_NEAR(x[1], 6.0 / 14.0, 1e-15);
  EXPECT_NEAR(x[2], 5.0 / 14.0, 1e-15);
  EXPECT_EQ(b.data(), std::vector<double>(3, 1.0));
}

TEST_F(Solve, WellConditionedColumnsAreListedOnceAsOk) {
  assembleTridiagonal();
  ASSERT_EQ(setCheck(16, 1, -7.5, 2), 0);
  Array x(3, 2);
  Array b(3, 2, 1.0);
  newLog();
  ASSERT_EQ(solve(x, b), 0);
  const std::string text = newLog();
  EXPECT_EQ(countOf(text,
                    "Rel. Err. Norm-1 calculation started\n"
                    "NRH n.      Norm-1 Ax-b      Norm-1 b       Rel Err       Err max"
                    "          Test\n"),
            1)
      << text;
  EXPECT_EQ(countOf(text, "            ok\n"), 2) << text;
  EXPECT_EQ(countOf(text, "fail"), 0);
  EXPECT_EQ(countOf(text, "   3.000e+00   "), 2) << text;  // the 1-norm of each column of B
  EXPECT_EQ(countOf(text, "Rel. Err. Norm-1 calculation completed\n"), 1);
}

TEST_F(Solve, ZeroColumnFailsInEveryPassAndTheSolveFailsKeepingTheSolution) {
  assembleTridiagonal();
  ASSERT_EQ(setCheck(16, 1, -7.5, 2), 0);
  Array x(3, 2);
  Array b(3, 2, 1.0);
  for (int r = 0; r < 3; ++r) b[3 + r] = 0.0;
  newLog();
  EXPECT_EQ(solve(x, b), -1);
  EXPECT_EQ(lastError(system.get()), "Post-factor checks failed. System is ill conditioned");
  const std::string text = newLog();
  // One first pass and refineMax + 1 = 3 refinement passes, the good column listed only once.
  EXPECT_EQ(countOf(text, "     1      "), 4) << text;
  EXPECT_EQ(countOf(text, "fail\n"), 4);
  EXPECT_EQ(countOf(text, "ok\n"), 1);
  EXPECT_NEAR(x[1], 6.0 / 14.0, 1e-15);
  EXPECT_EQ(x[3], 0.0);
  EXPECT_EQ(x[5], 0.0);
}

TEST_F(Solve, NegativeRefineMaxListsAFailingColumnOnce) {
  assembleTridiagonal();
  ASSERT_EQ(setCheck(16, 1, -7.5, -1), 0);
  Array x(3, 0);
  Array b(3, 0, 0.0);
  newLog();
  EXPECT_EQ(solve(x, b), -1);
  EXPECT_EQ(countOf(newLog(), "fail\n"), 1);
}

TEST_F(Solve, ConsecutiveSolvesWithDifferentWidthsAlsoAfterAFailure) {
  assembleTridiagonal();
  ASSERT_EQ(setCheck(16, 1, -7.5, 0), 0);
  Array x5(3, 5);
  Array b5(3, 5, 1.0);
  ASSERT_EQ(solve(x5, b5), 0);
  Array x1(3, 1);
  Array b1(3, 1, 0.0);
  EXPECT_EQ(solve(x1, b1), -1);
  Array x3(3, 3);
  Array b3(3, 3, 14.0);
  ASSERT_EQ(solve(x3, b3), 0) << lastError(system.get());
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(x3[3 * k], 5.0, 1e-13);
    EXPECT_NEAR(x3[3 * k + 1], 6.0, 1e-13);
  }
}

TEST_F(Solve, NormEstimateOfAOneByOneRejectsTwoColumnsWhenTheCheckIsOn) {
  assembleA(1, {{0, 0, 2.0}});
  ASSERT_EQ(setCheck(8, 0, 0.0), 0);
  ASSERT_EQ(setCheck(16, 1, -7.5, 2), 0);
  Array x(1, 0);
  Array b(1, 0, 1.0);
  EXPECT_EQ(solve(x, b), -1);
  EXPECT_EQ(lastError(system.get()), "T must be an integer between 1 and N");
  EXPECT_NEAR(x[0], 0.5, 1e-15);
}

// A random sparse SPD matrix: a diagonally dominant band with random off-diagonal entries.
TEST_F(Solve, AgreesWithADenseSolveOnARandomWellConditionedSystem) {
  const unsigned seed = 4242;
  SCOPED_TRACE("seed " + std::to_string(seed));
  const int n = 150;
  const int nrhs = 7;
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  std::uniform_int_distribution<int> offset(1, 20);
  std::vector<double> dense(static_cast<size_t>(n) * n, 0.0);
  ASSERT_EQ(exp_initMatrix_v3(system.address(), n, 0), 0);
  for (int j = 0; j < n; ++j) {
    for (int k = 0; k < 3; ++k) {
      const int i = j + offset(random);
      if (i >= n) continue;
      const double v = value(random);
      ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), i, j, v, 0), 0);
      dense[static_cast<size_t>(j) * n + i] += v;
      dense[static_cast<size_t>(i) * n + j] += v;
    }
  }
  for (int j = 0; j < n; ++j) {
    ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), j, j, 8.0, 0), 0);
    dense[static_cast<size_t>(j) * n + j] += 8.0;
  }
  ASSERT_EQ(exp_createCCS_v3(system.get(), 0), 0);
  ASSERT_EQ(setCheck(16, 1, -12.0, 2), 0);

  Array x(n, nrhs);
  Array b(n, nrhs);
  for (double& v : b.data()) v = value(random);
  std::vector<double> expected = b.data();
  ASSERT_EQ(solve(x, b), 0) << lastError(system.get());

  int info = 0;
  const int ld = n;
  dposv_("L", &n, &nrhs, dense.data(), &ld, expected.data(), &ld, &info);
  ASSERT_EQ(info, 0);
  for (int k = 0; k < nrhs; ++k) {
    double error = 0.0;
    double size = 0.0;
    for (int i = 0; i < n; ++i) {
      error = std::max(error, std::fabs(x[static_cast<size_t>(k) * n + i] -
                                        expected[static_cast<size_t>(k) * n + i]));
      size = std::max(size, std::fabs(expected[static_cast<size_t>(k) * n + i]));
    }
    EXPECT_LT(error / size, 1e-10) << "column " << k;
  }
}

}  // namespace
