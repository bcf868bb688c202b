#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <stdexcept>
#include <vector>

#include "dense.h"
#include "models/models.h"

namespace orv::models {
namespace {

using testing::assembleDense;
using testing::DenseSink;

double dot(const std::vector<double>& a, const std::vector<double>& b) {
  return std::inner_product(a.begin(), a.end(), b.begin(), 0.0);
}

TEST(BuildingFrame, DofAndMemberCounts) {
  const struct { int storeys, bx, by; } sizes[] = {{1, 1, 1}, {3, 2, 4}, {5, 3, 3}, {12, 1, 5}};
  for (const auto& z : sizes) {
    FrameParameters p;
    p.storeys = z.storeys;
    p.baysX = z.bx;
    p.baysY = z.by;
    const BuildingFrame fixed(p);
    const int grid = (z.bx + 1) * (z.by + 1);
    EXPECT_EQ(fixed.size(), 6 * grid * z.storeys);
    EXPECT_EQ(fixed.nodeCount(), grid * (z.storeys + 1));
    const std::size_t members =
        std::size_t(z.storeys) * (grid + z.bx * (z.by + 1) + z.by * (z.bx + 1));
    EXPECT_EQ(fixed.members().size(), members);
    p.fixedBase = false;
    EXPECT_EQ(BuildingFrame(p).size(), 6 * grid * (z.storeys + 1));
  }
}

TEST(BuildingFrame, NodesSitOnTheGrid) {
  FrameParameters p;
  p.storeys = 4;
  p.baysX = 3;
  p.baysY = 2;
  p.storeyHeight = 3.2;
  p.bayX = 5.0;
  p.bayY = 7.5;
  const BuildingFrame f(p);
  for (int level = 0; level <= 4; ++level) {
    EXPECT_EQ(f.storeyNodes(level).size(), 12u);
    for (int iy = 0; iy <= 2; ++iy) {
      for (int ix = 0; ix <= 3; ++ix) {
        const Vec3& x = f.coordinates(f.node(ix, iy, level));
        EXPECT_DOUBLE_EQ(x[0], 5.0 * ix);
        EXPECT_DOUBLE_EQ(x[1], 7.5 * iy);
        EXPECT_DOUBLE_EQ(x[2], 3.2 * level);
        for (int c = 0; c < 6; ++c) EXPECT_EQ(f.dof(f.node(ix, iy, level), c) < 0, level == 0);
      }
    }
  }
  EXPECT_THROW(f.node(4, 0, 0), std::out_of_range);
  EXPECT_THROW(f.node(0, 0, 5), std::out_of_range);
  FrameParameters bad;
  bad.baysY = 0;
  EXPECT_THROW(BuildingFrame{bad}, std::invalid_argument);
  bad = FrameParameters{};
  bad.storeyHeight = -1.0;
  EXPECT_THROW(BuildingFrame{bad}, std::invalid_argument);
}

TEST(Models, EmitOnlyLowerTriangleWithinRange) {
  FrameParameters fp;
  fp.storeys = 3;
  fp.floorMass = 400.0;
  const BuildingFrame frame(fp);
  const Cantilever cantilever;
  BrickParameters bp;
  bp.nx = 4;
  const BrickSolid brick(bp);
  const Model* models[] = {&frame, &cantilever, &brick};
  for (const Model* model : models) {
    const DenseSink dense = assembleDense(*model);
    EXPECT_GT(dense.records(kStiffness), 0u);
    EXPECT_GT(dense.records(kMass), 0u);
    EXPECT_EQ(dense.upperRecords(), 0u);
    EXPECT_EQ(dense.outOfRangeRecords(), 0u);
  }
}

TEST(BuildingFrame, StiffnessAndMassArePositiveDefinite) {
  for (MassKind kind : {MassKind::Consistent, MassKind::Lumped}) {
    FrameParameters p;
    p.mass = kind;
    const BuildingFrame f(p);
    const DenseSink dense = assembleDense(f);
    EXPECT_TRUE(testing::isPositiveDefinite(dense.matrix(kStiffness), f.size()));
    EXPECT_TRUE(testing::isPositiveDefinite(dense.matrix(kMass), f.size()));
  }
  FrameParameters p;
  p.baysY = 1;
  p.mass = MassKind::Lumped;
  p.lumpedRotation = RotationalMass::Zero;
  const BuildingFrame f(p);
  const DenseSink dense = assembleDense(f);
  for (int node = 0; node < f.nodeCount(); ++node) {
    for (int c = 0; c < 6; ++c) {
      const int d = f.dof(node, c);
      if (d < 0) continue;
      for (int e = 0; e < f.size(); ++e) {
        if (e != d) {
          EXPECT_EQ(dense.at(d, e, kMass), 0.0);
        }
      }
      if (c < 3) {
        EXPECT_GT(dense.at(d, d, kMass), 0.0);
      } else {
        EXPECT_EQ(dense.at(d, d, kMass), 0.0);
      }
    }
  }
}

// Mass of all members (rho A L) plus the floor mass, counted without the independent generator.
double expectedTotalMass(const FrameParameters& p) {
  const double columns = (p.baysX + 1.0) * (p.baysY + 1.0) * p.storeyHeight;
  const double beams = p.baysX * p.bayX * (p.baysY + 1.0) + p.baysY * p.bayY * (p.baysX + 1.0);
  const double floor = p.floorMass * p.baysX * p.bayX * p.baysY * p.bayY;
  return p.storeys * (columns * p.column.rho * p.column.A + beams * p.beam.rho * p.beam.A + floor);
}

TEST(BuildingFrame, TotalMassOfRigidTranslation) {
  for (MassKind kind : {MassKind::Consistent, MassKind::Lumped}) {
    FrameParameters p;
    p.storeys = 4;
    p.baysX = 3;
    p.baysY = 2;
    p.bayY = 5.0;
    p.floorMass = 650.0;
    p.mass = kind;
    p.column = steelColumn();
    p.fixedBase = false;
    const BuildingFrame f(p);
    const double total = expectedTotalMass(p);
    for (int c : {kUx, kUy, kUz}) {
      const std::vector<double> r = f.translation(c);
      EXPECT_NEAR(dot(r, f.multiply(r, kMass)), total, 1e-12 * total);
    }
    // Self-weight: the vertical resultant is the weight, the horizontal ones vanish.
    const std::vector<double> g = f.gravityLoad(9.81);
    EXPECT_NEAR(dot(g, f.translation(kUz)), -9.81 * total, 1e-12 * 9.81 * total);
    EXPECT_NEAR(dot(g, f.translation(kUx)), 0.0, 1e-12 * total);
    EXPECT_NEAR(dot(g, f.translation(kUy)), 0.0, 1e-12 * total);

    // With the base fixed, lumped masses lose the ground halves of the first-storey columns.
    if (kind == MassKind::Lumped) {
      p.fixedBase = true;
      const BuildingFrame fixed(p);
      const double ground =
          (p.baysX + 1.0) * (p.baysY + 1.0) * p.column.rho * p.column.A * p.storeyHeight / 2.0;
      const std::vector<double> r = fixed.translation(kUx);
      EXPECT_NEAR(dot(r, fixed.multiply(r, kMass)), total - ground, 1e-12 * total);
    }
  }
}

// Beams and column axial stiffness made practically rigid: every storey is a shear storey of
// n columns, each 12 E I / h^3, with I = Iz for sway along X (local y of a column is global X) and
// Iy along Y.
FrameParameters shearBuilding(int storeys) {
  FrameParameters p;
  p.storeys = storeys;
  p.baysX = 2;
  p.baysY = 1;
  p.storeyHeight = 3.5;
  p.bayX = 6.0;
  p.bayY = 5.0;
  p.column = rectangularSection(30e9, 0.2, 2500.0, 0.3, 0.5);
  p.column.A *= 1e4;
  p.beam = concreteBeam();
  p.beam.A *= 1e4;
  p.beam.Iy *= 1e4;
  p.beam.Iz *= 1e4;
  p.beam.J *= 1e4;
  return p;
}

TEST(BuildingFrame, ShearBuildingDriftsUnderTriangularLoad) {
  const FrameParameters p = shearBuilding(4);
  const BuildingFrame f(p);
  const DenseSink dense = assembleDense(f);
  const std::vector<double> forces = BuildingFrame::triangularStoreyForces(4, 100e3);
  const std::vector<double> shears = BuildingFrame::storeyShears(forces);
  const double h3 = std::pow(p.storeyHeight, 3);
  const struct {
    int component;
    double I;
  } directions[] = {{kUx, p.column.Iz}, {kUy, p.column.Iy}};
  for (const auto& d : directions) {
    const double storeyStiffness = 6 * 12 * p.column.E * d.I / h3;
    const std::vector<double> u =
        testing::solveSpd(dense.matrix(kStiffness), f.size(), f.lateralLoad(d.component, forces));
    const std::vector<double> drifts = f.storeyDrifts(u, d.component);
    ASSERT_EQ(drifts.size(), 4u);
    for (int s = 0; s < 4; ++s) {
      const double expected = shears[s] / storeyStiffness;
      EXPECT_NEAR(drifts[s], expected, 1e-3 * expected) << "storey " << s + 1;
    }
  }
}

// One storey, one bay, floor mass only: two sway modes k/M and the torsional mode, whose
// stiffness sums k_x y^2 + k_y x^2 over the columns plus their twist G J / h, over the floor's
// polar inertia M r^2 (masses at the corners, r^2 = 18 m^2 for a 6 x 6 bay).
TEST(BuildingFrame, PortalFrequenciesMatchShearModel) {
  FrameParameters p = shearBuilding(1);
  p.baysX = 1;
  p.bayY = 6.0;
  p.floorMass = 1000.0;
  p.column.rho = 1e-6;
  p.beam.rho = 1e-6;
  p.mass = MassKind::Lumped;
  const BuildingFrame f(p);
  const DenseSink dense = assembleDense(f);
  const double M = 1000.0 * 36.0;
  const double h3 = std::pow(p.storeyHeight, 3);
  const double kx = 12 * p.column.E * p.column.Iz / h3;
  const double ky = 12 * p.column.E * p.column.Iy / h3;
  const double torsion =
      (4 * 9.0 * (kx + ky) + 4 * p.column.G * p.column.J / p.storeyHeight) / (18.0 * M);
  const std::vector<double> lambda =
      testing::generalizedEigenvalues(dense.matrix(kStiffness), dense.matrix(kMass), f.size());
  EXPECT_NEAR(lambda[0], 4 * ky / M, 1e-3 * 4 * ky / M);
  EXPECT_NEAR(lambda[1], torsion, 1e-3 * torsion);
  EXPECT_NEAR(lambda[2], 4 * kx / M, 1e-3 * 4 * kx / M);
}

TEST(BuildingFrame, StoreyHelpers) {
  const std::vector<double> forces = BuildingFrame::triangularStoreyForces(4, 100.0);
  ASSERT_EQ(forces.size(), 4u);
  EXPECT_DOUBLE_EQ(forces[0], 10.0);
  EXPECT_DOUBLE_EQ(forces[1], 20.0);
  EXPECT_DOUBLE_EQ(forces[2], 30.0);
  EXPECT_DOUBLE_EQ(forces[3], 40.0);
  EXPECT_EQ(BuildingFrame::storeyShears(forces), (std::vector<double>{100.0, 90.0, 70.0, 40.0}));

  FrameParameters p;
  p.storeys = 4;
  p.baysX = 2;
  p.baysY = 1;
  const BuildingFrame f(p);
  const std::vector<double> load = f.lateralLoad(kUy, forces);
  for (int level = 1; level <= 4; ++level) {
    for (int node : f.storeyNodes(level)) {
      EXPECT_DOUBLE_EQ(load[f.dof(node, kUy)], forces[level - 1] / 6.0);
      EXPECT_EQ(load[f.dof(node, kUx)], 0.0);
    }
  }
  EXPECT_THROW(f.lateralLoad(kUz, forces), std::invalid_argument);
  EXPECT_THROW(f.lateralLoad(kUx, std::vector<double>(3, 1.0)), std::invalid_argument);

  // Displacements 1 cm per level along X, plus a spread that averages out within each floor.
  std::vector<double> u(f.size(), 0.0);
  for (int level = 1; level <= 4; ++level) {
    const std::vector<int> nodes = f.storeyNodes(level);
    for (std::size_t k = 0; k < nodes.size(); ++k) {
      u[f.dof(nodes[k], kUx)] = 0.01 * level + (k % 2 == 0 ? 1e-3 : -1e-3);
    }
  }
  const std::vector<double> drifts = f.storeyDrifts(u, kUx);
  for (double d : drifts) EXPECT_NEAR(d, 0.01, 1e-15);
  EXPECT_NEAR(f.storeyDisplacement(u, 3, kUx), 0.03, 1e-15);
  EXPECT_EQ(f.storeyDisplacement(u, 0, kUx), 0.0);
}

}  // namespace
}  // namespace orv::models
