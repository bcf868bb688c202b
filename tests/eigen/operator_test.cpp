// The standard-form operator and the dense standard-form matrix, against dense facts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "library_pair.h"

namespace orv::test {
namespace {

std::vector<double> randomVector(int n, uint32_t seed) {
  std::cout << "vector seed " << seed << '\n';
  std::mt19937 generator(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<double> x(static_cast<size_t>(n));
  for (double& v : x) v = uniform(generator);
  return x;
}

// A sparse symmetric matrix with about three off-diagonal entries per column in [-1, 1] and a
// diagonal that dominates its row by margin, so positive definite.
Lower randomDominant(int n, double margin, uint32_t seed) {
  std::cout << "matrix seed " << seed << '\n';
  std::mt19937 generator(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::uniform_int_distribution<int> row(0, n - 1);
  Lower a{n, {}};
  std::vector<double> rowSum(static_cast<size_t>(n), 0.0);
  for (int j = 0; j < n; ++j) {
    for (int e = 0; e < 3; ++e) {
      const int i = row(generator);
      if (i <= j) continue;
      const double v = uniform(generator);
      a.entries.push_back({i, j, v});
      rowSum[static_cast<size_t>(i)] += std::fabs(v);
      rowSum[static_cast<size_t>(j)] += std::fabs(v);
    }
  }
  for (int i = 0; i < n; ++i) a.entries.push_back({i, i, rowSum[static_cast<size_t>(i)] + margin});
  return a;
}

// B′ = P B Pᵀ in A's ordering, as the driver builds it.
std::unique_ptr<ccsSymMatrix> permuted(const ccsSymSPDMatrix& A, const ccsSymMatrix& B) {
  auto bp = std::make_unique<ccsSymMatrix>('B');
  bp->adoptCCS(std::make_unique<CcsRecord>(permuteSymmetric(B.requireCcs(), A.invPerm())));
  return bp;
}

double maxAbsDifference(const std::vector<double>& a, const std::vector<double>& b) {
  double d = 0.0;
  for (size_t i = 0; i < a.size(); ++i) d = std::max(d, std::fabs(a[i] - b[i]));
  return d;
}

TEST(LPBPTLT, WithBEqualToAIsTheIdentityAndIgnoresPreviousContents) {
  const Pair pair = readPair("bcsstk05.mtx", "bcsstk05.mtx");
  LibraryPair lib(pair);
  lib.A.factor("");
  const auto bp = permuted(lib.A, lib.B);
  const int n = pair.k.n;
  std::vector<double> workB(static_cast<size_t>(n));
  std::vector<double> workSolve(static_cast<size_t>(n));
  const LPBPTLT op{workB.data(), workSolve.data(), bp.get(), &lib.A.L()};
  EXPECT_EQ(op.rows(), n);
  const std::vector<double> x = randomVector(n, 42u);
  const std::vector<double> xCopy = x;
  std::vector<double> y(static_cast<size_t>(n), 0.0);
  op.multOPx(x.data(), y.data());
  EXPECT_EQ(x, xCopy);
  EXPECT_LT(maxAbsDifference(y, x), 1e-11);

  // Garbage in y and both work vectors changes nothing, bit for bit.
  std::vector<double> again(static_cast<size_t>(n), std::numeric_limits<double>::quiet_NaN());
  std::fill(workB.begin(), workB.end(), 1e300);
  std::fill(workSolve.begin(), workSolve.end(), -7.0);
  op.perform_op(x.data(), again.data());
  EXPECT_EQ(again, y);
}

TEST(LPBPTLT, WithTheIdentityForAIsTheProductWithPermutedB) {
  const Lower b = readMatrix("lund_b.mtx");
  const Pair pair{diagonal(std::vector<double>(static_cast<size_t>(b.n), 1.0)), b};
  LibraryPair lib(pair);
  lib.A.factor("");
  const auto bp = permuted(lib.A, lib.B);
  const int n = b.n;
  std::vector<double> workB(static_cast<size_t>(n));
  std::vector<double> workSolve(static_cast<size_t>(n));
  const LPBPTLT op{workB.data(), workSolve.data(), bp.get(), &lib.A.L()};
  const std::vector<double> x = randomVector(n, 4242u);
  std::vector<double> y(static_cast<size_t>(n));
  op.multOPx(x.data(), y.data());

  // x lives in the factored ordering: x_original[i] = x[invPerm[i]].
  const std::vector<int32_t>& invPerm = lib.A.invPerm();
  std::vector<double> xOriginal(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) xOriginal[i] = x[invPerm[i]];
  const std::vector<double> bx = multiply(dense(b), n, xOriginal.data());
  double worst = 0.0;
  for (int i = 0; i < n; ++i) worst = std::max(worst, std::fabs(y[invPerm[i]] - bx[i]));
  double largest = 0.0;
  for (double v : bx) largest = std::max(largest, std::fabs(v));
  EXPECT_LT(worst, 1e-14 * largest);
}

TEST(CreateDenseZ, WithBEqualToAIsTheIdentity) {
  const Pair pair = readPair("bcsstk05.mtx", "bcsstk05.mtx");
  LibraryPair lib(pair);
  lib.A.factor("");
  const auto bp = permuted(lib.A, lib.B);
  const int n = pair.k.n;
  Log log;
  std::vector<double> z;
  createDenseZ(lib.A.L(), z, *bp);
  EXPECT_EQ(log.fresh(),
            "Creating dense matrix B\nDense matrix B created\nCreating dense matrix Z\n"
            "Dense matrix Z created\n");
  ASSERT_EQ(z.size(), static_cast<size_t>(n) * n);
  std::vector<double> identity(z.size(), 0.0);
  for (int i = 0; i < n; ++i) identity[static_cast<size_t>(i) * (n + 1)] = 1.0;
  EXPECT_LT(maxAbsDifference(z, identity), 1e-11);

  // All eigenvalues are 1 to working precision, so no index cut separates them: the search
  // still returns every eigenvalue asked for, with and without vectors.
  const std::vector<double> zCopy = z;
  for (const bool wantVectors : {true, false}) {
    for (const int nev : {1, 5, 10, n}) {
      z = zCopy;
      std::vector<double> w(static_cast<size_t>(n));
      std::vector<double> u(static_cast<size_t>(n) * nev);
      int m = nev;
      ASSERT_EQ(denseEigenSearch(z.data(), w.data(), u.data(), n, nev, &m, wantVectors), 0)
          << "nev " << nev;
      ASSERT_EQ(m, nev);
      for (int k = 0; k < m; ++k) EXPECT_NEAR(w[k], 1.0, 1e-11);
      if (!wantVectors) continue;
      for (int p = 0; p < nev; ++p) {
        for (int q = 0; q < nev; ++q) {
          const double uu =
              dot(u.data() + static_cast<size_t>(p) * n, u.data() + static_cast<size_t>(q) * n, n);
          EXPECT_NEAR(uu, p == q ? 1.0 : 0.0, 1e-12);
        }
      }
    }
  }
}

// n = 25 takes blocks of 10, 10 and 5 columns; the spectrum of Z is that of the pair, μ = 1/λ.
TEST(CreateDenseZ, SpectrumIsTheReciprocalOfThePairsAcrossUnevenBlocks) {
  const int n = 25;
  const Pair pair{randomDominant(n, 0.5, 2025u), randomDominant(n, 0.1, 2026u)};
  LibraryPair lib(pair);
  lib.A.factor("");
  const auto bp = permuted(lib.A, lib.B);
  std::vector<double> z;
  createDenseZ(lib.A.L(), z, *bp);
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      EXPECT_NEAR(z[i + j * n], z[j + i * n], 1e-14 * std::fabs(z[i + j * n]) + 1e-15);
    }
  }
  std::vector<double> mu(static_cast<size_t>(n));
  std::vector<double> unused(1);
  int m = n;
  ASSERT_EQ(denseEigenSearch(z.data(), mu.data(), unused.data(), n, n, &m, false), 0);
  ASSERT_EQ(m, n);
  const std::vector<double> lambda = smallestEigenvalues(pair, n);
  for (int k = 0; k < n; ++k) EXPECT_NEAR(1.0 / mu[n - 1 - k], lambda[k], 1e-12 * lambda[k]);
}

TEST(DenseEigenSearch, LargestEigenpairsOfADiagonalMatrixInAscendingOrder) {
  const int n = 12;
  std::vector<double> z(static_cast<size_t>(n) * n, 0.0);
  for (int i = 0; i < n; ++i) z[static_cast<size_t>(i) * (n + 1)] = (i * 5) % n + 1.0;
  std::vector<double> w(static_cast<size_t>(n), 0.0);
  std::vector<double> u(static_cast<size_t>(n) * 3, 0.0);
  int m = 3;
  ASSERT_EQ(denseEigenSearch(z.data(), w.data(), u.data(), n, 3, &m, true), 0);
  ASSERT_EQ(m, 3);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(w[k], 10.0 + k, 1e-13);
    // Value v sits at the i with (5 i) mod 12 + 1 = v.
    int at = 0;
    while ((at * 5) % n + 1 != 10 + k) ++at;
    EXPECT_NEAR(std::fabs(u[static_cast<size_t>(k) * n + at]), 1.0, 1e-13);
  }
}

TEST(DenseEigenSearch, InvalidSizesAreReportedWithoutCallingLapack) {
  std::vector<double> z(4, 1.0);
  std::vector<double> w(2);
  std::vector<double> u(4);
  int m = 0;
  EXPECT_EQ(denseEigenSearch(z.data(), w.data(), u.data(), 0, 1, &m, true), -4);
  EXPECT_EQ(denseEigenSearch(z.data(), w.data(), u.data(), 2, 0, &m, true), -9);
  EXPECT_EQ(denseEigenSearch(z.data(), w.data(), u.data(), 2, 3, &m, true), -9);
}

}  // namespace
}  // namespace orv::test
