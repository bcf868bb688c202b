// The back-transformation on hand-worked eigenvalue lists and on A = diag(1, 4, 9, 16), whose
// factor is L = diag(1, 2, 3, 4) in some ordering, so that x = Pᵀ L⁻ᵀ u is known exactly.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "library_pair.h"

namespace orv::test {
namespace {

class BackTransform : public ::testing::Test {
 protected:
  void SetUp() override { lib.A.factor(""); }

  // Back-transforms mu (values only) into values, which starts filled with -7.
  int run(const std::vector<double>& mu, int nev) {
    values.assign(mu.size() + 1, -7.0);
    return backTransform(lib.A.L(), lib.A.invPerm(), static_cast<int>(mu.size()), nev, mu.data(),
                         values.data(), nullptr, nullptr);
  }

  LibraryPair lib{Pair{diagonal({1.0, 4.0, 9.0, 16.0}), diagonal({1.0, 1.0, 1.0, 1.0})}};
  std::vector<double> values;
};

TEST_F(BackTransform, SortsByMuDescendingAndInvertsWithItsLogLines) {
  Log log;
  EXPECT_EQ(run({0.5, 2.0, 0.25}, 3), 3);
  EXPECT_EQ(values[0], 0.5);
  EXPECT_EQ(values[1], 2.0);
  EXPECT_EQ(values[2], 4.0);
  EXPECT_EQ(values[3], -7.0);
  EXPECT_EQ(
      log.fresh(),
      "Back transforming 3 eigenvalues\nBack-transformation completed: 3 eigenvalues valid\n");
}

TEST_F(BackTransform, TheFirstInvalidEigenvalueEndsTheList) {
  EXPECT_EQ(run({1.0, -1.0, 2.0}, 3), 2);  // λ = 0.5, 1, then -1
  EXPECT_EQ(values[0], 0.5);
  EXPECT_EQ(values[1], 1.0);
  EXPECT_EQ(values[2], -7.0);
  EXPECT_EQ(run({0.0, 4.0}, 2), 1);  // μ = 0 gives +∞
  EXPECT_EQ(values[0], 0.25);
  EXPECT_EQ(run({1e-13, 1.0}, 2), 1);  // λ = 1e13
  EXPECT_EQ(run({1e-12, 1.0}, 2), 1);  // λ = 1e12 is already too large
  EXPECT_EQ(run({2.0, 1.0 / 999999999999.0}, 2), 2);
  EXPECT_EQ(run({-1.0, -2.0}, 2), 0);
  EXPECT_EQ(values[0], -7.0);
}

TEST_F(BackTransform, NaNIsNeverAValidEigenvalue) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(run({nan, 1.0, 2.0}, 3), 2);
  EXPECT_EQ(values[0], 0.5);
  EXPECT_EQ(values[1], 1.0);
  EXPECT_EQ(run({2.0, nan}, 2), 1);
  EXPECT_EQ(run({nan}, 1), 0);
}

TEST_F(BackTransform, KeepsAtMostNevAndAtMostNconv) {
  EXPECT_EQ(run({1.0, 2.0, 3.0, 4.0}, 2), 2);
  EXPECT_EQ(values[0], 0.25);
  EXPECT_DOUBLE_EQ(values[1], 1.0 / 3.0);
  EXPECT_EQ(values[2], -7.0);
  EXPECT_EQ(run({1.0, 2.0}, 5), 2);
  EXPECT_EQ(run({}, 3), 0);
}

TEST_F(BackTransform, MuAndValuesMayBeTheSameArray) {
  std::vector<double> mu = {0.25, 1.0, 0.5};
  EXPECT_EQ(backTransform(lib.A.L(), lib.A.invPerm(), 3, 3, mu.data(), mu.data(), nullptr, nullptr),
            3);
  EXPECT_EQ(mu, (std::vector<double>{1.0, 2.0, 4.0}));
}

// u = e_p in the factored ordering gives x = e_i / sqrt(a_i) for the i with invPerm[i] = p.
TEST_F(BackTransform, VectorsGoThroughTheFactorBackToTheHostsNumbering) {
  const std::vector<int32_t>& invPerm = lib.A.invPerm();
  const int n = 4;
  // Column k of u belongs to mu[k]; mu = {0.5, 2, 0.25} comes from original unknowns 1, 0, 2.
  const std::vector<double> mu = {0.5, 2.0, 0.25};
  const int original[3] = {1, 0, 2};
  std::vector<double> u(3 * n, 0.0);
  for (int k = 0; k < 3; ++k) u[static_cast<size_t>(k) * n + invPerm[original[k]]] = 1.0;
  std::vector<double> out(3, 0.0);
  std::vector<double> x(3 * n, -7.0);
  ASSERT_EQ(backTransform(lib.A.L(), invPerm, 3, 3, mu.data(), out.data(), u.data(), x.data()), 3);
  // Sorted: μ = 2 (unknown 0, a = 1), 0.5 (unknown 1, a = 4), 0.25 (unknown 2, a = 9).
  const double expected[3][4] = {{1.0, 0, 0, 0}, {0, 0.5, 0, 0}, {0, 0, 1.0 / 3.0, 0}};
  for (int i = 0; i < 3; ++i) {
    for (int r = 0; r < n; ++r) EXPECT_DOUBLE_EQ(x[static_cast<size_t>(i) * n + r], expected[i][r]);
  }
}

TEST_F(BackTransform, InvalidPairsWriteNoVector) {
  const std::vector<int32_t>& invPerm = lib.A.invPerm();
  const std::vector<double> mu = {1.0, -1.0};
  std::vector<double> u(8, 0.0);
  u[static_cast<size_t>(invPerm[3])] = 1.0;
  u[4 + static_cast<size_t>(invPerm[2])] = 1.0;
  std::vector<double> out(2, 0.0);
  std::vector<double> x(8, -7.0);
  ASSERT_EQ(backTransform(lib.A.L(), invPerm, 2, 2, mu.data(), out.data(), u.data(), x.data()), 1);
  EXPECT_DOUBLE_EQ(x[3], 0.25);
  for (int r = 4; r < 8; ++r) EXPECT_EQ(x[static_cast<size_t>(r)], -7.0);
}

}  // namespace
}  // namespace orv::test
