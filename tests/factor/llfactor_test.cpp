#include "factor/llfactor.h"

#include <cholmod.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "allocation_hooks.h"
#include "factor/blas.h"
#include "factor/ordering.h"
#include "factor/permute.h"
#include "factor/supernodal.h"
#include "log_capture.h"
#include "test_matrices.h"

// Present when OpenBLAS is the BLAS linked in.
extern "C" int openblas_get_num_threads() __attribute__((weak));

namespace orv {
namespace {

// A matrix with its ordering, its permuted copy and its factor.
struct Factored {
  CcsRecord a;
  std::vector<int32_t> invPerm;
  CcsRecord pap;
  std::unique_ptr<llFactor> factor = std::make_unique<llFactor>();
};

Factored factorise(CcsRecord a, const char* method = "metis_node") {
  Factored f;
  f.a = std::move(a);
  f.invPerm = orderMatrix(f.a, method);
  f.pap = permuteSymmetric(f.a, f.invPerm);
  EXPECT_TRUE(f.factor->numeric(f.pap));
  return f;
}

const cholmod_factor* cholmodFactor(const llFactor& f) {
  return reinterpret_cast<const cholmod_factor*>(f.factor());
}

// L as a dense column-major n × n array, read from the supernodal storage.
std::vector<double> denseL(const llFactor& f) {
  const cholmod_factor* l = cholmodFactor(f);
  const size_t n = l->n;
  const auto* super = static_cast<const int64_t*>(l->super);
  const auto* pi = static_cast<const int64_t*>(l->pi);
  const auto* px = static_cast<const int64_t*>(l->px);
  const auto* s = static_cast<const int64_t*>(l->s);
  const auto* x = static_cast<const double*>(l->x);
  std::vector<double> dense(n * n, 0.0);
  for (size_t k = 0; k < l->nsuper; ++k) {
    const int64_t rows = pi[k + 1] - pi[k];
    for (int64_t j = 0; j < super[k + 1] - super[k]; ++j) {
      for (int64_t i = j; i < rows; ++i) {
        dense[static_cast<size_t>(s[pi[k] + i]) + n * static_cast<size_t>(super[k] + j)] =
            x[px[k] + j * rows + i];
      }
    }
  }
  return dense;
}

double maxAbs(const std::vector<double>& v) {
  double m = 0.0;
  for (double x : v) m = std::max(m, std::fabs(x));
  return m;
}

double maxAbsDifference(const double* x, const double* y, size_t count) {
  double m = 0.0;
  for (size_t i = 0; i < count; ++i) m = std::max(m, std::fabs(x[i] - y[i]));
  return m;
}

std::vector<double> randomBlock(int32_t n, int32_t nrhs, uint32_t seed) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<double> b(static_cast<size_t>(n) * static_cast<size_t>(nrhs));
  for (double& v : b) v = uniform(generator);
  return b;
}

// C = op(A) op(B) for dense n × n A and n × k B.
std::vector<double> multiply(const std::vector<double>& a, bool transposeA, const double* b, int n,
                             int k) {
  std::vector<double> c(static_cast<size_t>(n) * static_cast<size_t>(k), 0.0);
  const char ta = transposeA ? 'T' : 'N', tb = 'N';
  const double one = 1.0, zero = 0.0;
  dgemm_(&ta, &tb, &n, &k, &n, &one, a.data(), &n, b, &n, &zero, c.data(), &n);
  return c;
}

TEST(LlFactor, SupernodalFactorRebuildsThePermutedMatrix) {
  std::vector<std::pair<const char*, CcsRecord>> cases;
  cases.emplace_back("grid Laplacian 8x7x6", test::gridLaplacian(8, 7, 6, 0.0));
  cases.emplace_back("solid 4x3x3", test::solidGrid(4, 3, 3, 9u));
  cases.emplace_back("building frame 3x2x2", test::buildingFrameStiffness(3, 2, 2));
  cases.emplace_back("bcsstk14", test::readMatrixMarket(test::matrixPath("bcsstk14.mtx")));
  for (auto& [name, a] : cases) {
    SCOPED_TRACE(name);
    const Factored f = factorise(std::move(a));
    const cholmod_factor* l = cholmodFactor(*f.factor);
    ASSERT_TRUE(l->is_super);
    const auto* perm = static_cast<const int64_t*>(l->Perm);
    for (int64_t i = 0; i < static_cast<int64_t>(l->n); ++i) ASSERT_EQ(perm[i], i);

    const int n = f.pap.n;
    const std::vector<double> dl = denseL(*f.factor);
    std::vector<double> llt(dl.size());
    const char tn = 'N', tt = 'T';
    const double one = 1.0, zero = 0.0;
    dgemm_(&tn, &tt, &n, &n, &n, &one, dl.data(), &n, dl.data(), &n, &zero, llt.data(), &n);
    const std::vector<double> dense = test::toDense(f.pap);
    EXPECT_LE(maxAbsDifference(llt.data(), dense.data(), dense.size()), 1e-12 * maxAbs(dense));
  }
}

TEST(LlFactor, SolveMatchesDenseLapack) {
  std::vector<std::pair<const char*, CcsRecord>> cases;
  cases.emplace_back("grid Laplacian 9x8x7 + I", test::gridLaplacian(9, 8, 7, 1.0));
  cases.emplace_back("solid 3x3x3", test::solidGrid(3, 3, 3, 4u));
  cases.emplace_back("random SPD 400", test::randomSpd(400, 5, 0.2, 8u));
  for (auto& [name, a] : cases) {
    for (int32_t nrhs : {1, 3, 17}) {
      const uint32_t seed = 100u + static_cast<uint32_t>(nrhs);
      SCOPED_TRACE(testing::Message() << name << ", nrhs " << nrhs << ", seed " << seed);
      const Factored f = factorise(a);
      const int n = f.pap.n;
      std::vector<double> b = randomBlock(n, nrhs, seed);
      std::vector<double> expected = b;
      std::vector<double> dense = test::toDense(f.pap);
      int info = 0;
      const char lower = 'L';
      dposv_(&lower, &n, &nrhs, dense.data(), &n, expected.data(), &n, &info);
      ASSERT_EQ(info, 0);
      std::vector<double> x(b.size());
      ASSERT_TRUE(f.factor->solve(x.data(), b.data(), nrhs));
      EXPECT_LE(maxAbsDifference(x.data(), expected.data(), x.size()), 1e-10 * maxAbs(expected));
    }
  }
}

TEST(LlFactor, BlockSolveEqualsSingleColumnSolves) {
  const Factored f = factorise(test::solidGrid(6, 5, 5, 21u));
  const int32_t n = f.pap.n;
  // The widest block is split between two threads.
  const auto entries = static_cast<int64_t>(cholmodFactor(*f.factor)->xsize);
  const auto wide =
      static_cast<int32_t>(std::max<int64_t>(kSplitColumns, kSplitWork / entries + 1));
  const int blasThreads = openblas_get_num_threads ? openblas_get_num_threads() : 0;
  for (int32_t nrhs : {2, 5, kSplitColumns + 1, wide}) {
    const uint32_t seed = 7u * static_cast<uint32_t>(nrhs);
    SCOPED_TRACE(testing::Message() << "nrhs " << nrhs << ", seed " << seed);
    const std::vector<double> b = randomBlock(n, nrhs, seed);
    std::vector<double> work = b;
    std::vector<double> x(b.size());
    ASSERT_TRUE(f.factor->solve(x.data(), work.data(), nrhs));
    double worst = 0.0;
    for (int32_t c = 0; c < nrhs; ++c) {
      std::vector<double> column(b.begin() + static_cast<ptrdiff_t>(c) * n,
                                 b.begin() + static_cast<ptrdiff_t>(c + 1) * n);
      std::vector<double> single(static_cast<size_t>(n));
      ASSERT_TRUE(f.factor->solve(single.data(), column.data(), 1));
      const double* blockColumn = x.data() + static_cast<size_t>(c) * n;
      worst = std::max(
          worst, maxAbsDifference(single.data(), blockColumn, single.size()) / maxAbs(single));
    }
    std::printf("nrhs %d: largest relative difference block vs single columns %.3g\n", nrhs, worst);
    EXPECT_LE(worst, 1e-13);
    if (openblas_get_num_threads) {
      EXPECT_EQ(openblas_get_num_threads(), blasThreads);
    }
  }
}

TEST(LlFactor, SweepsAreTheTwoTriangularSolves) {
  const Factored f = factorise(test::gridLaplacian(7, 6, 5, 0.5));
  const int n = f.pap.n;
  const std::vector<double> dl = denseL(*f.factor);
  for (int32_t nrhs : {1, 12}) {
    const uint32_t seed = 55u + static_cast<uint32_t>(nrhs);
    SCOPED_TRACE(testing::Message() << "nrhs " << nrhs << ", seed " << seed);
    const std::vector<double> b = randomBlock(n, nrhs, seed);
    std::vector<double> work = b;
    std::vector<double> y(b.size()), x(b.size()), t(b.size());
    ASSERT_TRUE(f.factor->solveL(y.data(), work.data(), t.data(), nrhs));
    EXPECT_LE(maxAbsDifference(multiply(dl, false, y.data(), n, nrhs).data(), b.data(), b.size()),
              1e-13 * maxAbs(b));
    const std::vector<double> yBefore = y;
    ASSERT_TRUE(f.factor->solveLT(x.data(), y.data(), t.data(), nrhs));
    EXPECT_EQ(y, yBefore);
    EXPECT_LE(maxAbsDifference(multiply(dl, true, x.data(), n, nrhs).data(), y.data(), y.size()),
              1e-13 * maxAbs(y));
    std::vector<double> full(b.size());
    work = b;
    ASSERT_TRUE(f.factor->solve(full.data(), work.data(), nrhs));
    EXPECT_EQ(full, x);
  }
}

TEST(LlFactor, SingleColumnSweepsAllocateNothing) {
  const Factored f = factorise(test::solidGrid(3, 3, 2, 2u));
  const size_t n = static_cast<size_t>(f.pap.n);
  std::vector<double> b = randomBlock(f.pap.n, 1, 3u), y(n), x(n), t(n);
  const int64_t before = test::allocationCount();
  for (int repeat = 0; repeat < 10; ++repeat) {
    f.factor->solveLT(x.data(), b.data(), t.data(), 1);
    f.factor->solveL(y.data(), x.data(), t.data(), 1);
  }
  EXPECT_EQ(test::allocationCount(), before);
}

TEST(LlFactor, SolveWithoutWorkStorageLogsAndFails) {
  const Factored f = factorise(test::gridLaplacian(4, 4, 4, 0.0));
  const size_t n = static_cast<size_t>(f.pap.n);
  std::vector<double> b(n * 3, 1.0), x(n * 3, -7.0);
  test::LogCapture log;
  bool solved = true;
  {
    const test::AllocationFailure noMemory(0, test::AllocationFailure::Mode::fromThenOn);
    solved = f.factor->solve(x.data(), b.data(), 3);
  }
  EXPECT_FALSE(solved);
  EXPECT_EQ(log.text(), "multifrontal_supernodal_solve_llt: out of memory\n");
  EXPECT_EQ(x, std::vector<double>(n * 3, -7.0));
}

CcsRecord twoByTwo(double offDiagonal) {
  return test::fromTriplets(2, {{0, 0, 1.0}, {1, 0, offDiagonal}, {1, 1, 1.0}});
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line + "\n");
  return result;
}

// True when line is "<label> = " followed by "% 10.3f seconds (%.3f cpu)\n" output: the numbers
// are read back and the line printed again must come out the same.
bool isTimingLine(const std::string& line, const std::string& label) {
  const std::string prefix = label + " = ";
  if (line.rfind(prefix, 0) != 0) return false;
  double wall = 0.0, cpu = 0.0;
  if (std::sscanf(line.c_str() + prefix.size(), "%lf seconds (%lf cpu)", &wall, &cpu) != 2) {
    return false;
  }
  char expected[128];
  std::snprintf(expected, sizeof expected, "% 10.3f seconds (%.3f cpu)\n", wall, cpu);
  return line == prefix + expected;
}

TEST(LlFactor, IndefiniteMatrixFailsKeepsTheStructureAndRecoversAfterAnEdit) {
  llFactor factor;
  {
    test::LogCapture log;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(factor.numeric(twoByTwo(2.0)));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const std::vector<std::string> logged = lines(log.text());
    ASSERT_EQ(logged.size(), 3u) << log.text();
    EXPECT_TRUE(isTimingLine(logged[0], "Symbolic Analysis           ")) << logged[0];
    EXPECT_EQ(logged[1], "LL^T Factorization: Matrix is not positive definite.\n");
    EXPECT_EQ(logged[2], "Non-positive pivot in column 1\n");
  }
  EXPECT_TRUE(factor.hasStructure());
  EXPECT_FALSE(factor.numericReady());
  EXPECT_EQ(factor.status(), FactorStatus::notPositiveDefinite);
  EXPECT_EQ(cholmodFactor(factor)->xtype, CHOLMOD_PATTERN);

  test::LogCapture log;
  EXPECT_TRUE(factor.numeric(twoByTwo(0.5)));
  const std::vector<std::string> logged = lines(log.text());
  ASSERT_EQ(logged.size(), 1u) << log.text();
  EXPECT_TRUE(isTimingLine(logged[0], "Supernodal Multifrontal LL^T")) << logged[0];
  EXPECT_EQ(factor.status(), FactorStatus::ok);
  const std::vector<double> l = denseL(factor);
  EXPECT_DOUBLE_EQ(l[0], 1.0);
  EXPECT_DOUBLE_EQ(l[1], 0.5);
  EXPECT_DOUBLE_EQ(l[3], std::sqrt(0.75));
}

// The dense kernels test a pivot with "<= 0", which NaN passes: a matrix holding a NaN used to be
// factorised "successfully" into a factor full of NaN, and every solution with it was NaN.
TEST(LlFactor, NaNInTheMatrixWasFactorisedAsPositiveDefinite) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // NaN on the diagonal, and NaN below it (it reaches the diagonal of L two columns later).
  const CcsRecord onDiagonal =
      test::fromTriplets(3, {{0, 0, 4.0}, {1, 0, 1.0}, {1, 1, nan}, {2, 1, 1.0}, {2, 2, 4.0}});
  const CcsRecord offDiagonal =
      test::fromTriplets(3, {{0, 0, 4.0}, {1, 0, 1.0}, {1, 1, 4.0}, {2, 0, nan}, {2, 2, 4.0}});
  for (const auto& [a, column] : {std::pair{&onDiagonal, 1}, std::pair{&offDiagonal, 2}}) {
    llFactor factor;
    test::LogCapture log;
    EXPECT_FALSE(factor.numeric(*a));
    EXPECT_EQ(factor.status(), FactorStatus::notPositiveDefinite);
    EXPECT_FALSE(factor.numericReady());
    const std::vector<std::string> logged = lines(log.text());
    ASSERT_EQ(logged.size(), 3u) << log.text();
    EXPECT_EQ(logged[1], "LL^T Factorization: Matrix is not positive definite.\n");
    EXPECT_EQ(logged[2], "Non-positive pivot in column " + std::to_string(column) + "\n");
  }
}

TEST(LlFactor, ReleasingTheValuesKeepsTheStructureForTheNextFactorisation) {
  Factored f = factorise(test::solidGrid(3, 2, 2, 12u));
  const cholmod_factor* l = cholmodFactor(*f.factor);
  const auto* x = static_cast<const double*>(l->x);
  const std::vector<double> values(x, x + l->xsize);
  const size_t nsuper = l->nsuper;

  f.factor->releaseNumeric();
  EXPECT_TRUE(f.factor->hasStructure());
  EXPECT_FALSE(f.factor->numericReady());
  std::vector<double> b(static_cast<size_t>(f.pap.n), 1.0), out(b.size()), t(b.size());
  EXPECT_FALSE(f.factor->solve(out.data(), b.data(), 1));
  EXPECT_FALSE(f.factor->solveL(out.data(), b.data(), t.data(), 1));
  EXPECT_FALSE(f.factor->solveLT(out.data(), b.data(), t.data(), 1));
  double maxRes = -1.0;
  int32_t row = -1;
  EXPECT_EQ(f.factor->diagResidual(f.a, f.invPerm.data(), maxRes, row), -1);
  EXPECT_EQ(maxRes, -1.0);

  test::LogCapture log;
  ASSERT_TRUE(f.factor->numeric(f.pap));
  EXPECT_EQ(log.text().find("Symbolic Analysis"), std::string::npos);
  l = cholmodFactor(*f.factor);
  EXPECT_EQ(l->nsuper, nsuper);
  x = static_cast<const double*>(l->x);
  EXPECT_EQ(std::vector<double>(x, x + l->xsize), values);

  f.factor->release();
  EXPECT_FALSE(f.factor->hasStructure());
  EXPECT_FALSE(f.factor->numericReady());
  EXPECT_EQ(f.factor->n(), 0);
}

// Every allocation inside the analysis and the factorisation fails in turn: each failure is
// reported as out of memory, leaks nothing, and the same object factorises once memory is back.
TEST(LlFactor, EveryAllocationFailureIsOutOfMemoryAndRecoverable) {
  const CcsRecord a = test::solidGrid(2, 2, 2, 6u);
  const CcsRecord pap = permuteSymmetric(a, orderMatrix(a, "metis_node"));
  {
    // What the first run sets up once for the whole process is not a leak of a later one.
    llFactor warmUp;
    test::LogCapture log;
    ASSERT_TRUE(warmUp.numeric(pap));
  }
  int64_t failures = 0;
  for (int64_t k = 0;; ++k) {
    SCOPED_TRACE(testing::Message() << "failing allocation " << k);
    const int64_t liveBefore = test::liveAllocations();
    {
      llFactor factor;
      test::LogCapture log;
      test::AllocationFailure allocator(k);
      if (factor.numeric(pap)) break;
      ++failures;
      EXPECT_EQ(factor.status(), FactorStatus::outOfMemory);
      const std::string text = log.text();
      EXPECT_TRUE(text == "Symbolic Analysis failed: out of memory\n" ||
                  text.find("LL^T Factorization failed: out of memory\n") != std::string::npos)
          << text;
      allocator.stop();
      EXPECT_TRUE(factor.numeric(pap));
      EXPECT_EQ(factor.status(), FactorStatus::ok);
    }
    EXPECT_EQ(test::liveAllocations(), liveBefore);
  }
  std::printf("%lld allocation failures injected\n", static_cast<long long>(failures));
  EXPECT_GT(failures, 5);
}

TEST(LlFactor, OneByOne) {
  const Factored f = factorise(test::fromTriplets(1, {{0, 0, 4.0}}));
  EXPECT_EQ(f.factor->n(), 1);
  double b = 2.0, x = 0.0;
  ASSERT_TRUE(f.factor->solve(&x, &b, 1));
  EXPECT_DOUBLE_EQ(x, 0.5);
  double min = 0, max = 0;
  int32_t minRow = -1, maxRow = -1;
  f.factor->diagExtremes(min, max, minRow, maxRow);
  EXPECT_EQ(min, 2.0);
  EXPECT_EQ(max, 2.0);
  EXPECT_EQ(minRow, 0);
  EXPECT_EQ(maxRow, 0);
}

TEST(LlFactor, DiagonalExtremesOfAHandWorkedFactor) {
  // L = diag(2, 3, 2): the first of the equal minima is kept.
  const Factored f =
      factorise(test::fromTriplets(3, {{0, 0, 4.0}, {1, 1, 9.0}, {2, 2, 4.0}}), "identity");
  double min = 0, max = 0;
  int32_t minRow = -1, maxRow = -1;
  f.factor->diagExtremes(min, max, minRow, maxRow);
  EXPECT_EQ(max, 3.0);
  EXPECT_EQ(maxRow, 1);
  EXPECT_EQ(min, 2.0);
  EXPECT_EQ(minRow, 0);
}

TEST(LlFactor, DiagonalExtremesMatchDenseCholesky) {
  const Factored f = factorise(test::readMatrixMarket(test::matrixPath("bcsstk05.mtx")));
  const int n = f.pap.n;
  std::vector<double> dense = test::toDense(f.pap);
  int info = 0;
  const char lower = 'L';
  dpotrf_(&lower, &n, dense.data(), &n, &info);
  ASSERT_EQ(info, 0);
  int32_t expectedMin = 0, expectedMax = 0;
  for (int i = 1; i < n; ++i) {
    if (dense[i + n * i] < dense[expectedMin + n * expectedMin]) expectedMin = i;
    if (dense[i + n * i] > dense[expectedMax + n * expectedMax]) expectedMax = i;
  }
  double min = 0, max = 0;
  int32_t minRow = -1, maxRow = -1;
  f.factor->diagExtremes(min, max, minRow, maxRow);
  EXPECT_EQ(minRow, expectedMin);
  EXPECT_EQ(maxRow, expectedMax);
  EXPECT_NEAR(min, dense[expectedMin + n * expectedMin], 1e-12 * min);
  EXPECT_NEAR(max, dense[expectedMax + n * expectedMax], 1e-12 * max);
}

TEST(LlFactor, DiagonalResidualIsRoundingForTheFactoredMatrix) {
  const Factored f = factorise(test::readMatrixMarket(test::matrixPath("bcsstk14.mtx")));
  double maxRes = -1.0;
  int32_t row = -1;
  ASSERT_EQ(f.factor->diagResidual(f.a, f.invPerm.data(), maxRes, row), 0);
  EXPECT_GE(maxRes, 0.0);
  EXPECT_LT(maxRes, 1e-13);
  EXPECT_GE(row, 0);
  EXPECT_LT(row, f.a.n);
}

// Against a matrix that differs from the factored one, the residual is known in closed form.
TEST(LlFactor, DiagonalResidualFindsAChangedOrMissingDiagonal) {
  const Factored f = factorise(test::gridLaplacian(5, 4, 3, 0.0));
  const int32_t c = 17;
  int32_t diagonalEntry = -1;
  for (int32_t k = f.a.colptr[c]; k < f.a.colptr[c + 1]; ++k) {
    if (f.a.rowind[k] == c) diagonalEntry = k;
  }
  ASSERT_GE(diagonalEntry, 0);

  CcsRecord changed = f.a;
  changed.values[diagonalEntry] *= 3.5;  // |1 - 3.5 A(c,c) / A(c,c)| = 2.5
  double maxRes = 0.0;
  int32_t row = -1;
  ASSERT_EQ(f.factor->diagResidual(changed, f.invPerm.data(), maxRes, row), 0);
  EXPECT_NEAR(maxRes, 2.5, 1e-12);
  EXPECT_EQ(row, f.invPerm[c]);

  // Without its diagonal entry the row keeps (L Lᵀ)(p, p) = A(c, c) = 6.
  CcsRecord missing = f.a;
  missing.rowind.erase(missing.rowind.begin() + diagonalEntry);
  missing.values.erase(missing.values.begin() + diagonalEntry);
  for (int32_t j = c + 1; j <= missing.n; ++j) --missing.colptr[j];
  ASSERT_EQ(f.factor->diagResidual(missing, f.invPerm.data(), maxRes, row), 0);
  EXPECT_NEAR(maxRes, 6.0, 1e-12);
  EXPECT_EQ(row, f.invPerm[c]);
}

TEST(LlFactor, RealStiffnessMatrixSolvesToSmallBackwardError) {
  const Factored f = factorise(test::readMatrixMarket(test::matrixPath("bcsstk14.mtx")));
  const int n = f.pap.n;
  const int nrhs = 10;
  const std::vector<double> b = randomBlock(n, nrhs, 77u);
  std::vector<double> work = b, x(b.size());
  ASSERT_TRUE(f.factor->solve(x.data(), work.data(), nrhs));
  const std::vector<double> dense = test::toDense(f.pap);
  const std::vector<double> ax = multiply(dense, false, x.data(), n, nrhs);
  for (int c = 0; c < nrhs; ++c) {
    const size_t offset = static_cast<size_t>(c) * n;
    double r = 0.0, xn = 0.0;
    for (int i = 0; i < n; ++i) {
      r = std::max(r, std::fabs(ax[offset + i] - b[offset + i]));
      xn = std::max(xn, std::fabs(x[offset + i]));
    }
    EXPECT_LT(r / (maxAbs(dense) * xn), 1e-14) << "column " << c;
  }
}

}  // namespace
}  // namespace orv
