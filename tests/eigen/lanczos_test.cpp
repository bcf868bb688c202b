// The Lanczos class on operators whose spectrum is known exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include "eigen/eigen.h"
#include "eigen/lanczos.h"

namespace orv {
namespace {

// diag(d), with a count of the products asked for.
struct DiagonalOperator {
  std::vector<double> d;
  int products = 0;

  int32_t rows() const { return static_cast<int32_t>(d.size()); }
  void perform_op(const double* x, double* y) {
    ++products;
    for (size_t i = 0; i < d.size(); ++i) y[i] = d[i] * x[i];
  }
};

struct NoProduct {
  int32_t rows() const { return 1; }
};

static_assert(SymmetricOperator<DiagonalOperator>);
static_assert(SymmetricOperator<LPBPTLT>);
static_assert(!SymmetricOperator<NoProduct>);

// 1, 2, ..., n in an order drawn from seed.
DiagonalOperator shuffledOneToN(int n, uint32_t seed) {
  std::cout << "shuffle seed " << seed << '\n';
  DiagonalOperator op;
  op.d.resize(static_cast<size_t>(n));
  std::iota(op.d.begin(), op.d.end(), 1.0);
  std::shuffle(op.d.begin(), op.d.end(), std::mt19937(seed));
  return op;
}

TEST(Lanczos, LargestAlgebraicEigenpairsOfADiagonalOperator) {
  DiagonalOperator op = shuffledOneToN(60, 20240611u);
  const int n = op.rows();
  const int nev = 4;
  std::vector<double> values(nev, -1.0);
  std::vector<double> vectors(static_cast<size_t>(n) * nev);
  Lanczos<DiagonalOperator> lanczos(nev, op);
  ASSERT_EQ(lanczos.eigenValVectors(vectors.data(), values.data()), nev);
  std::vector<double> sorted = values;
  std::sort(sorted.begin(), sorted.end());
  for (int k = 0; k < nev; ++k) EXPECT_NEAR(sorted[k], 57.0 + k, 1e-12);
  // The eigenvector of value v is ±e_i where d_i = v.
  for (int k = 0; k < nev; ++k) {
    const double* x = vectors.data() + static_cast<size_t>(k) * n;
    const auto at = std::find(op.d.begin(), op.d.end(), std::round(values[k])) - op.d.begin();
    EXPECT_NEAR(std::fabs(x[at]), 1.0, 1e-12);
    double others = 0.0;
    for (int i = 0; i < n; ++i) others += i == at ? 0.0 : x[i] * x[i];
    EXPECT_LT(std::sqrt(others), 1e-10);
  }
}

TEST(Lanczos, SmallestAlgebraicOnRequestAndValuesWithoutVectors) {
  DiagonalOperator op = shuffledOneToN(40, 7u);
  std::vector<double> values(3, -1.0);
  Lanczos<DiagonalOperator> lanczos(3, op, arpack::which::smallest_algebraic);
  ASSERT_EQ(lanczos.eigenValues(values.data()), 3);
  std::sort(values.begin(), values.end());
  EXPECT_NEAR(values[0], 1.0, 1e-12);
  EXPECT_NEAR(values[1], 2.0, 1e-12);
  EXPECT_NEAR(values[2], 3.0, 1e-12);
}

TEST(Lanczos, NevOutsideOneToNMinusOneFindsNothing) {
  DiagonalOperator op = shuffledOneToN(8, 1u);
  std::vector<double> values(8, -1.0);
  EXPECT_EQ(Lanczos<DiagonalOperator>(0, op).eigenValues(values.data()), 0);
  EXPECT_EQ(Lanczos<DiagonalOperator>(8, op).eigenValues(values.data()), 0);
  EXPECT_EQ(Lanczos<DiagonalOperator>(-1, op).eigenValues(values.data()), 0);
  EXPECT_EQ(op.products, 0);
  for (double v : values) EXPECT_EQ(v, -1.0);
}

TEST(Lanczos, ForcedFailureFindsNothingWithoutAProductAndEndsWithItsScope) {
  DiagonalOperator op = shuffledOneToN(30, 3u);
  std::vector<double> values(2, -1.0);
  {
    ForceLanczosFailure fail;
    EXPECT_TRUE(lanczosFailureForced());
    EXPECT_EQ(Lanczos<DiagonalOperator>(2, op).eigenValues(values.data()), 0);
    EXPECT_EQ(op.products, 0);
    EXPECT_EQ(values[0], -1.0);
  }
  EXPECT_FALSE(lanczosFailureForced());
  EXPECT_EQ(Lanczos<DiagonalOperator>(2, op).eigenValues(values.data()), 2);
  EXPECT_GT(op.products, 0);
}

TEST(Lanczos, RunsFromSeveralThreadsAtOnce) {
  constexpr int kThreads = 4;
  std::vector<std::vector<double>> results(kThreads, std::vector<double>(3, 0.0));
  std::vector<int> found(kThreads, -1);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &results, &found] {
      DiagonalOperator op = shuffledOneToN(50 + 10 * t, 100u + static_cast<uint32_t>(t));
      found[t] = Lanczos<DiagonalOperator>(3, op).eigenValues(results[t].data());
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(found[t], 3);
    std::sort(results[t].begin(), results[t].end());
    const double n = 50.0 + 10.0 * t;
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(results[t][k], n - 2 + k, 1e-11) << "thread " << t;
  }
}

// ARPACK keeps the seed of its starting vectors from one run to the next: a second run on the same
// operator used to start elsewhere and end with other rounding errors and signs of the
// eigenvectors (and, for a repeated eigenvalue, another basis of its eigenspace).
TEST(Lanczos, ResultDependedOnTheRunsBeforeIt) {
  DiagonalOperator op = shuffledOneToN(40, 7u);
  const int n = op.rows();
  const int nev = 3;
  std::vector<std::vector<double>> values(3, std::vector<double>(nev));
  std::vector<std::vector<double>> vectors(3, std::vector<double>(static_cast<size_t>(n) * nev));
  for (int run = 0; run < 3; ++run) {
    ASSERT_EQ(
        Lanczos<DiagonalOperator>(nev, op).eigenValVectors(vectors[run].data(), values[run].data()),
        nev);
  }
  for (int run = 1; run < 3; ++run) {
    EXPECT_EQ(values[run], values[0]) << "run " << run;
    EXPECT_EQ(vectors[run], vectors[0]) << "run " << run;
  }
}

}  // namespace
}  // namespace orv
