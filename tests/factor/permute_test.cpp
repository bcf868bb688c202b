#include "factor/permute.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "test_matrices.h"

namespace orv {
namespace {

using test::fromTriplets;

void expectLowerSorted(const CcsRecord& b) {
  for (int32_t j = 0; j < b.n; ++j) {
    for (int32_t k = b.colptr[j]; k < b.colptr[j + 1]; ++k) {
      EXPECT_GE(b.rowind[k], j);
      if (k > b.colptr[j]) {
        EXPECT_LT(b.rowind[k - 1], b.rowind[k]);
      }
    }
  }
}

// Worked by hand: A = [4 1 0; 1 5 2; 0 2 6], invPerm = {2, 0, 1}, so B(2,2) = 4, B(0,0) = 5,
// B(1,1) = 6, B(2,0) = A(0,1) = 1, B(1,0) = A(2,1) = 2.
TEST(PermuteSymmetric, HandWorkedThreeByThree) {
  const CcsRecord a =
      fromTriplets(3, {{0, 0, 4.0}, {1, 0, 1.0}, {1, 1, 5.0}, {2, 1, 2.0}, {2, 2, 6.0}});
  const CcsRecord b = permuteSymmetric(a, {2, 0, 1});
  EXPECT_EQ(b.n, 3);
  EXPECT_EQ(b.flags, kCcsSymLowerDouble);
  EXPECT_EQ(b.colptr, (std::vector<int32_t>{0, 3, 4, 5}));
  EXPECT_EQ(b.rowind, (std::vector<int32_t>{0, 1, 2, 1, 2}));
  EXPECT_EQ(b.values, (std::vector<double>{5.0, 2.0, 1.0, 6.0, 4.0}));
}

TEST(PermuteSymmetric, EntryAboveTheDiagonalIsMirroredNotDropped) {
  // (0, 2) stored in column 2 above the diagonal; identity ordering.
  const CcsRecord a = fromTriplets(3, {{0, 0, 4.0}, {1, 1, 5.0}, {0, 2, 3.0}, {2, 2, 6.0}}, true);
  ASSERT_EQ(a.rowind, (std::vector<int32_t>{0, 1, 0, 2}));
  const CcsRecord b = permuteSymmetric(a, {0, 1, 2});
  EXPECT_EQ(b.colptr, (std::vector<int32_t>{0, 2, 3, 4}));
  EXPECT_EQ(b.rowind, (std::vector<int32_t>{0, 2, 1, 2}));
  EXPECT_EQ(b.values, (std::vector<double>{4.0, 3.0, 5.0, 6.0}));
}

TEST(PermuteSymmetric, PairStoredOnBothSidesIsSummed) {
  const CcsRecord a = fromTriplets(2, {{0, 0, 4.0}, {1, 0, 1.0}, {0, 1, 0.5}, {1, 1, 5.0}}, true);
  ASSERT_EQ(a.nnz(), 4);
  const CcsRecord b = permuteSymmetric(a, {1, 0});
  EXPECT_EQ(b.colptr, (std::vector<int32_t>{0, 2, 3}));
  EXPECT_EQ(b.rowind, (std::vector<int32_t>{0, 1, 1}));
  EXPECT_EQ(b.values, (std::vector<double>{5.0, 1.5, 4.0}));
}

TEST(PermuteSymmetric, DenseImageIsThePermutedMatrix) {
  const uint32_t seed = 2024u;
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  const CcsRecord a = test::randomSpd(120, 4, 0.1, seed);
  std::vector<int32_t> invPerm(static_cast<size_t>(a.n));
  std::iota(invPerm.begin(), invPerm.end(), 0);
  std::shuffle(invPerm.begin(), invPerm.end(), std::mt19937(seed));
  const CcsRecord b = permuteSymmetric(a, invPerm);
  expectLowerSorted(b);
  EXPECT_EQ(b.nnz(), a.nnz());
  const std::vector<double> da = test::toDense(a);
  const std::vector<double> db = test::toDense(b);
  const size_t n = static_cast<size_t>(a.n);
  for (size_t j = 0; j < n; ++j) {
    for (size_t i = 0; i < n; ++i) {
      ASSERT_EQ(db[invPerm[i] + n * invPerm[j]], da[i + n * j]) << i << ", " << j;
    }
  }
}

TEST(PermuteVectors, ScatterAndGatherAreInverse) {
  const std::vector<int32_t> invPerm{3, 0, 4, 1, 2};
  const std::vector<double> x{10.0, 11.0, 12.0, 13.0, 14.0};
  std::vector<double> permuted(5), back(5);
  scatterByPerm(5, x.data(), permuted.data(), invPerm.data());
  EXPECT_EQ(permuted, (std::vector<double>{11.0, 13.0, 14.0, 10.0, 12.0}));
  gatherByPerm(5, permuted.data(), back.data(), invPerm.data());
  EXPECT_EQ(back, x);
}

}  // namespace
}  // namespace orv
