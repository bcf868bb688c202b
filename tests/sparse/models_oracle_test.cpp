// The services on generated models and on a real stiffness matrix, against dense computations.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dense.h"
#include "export_helpers.h"
#include "models/export_sink.h"
#include "models/models.h"

namespace {

using orv::test::SystemHandle;

using orv::models::testing::DenseSink;

// Product and largest diagonal entry of the library's A and B against the dense matrices of the
// same lower-triangle records.
void checkAgainstDense(int n, const std::vector<orv::models::Triplet>& k,
                       const std::vector<orv::models::Triplet>& m) {
  SystemHandle system;
  DenseSink dense(n);
  ASSERT_EQ(exp_initMatrix_v3(system.address(), n, 0), 0);
  ASSERT_EQ(exp_initMatrix_v3(system.address(), n, 1), 0);
  for (int which : {0, 1}) {
    for (const auto& t : which == 0 ? k : m) {
      ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), t.row, t.col, t.value, which), 0);
      dense.add(t.row, t.col, t.value, which);
    }
    ASSERT_EQ(exp_createCCS_v3(system.get(), which), 0);
  }

  std::vector<double> x(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) x[i] = std::cos(0.37 * i) + 0.1;
  for (int which : {0, 1}) {
    const std::vector<double>& a = dense.matrix(which);
    const std::vector<double> expected = orv::models::testing::multiply(a, n, x);
    std::vector<double> y(static_cast<size_t>(n));
    ASSERT_EQ(exp_multVector_v3(system.get(), x.data(), y.data(), which), 0);
    double scale = 0.0;
    for (double v : a) scale = std::max(scale, std::fabs(v));
    for (int i = 0; i < n; ++i) {
      ASSERT_NEAR(y[i], expected[i], 1e-12 * scale * n) << "matrix " << which << " row " << i;
    }
  }
  double maxDiag = 0.0;
  ASSERT_EQ(exp_getMaxDiag_v3(system.get(), &maxDiag), 0);
  double expected = -INFINITY;
  for (int i = 0; i < n; ++i) expected = std::max(expected, dense.at(i, i, 0));
  EXPECT_EQ(maxDiag, expected);
}

// The same for a generated model, assembled element by element.
void checkModel(const orv::models::Model& model) {
  orv::models::TripletSink sink;
  model.assemble(sink);
  checkAgainstDense(model.size(), sink.entries(orv::models::kStiffness),
                    sink.entries(orv::models::kMass));
}

TEST(ModelsAgainstDense, BuildingFrame) {
  orv::models::FrameParameters p;
  p.storeys = 2;
  p.baysX = 2;
  p.baysY = 1;
  checkModel(orv::models::BuildingFrame(p));
}

TEST(ModelsAgainstDense, BrickSolid) {
  orv::models::BrickParameters p;
  p.nx = 4;
  p.ny = 3;
  p.nz = 2;
  checkModel(orv::models::BrickSolid(p));
}

TEST(ModelsAgainstDense, RealStiffnessAndMass) {
  const std::string folder = ORV_MATRICES_DIR;
  const auto k = orv::models::readSymmetric(folder + "/bcsstk05.mtx");
  const auto m = orv::models::readSymmetric(folder + "/bcsstm05.mtx");
  ASSERT_EQ(k.n, 153);
  checkAgainstDense(k.n, k.lower, m.lower);
}

}  // namespace
