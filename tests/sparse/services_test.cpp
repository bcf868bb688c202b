// The product, diagonal statistics, dump and 1-norm, against hand-worked values and a dense
// computation.
#include <fenv.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "export_helpers.h"
#include "test_support.h"

namespace {

using orv::test::countOf;
using orv::test::lastError;
using orv::test::readFile;
using orv::test::ScratchFile;
using orv::test::SystemHandle;

// The 2 x 2 matrix [4 -1; -1 3], stored as its lower triangle, as A and as B.
class TwoByTwo : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(exp_logDestination_v3(nullptr, log.c_str()), 0);
    ASSERT_EQ(exp_initMatrix_v3(system.address(), 2, 0), 0);
    ASSERT_EQ(exp_initMatrix_v3(system.address(), 2, 1), 0);
    for (int which : {0, 1}) {
      ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), 0, 0, 4.0, which), 0);
      ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), 1, 0, -1.0, which), 0);
      ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), 1, 1, 3.0, which), 0);
      ASSERT_EQ(exp_createCCS_v3(system.get(), which), 0);
    }
  }
  void TearDown() override { exp_logDestination_v3(nullptr, ""); }

  ScratchFile log{"services.log"};
  SystemHandle system;
};

TEST_F(TwoByTwo, ProductIsTheSameForAAndB) {
  const double x[2] = {1.0, 2.0};
  for (int which : {0, 1}) {
    double y[2] = {99.0, 99.0};  // overwritten, not accumulated into
    ASSERT_EQ(exp_multVector_v3(system.get(), x, y, which), 0);
    EXPECT_EQ(y[0], 2.0);
    EXPECT_EQ(y[1], 5.0);
  }
  EXPECT_EQ(x[0], 1.0);
  EXPECT_EQ(x[1], 2.0);
}

TEST_F(TwoByTwo, MaxDiagIsCachedUntilAnEdit) {
  double maxDiag = 0.0;
  ASSERT_EQ(exp_getMaxDiag_v3(system.get(), &maxDiag), 0);
  EXPECT_EQ(maxDiag, 4.0);
  ASSERT_EQ(exp_setMatrixElem_v3(system.get(), 1, 1, 5.0, 0), 0);
  ASSERT_EQ(exp_getMaxDiag_v3(system.get(), &maxDiag), 0);
  EXPECT_EQ(maxDiag, 5.0);
}

TEST_F(TwoByTwo, DumpHoldsTheLowerTriangleWithOneBasedIndices) {
  ScratchFile file("a.ijv");
  ASSERT_EQ(exp_writeMatrix_v3(system.get(), file.c_str(), 0), 0);
  EXPECT_EQ(readFile(file.path()),
            "2 3\n"
            "1 1 4.00000000000000000e+00\n"
            "2 1 -1.00000000000000000e+00\n"
            "2 2 3.00000000000000000e+00\n");
}

TEST_F(TwoByTwo, WritingTheDumpTwiceKeepsOnlyTheSecond) {
  ScratchFile file("a.ijv");
  ASSERT_EQ(exp_writeMatrix_v3(system.get(), file.c_str(), 0), 0);
  ASSERT_EQ(exp_setMatrixElem_v3(system.get(), 0, 0, 8.0, 1), 0);
  ASSERT_EQ(exp_writeMatrix_v3(system.get(), file.c_str(), 1), 0);
  EXPECT_EQ(readFile(file.path()),
            "2 3\n"
            "1 1 8.00000000000000000e+00\n"
            "2 1 -1.00000000000000000e+00\n"
            "2 2 3.00000000000000000e+00\n");
}

TEST_F(TwoByTwo, DumpThatCannotBeOpenedIsLoggedWithoutErrorText) {
  ScratchFile file("a.ijv");
  const std::string bad = file.folder() + "/no/such.ijv";
  EXPECT_EQ(exp_writeMatrix_v3(system.get(), bad.c_str(), 0), -1);
  EXPECT_EQ(lastError(system.get()), "");
  EXPECT_EQ(countOf(readFile(log.path()), "Could not open ijv file " + bad + "\n"), 1);
}

TEST_F(TwoByTwo, GuardedExportMasksTrapsAndRestoresTheCallersOnes) {
  const double x[2] = {1e308, 0.0};
  double y[2] = {0.0, 0.0};
  feclearexcept(FE_ALL_EXCEPT);
  ASSERT_EQ(feenableexcept(FE_OVERFLOW | FE_DIVBYZERO), 0);
  const int result = exp_multVector_v3(system.get(), x, y, 0);
  const int traps = fegetexcept();
  const int pending = fetestexcept(FE_ALL_EXCEPT);
  fedisableexcept(FE_ALL_EXCEPT);
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(std::isinf(y[0]));  // 4e308 overflows
  EXPECT_EQ(traps, FE_OVERFLOW | FE_DIVBYZERO);
  EXPECT_EQ(pending, 0);
}

class Unconverted : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(exp_initMatrix_v3(system.address(), 2, 0), 0);
    ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), 0, 0, 1.0, 0), 0);
  }
  SystemHandle system;
};

TEST_F(Unconverted, ServicesFailWithAClearText) {
  double maxDiag = 0.0;
  double x[2] = {1.0, 1.0};
  double y[2];
  ScratchFile file("a.ijv");
  EXPECT_EQ(exp_writeMatrix_v3(system.get(), file.c_str(), 0), -1);
  EXPECT_EQ(lastError(system.get()), "Matrix is not assembled");
  EXPECT_EQ(exp_multVector_v3(system.get(), x, y, 0), -1);
  EXPECT_EQ(lastError(system.get()), "Matrix is not assembled");
  EXPECT_EQ(exp_multVector_v3(system.get(), x, y, 1), -1);
  EXPECT_EQ(lastError(system.get()), "Matrix is not assembled");
  EXPECT_EQ(exp_getMaxDiag_v3(system.get(), &maxDiag), -1);
  EXPECT_EQ(lastError(system.get()), "Matrix is not assembled");
}

TEST(DiagonalStatistics, NonPositiveAndMissingDiagonalEntriesAreLogged) {
  ScratchFile log("diag.log");
  ASSERT_EQ(exp_logDestination_v3(nullptr, log.c_str()), 0);
  SystemHandle system;
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 5, 0), 0);
  const double diagonal[] = {1.0, 6.0, 0.0, -2.0};  // row 4 has no diagonal entry
  for (int k = 0; k < 4; ++k) {
    ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), k, k, diagonal[k], 0), 0);
  }
  ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), 4, 0, 1.0, 0), 0);
  ASSERT_EQ(exp_createCCS_v3(system.get(), 0), 0);
  double maxDiag = 0.0;
  ASSERT_EQ(exp_getMaxDiag_v3(system.get(), &maxDiag), 0);
  ASSERT_EQ(exp_getMaxDiag_v3(system.get(), &maxDiag), 0);  // cached: logged once
  exp_logDestination_v3(nullptr, "");
  EXPECT_EQ(maxDiag, 6.0);
  const std::string text = readFile(log.path());
  EXPECT_EQ(
      countOf(text, "Non positive diagonal element at row     2 =          0 (matrix not SPD)\n"),
      1);
  EXPECT_EQ(
      countOf(text, "Non positive diagonal element at row     3 =         -2 (matrix not SPD)\n"),
      1);
  EXPECT_EQ(
      countOf(text, "Non positive diagonal element at row     4 =          0 (matrix not SPD)\n"),
      1);
  EXPECT_EQ(countOf(text, "Non positive diagonal element"), 3);
}

// A random sparse symmetric matrix assembled with duplicates, and the same in dense form.
struct RandomMatrix {
  int n;
  std::vector<double> dense;  // n x n, full
};

RandomMatrix assembleRandom(symRealSPDMatrixLinSys* system, int n, int which, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> index(0, n - 1);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  RandomMatrix m{n, std::vector<double>(static_cast<size_t>(n) * n, 0.0)};
  for (int k = 0; k < 6 * n; ++k) {
    int i = index(random);
    int j = index(random);
    if (i < j) std::swap(i, j);
    const double v = value(random);
    EXPECT_EQ(exp_incrMatrixElem_v3(system, i, j, v, which), 0);
    m.dense[static_cast<size_t>(i) * n + j] += v;
    if (i != j) m.dense[static_cast<size_t>(j) * n + i] += v;
  }
  EXPECT_EQ(exp_createCCS_v3(system, which), 0);
  return m;
}

TEST(DenseOracle, ProductMatchesADenseProductForBothMatrices) {
  const unsigned seed = 20261206;
  SCOPED_TRACE("seed " + std::to_string(seed));
  const int n = 200;
  SystemHandle system;
  ASSERT_EQ(exp_initMatrix_v3(system.address(), n, 0), 0);
  ASSERT_EQ(exp_initMatrix_v3(system.address(), n, 1), 0);
  const RandomMatrix a = assembleRandom(system.get(), n, 0, seed);
  const RandomMatrix b = assembleRandom(system.get(), n, 1, seed + 1);
  std::mt19937 random(seed + 2);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  std::vector<double> x(n);
  for (double& v : x) v = value(random);
  for (const auto& [which, m] : {std::pair{0, &a}, std::pair{1, &b}}) {
    std::vector<double> y(n);
    ASSERT_EQ(exp_multVector_v3(system.get(), x.data(), y.data(), which), 0);
    for (int i = 0; i < n; ++i) {
      double expected = 0.0;
      for (int j = 0; j < n; ++j) expected += m->dense[static_cast<size_t>(i) * n + j] * x[j];
      EXPECT_NEAR(y[i], expected, 1e-13 * n) << "matrix " << which << " row " << i;
    }
  }
}

}  // namespace
