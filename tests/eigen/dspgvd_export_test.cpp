// exp_LAPACK_DSPGVD_v3: hand-worked cases, the defining relations on a random pair, and the
// failures that return a code without any text.
#include <gtest/gtest.h>

#include <fenv.h>

#include <cmath>
#include <cstdint>
#include <iostream>
#include <random>
#include <vector>

#include "export_helpers.h"

namespace orv::test {
namespace {

// Element (i, j), i >= j, of a packed lower triangle of order n.
double& packed(std::vector<double>& p, int n, int i, int j) {
  return p[static_cast<size_t>(i - j + j * (2 * n - j + 1) / 2)];
}

TEST(DspgvdExport, OneByOne) {
  const std::vector<double> ap = {4.0};
  const std::vector<double> bpSource = {2.0};
  std::vector<double> bp = {0.0};
  std::vector<double> w = {0.0};
  std::vector<double> z = {0.0};
  EXPECT_EQ(exp_LAPACK_DSPGVD_v3(1, 0, ap.data(), bpSource.data(), bp.data(), w.data(), z.data()),
            0);
  EXPECT_DOUBLE_EQ(w[0], 2.0);
  EXPECT_DOUBLE_EQ(std::fabs(z[0]), 1.0 / std::sqrt(2.0));
  EXPECT_DOUBLE_EQ(bp[0], std::sqrt(2.0));
  EXPECT_EQ(ap[0], 4.0);
  EXPECT_EQ(bpSource[0], 2.0);
}

// A z = λ B z and Zᵀ B Z = I for a random pair; with bpReady set bp is taken as it stands.
TEST(DspgvdExport, EigenpairsOfARandomPairInBothWaysOfPassingB) {
  const int n = 6;
  const uint32_t seed = 31337u;
  std::cout << "pair seed " << seed << '\n';
  std::mt19937 generator(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  const size_t size = static_cast<size_t>(n * (n + 1) / 2);
  std::vector<double> ap(size);
  std::vector<double> bpSource(size);
  for (int j = 0; j < n; ++j) {
    for (int i = j; i < n; ++i) {
      packed(ap, n, i, j) = uniform(generator) + (i == j ? 8.0 : 0.0);
      packed(bpSource, n, i, j) = 0.3 * uniform(generator) + (i == j ? 3.0 : 0.0);
    }
  }
  const std::vector<double> apCopy = ap;
  const std::vector<double> bCopy = bpSource;
  auto full = [n](std::vector<double> p, int i, int j) {
    return i >= j ? packed(p, n, i, j) : packed(p, n, j, i);
  };
  for (int ready = 0; ready < 2; ++ready) {
    std::vector<double> bp = ready ? bCopy : std::vector<double>(size, -7.0);
    std::vector<double> w(n);
    std::vector<double> z(static_cast<size_t>(n) * n);
    const double* source = ready ? nullptr : bpSource.data();
    ASSERT_EQ(exp_LAPACK_DSPGVD_v3(n, ready, ap.data(), source, bp.data(), w.data(), z.data()), 0);
    EXPECT_EQ(ap, apCopy);
    EXPECT_EQ(bpSource, bCopy);
    for (int k = 1; k < n; ++k) EXPECT_LE(w[k - 1], w[k]);
    for (int p = 0; p < n; ++p) {
      for (int q = 0; q < n; ++q) {
        double zbz = 0.0;
        for (int i = 0; i < n; ++i) {
          for (int j = 0; j < n; ++j) zbz += z[i + p * n] * full(bCopy, i, j) * z[j + q * n];
        }
        EXPECT_NEAR(zbz, p == q ? 1.0 : 0.0, 1e-13);
      }
      for (int i = 0; i < n; ++i) {
        double residual = 0.0;
        for (int j = 0; j < n; ++j) {
          residual += (full(apCopy, i, j) - w[p] * full(bCopy, i, j)) * z[j + p * n];
        }
        EXPECT_NEAR(residual, 0.0, 1e-13);
      }
    }
  }
}

// B = diag(1, -1): its leading minor of order 2 is not positive definite, so INFO = n + 2.
TEST(DspgvdExport, IndefiniteBReturnsInfoAboveNWithoutTextOrTrap) {
  const std::vector<double> ap = {1.0, 0.0, 1.0};
  const std::vector<double> bpSource = {1.0, 0.0, -1.0};
  std::vector<double> bp(3);
  std::vector<double> w(2);
  std::vector<double> z(4);
  EXPECT_EQ(lastError(nullptr), "");
  feclearexcept(FE_ALL_EXCEPT);
  const int traps = FE_INVALID | FE_DIVBYZERO;
  feenableexcept(traps);
  const int32_t info =
      exp_LAPACK_DSPGVD_v3(2, 0, ap.data(), bpSource.data(), bp.data(), w.data(), z.data());
  const int trapsAfter = fegetexcept();
  const int pending = fetestexcept(FE_ALL_EXCEPT);
  fedisableexcept(traps);
  EXPECT_EQ(info, 4);
  EXPECT_EQ(trapsAfter, traps);
  EXPECT_EQ(pending, 0);
  EXPECT_EQ(ap, (std::vector<double>{1.0, 0.0, 1.0}));
  EXPECT_EQ(bpSource, (std::vector<double>{1.0, 0.0, -1.0}));
  EXPECT_EQ(lastError(nullptr), "");
}

TEST(DspgvdExport, SizesAndNullPointersAreAnsweredWithoutTouchingMemory) {
  std::vector<double> ap = {4.0};
  std::vector<double> bp = {2.0};
  std::vector<double> w = {-7.0};
  std::vector<double> z = {-7.0};
  testing::internal::CaptureStdout();
  EXPECT_EQ(exp_LAPACK_DSPGVD_v3(0, 0, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(exp_LAPACK_DSPGVD_v3(-1, 0, ap.data(), bp.data(), bp.data(), w.data(), z.data()), -4);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(exp_LAPACK_DSPGVD_v3(1, 0, nullptr, bp.data(), bp.data(), w.data(), z.data()), -1);
  EXPECT_EQ(exp_LAPACK_DSPGVD_v3(1, 0, ap.data(), nullptr, bp.data(), w.data(), z.data()), -1);
  EXPECT_EQ(exp_LAPACK_DSPGVD_v3(1, 1, ap.data(), nullptr, nullptr, w.data(), z.data()), -1);
  EXPECT_EQ(exp_LAPACK_DSPGVD_v3(1, 1, ap.data(), nullptr, bp.data(), nullptr, z.data()), -1);
  EXPECT_EQ(exp_LAPACK_DSPGVD_v3(1, 1, ap.data(), nullptr, bp.data(), w.data(), nullptr), -1);
  EXPECT_EQ(w[0], -7.0);
  EXPECT_EQ(z[0], -7.0);
  EXPECT_EQ(bp[0], 2.0);
  // The workspace DSPGVD would need no longer fits its 32-bit sizes.
  EXPECT_EQ(exp_LAPACK_DSPGVD_v3(40000, 1, ap.data(), nullptr, bp.data(), w.data(), z.data()), -1);
  EXPECT_EQ(lastError(nullptr), "");
  // bpSource may be bp itself.
  EXPECT_EQ(exp_LAPACK_DSPGVD_v3(1, 0, ap.data(), bp.data(), bp.data(), w.data(), z.data()), 0);
  EXPECT_DOUBLE_EQ(w[0], 2.0);
}

}  // namespace
}  // namespace orv::test
