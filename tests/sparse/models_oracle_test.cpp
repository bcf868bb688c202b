// The services on generated models and on a real stiffness matrix, against dense computations.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "export_helpers.h"
#include "models/export_sink.h"
#include "models/models.h"

namespace {

using orv::test::SystemHandle;

// The full symmetric matrix of lower-triangle records, row-major.
std::vector<double> denseOf(int n, const std::vector<orv::models::Triplet>& records) {
  std::vector<double> dense(static_cast<size_t>(n) * n, 0.0);
  for (const auto& t : records) {
    dense[static_cast<size_t>(t.row) * n + t.col] += t.value;
    if (t.row != t.col) dense[static_cast<size_t>(t.col) * n + t.row] += t.value;
  }
  return dense;
}

// Product, 1-norm (through the condition-free route: the dense column sums) and largest diagonal
// entry of the library's A and B against the dense matrices.
void checkAgainstDense(int n, const std::vector<orv::models::Triplet>& k,
                       const std::vector<orv::models::Triplet>& m) {
  SystemHandle system;
  ASSERT_EQ(exp_initMatrix_v3(system.address(), n, 0), 0);
  ASSERT_EQ(exp_initMatrix_v3(system.address(), n, 1), 0);
  for (const auto& t : k)
    ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), t.row, t.col, t.value, 0), 0);
  for (const auto& t : m)
    ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), t.row, t.col, t.value, 1), 0);
  ASSERT_EQ(exp_createCCS_v3(system.get(), 0), 0);
  ASSERT_EQ(exp_createCCS_v3(system.get(), 1), 0);

  std::vector<double> x(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) x[i] = std::cos(0.37 * i) + 0.1;
  for (int which : {0, 1}) {
    const std::vector<double> dense = denseOf(n, which == 0 ? k : m);
    std::vector<double> y(static_cast<size_t>(n));
    ASSERT_EQ(exp_multVector_v3(system.get(), x.data(), y.data(), which), 0);
    double scale = 0.0;
    for (double v : dense) scale = std::max(scale, std::fabs(v));
    for (int i = 0; i < n; ++i) {
      double expected = 0.0;
      for (int j = 0; j < n; ++j) expected += dense[static_cast<size_t>(i) * n + j] * x[j];
      ASSERT_NEAR(y[i], expected, 1e-12 * scale * n) << "matrix " << which << " row " << i;
    }
    if (which == 0) {
      double maxDiag = 0.0;
      ASSERT_EQ(exp_getMaxDiag_v3(system.get(), &maxDiag), 0);
      double expected = -INFINITY;
      for (int i = 0; i < n; ++i)
        expected = std::max(expected, dense[static_cast<size_t>(i) * n + i]);
      EXPECT_EQ(maxDiag, expected);
    }
  }
}

TEST(ModelsAgainstDense, BuildingFrame) {
  orv::models::FrameParameters p;
  p.storeys = 2;
  p.baysX = 2;
  p.baysY = 1;
  const orv::models::BuildingFrame frame(p);
  orv::models::TripletSink sink;
  frame.assemble(sink);
  checkAgainstDense(frame.size(), sink.entries(orv::models::kStiffness),
                    sink.entries(orv::models::kMass));
}

TEST(ModelsAgainstDense, BrickSolid) {
  orv::models::BrickParameters p;
  p.nx = 4;
  p.ny = 3;
  p.nz = 2;
  const orv::models::BrickSolid brick(p);
  orv::models::TripletSink sink;
  brick.assemble(sink);
  checkAgainstDense(brick.size(), sink.entries(orv::models::kStiffness),
                    sink.entries(orv::models::kMass));
}

TEST(ModelsAgainstDense, RealStiffnessAndMass) {
  const std::string folder = ORV_MATRICES_DIR;
  const auto k = orv::models::readSymmetric(folder + "/bcsstk05.mtx");
  const auto m = orv::models::readSymmetric(folder + "/bcsstm05.mtx");
  ASSERT_EQ(k.n, 153);
  checkAgainstDense(k.n, k.lower, m.lower);
}

}  // namespace
