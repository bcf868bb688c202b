#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <vector>

#include "dense.h"
#include "models/models.h"

namespace orv::models {
namespace {

TEST(DofMap, FixedDofsAreEliminated) {
  // Node 1 fixed in component 0, node 2 fully fixed.
  const DofMap map(4, 2, [](int node, int c) { return (node == 1 && c == 0) || node == 2; });
  EXPECT_EQ(map.size(), 5);
  EXPECT_EQ(map.dof(0, 0), 0);
  EXPECT_EQ(map.dof(0, 1), 1);
  EXPECT_EQ(map.dof(1, 0), -1);
  EXPECT_EQ(map.dof(1, 1), 2);
  EXPECT_TRUE(map.fixed(2, 0));
  EXPECT_TRUE(map.fixed(2, 1));
  EXPECT_EQ(map.dof(3, 0), 3);
  EXPECT_EQ(map.dof(3, 1), 4);
}

// A hand-worked 3 x 3 element over equations {2, -1, 0}: the fixed DOF drops out, the rest lands in
// the lower triangle with the element's row order reversed where needed, and zeros are skipped.
TEST(EmitElement, LowerTriangleOfFreeDofs) {
  const std::vector<int> dofs = {2, -1, 0};
  const std::vector<double> element = {4.0,  1.0, -2.0,  //
                                       1.0,  5.0, 3.0,   //
                                       -2.0, 3.0, 0.0};
  TripletSink sink;
  emitElement(sink, dofs, element, kMass);
  EXPECT_TRUE(sink.entries(kStiffness).empty());
  EXPECT_EQ(sink.entries(kMass), (std::vector<Triplet>{{2, 2, 4.0}, {2, 0, -2.0}}));
}

TEST(Sinks, ProductAndSummedTripletsAgreeWithDenseMatrix) {
  FrameParameters p;
  p.storeys = 2;
  p.baysX = 2;
  p.baysY = 1;
  p.floorMass = 300.0;
  const BuildingFrame frame(p);
  const int n = frame.size();
  const testing::DenseSink dense = testing::assembleDense(frame);
  const unsigned seed = 7031;
  std::printf("random vector seed %u\n", seed);
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<double> x(n);
  for (double& v : x) v = uniform(random);

  TripletSink triplets;
  frame.assemble(triplets);
  for (int which : {kStiffness, kMass}) {
    const std::vector<double> expected = testing::multiply(dense.matrix(which), n, x);
    const std::vector<double> y = frame.multiply(x, which);
    double scale = 0.0;
    for (double v : dense.matrix(which)) scale = std::max(scale, std::fabs(v));
    for (int i = 0; i < n; ++i) EXPECT_NEAR(y[i], expected[i], 1e-12 * scale * n);

    const std::vector<Triplet> summed = sumDuplicates(triplets.entries(which));
    EXPECT_LT(summed.size(), triplets.entries(which).size());
    for (std::size_t k = 0; k < summed.size(); ++k) {
      const Triplet& t = summed[k];
      EXPECT_NEAR(t.value, dense.at(t.row, t.col, which), 1e-12 * scale);
      if (k > 0) {
        const Triplet& prev = summed[k - 1];
        EXPECT_TRUE(prev.col < t.col || (prev.col == t.col && prev.row < t.row));
      }
    }
  }
  EXPECT_THROW(frame.multiply(std::vector<double>(n + 1), kMass), std::invalid_argument);
}

}  // namespace
}  // namespace orv::models
