#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "dense.h"
#include "models/models.h"

namespace orv::models {
namespace {

using testing::assembleDense;
using testing::DenseSink;

constexpr double kSteelE = 210e9;
constexpr double kSteelNu = 0.3;
constexpr double kSteelRho = 7850.0;

// Rectangle 0.1 wide (local z) by 0.2 deep (local y): Iz = 0.1 * 0.2^3 / 12, Iy = 0.2 * 0.1^3 / 12.
BeamSection bar() { return rectangularSection(kSteelE, kSteelNu, kSteelRho, 0.1, 0.2); }

double maxAbs(const Matrix12& a) {
  double m = 0.0;
  for (double v : a) m = std::max(m, std::fabs(v));
  return m;
}

std::vector<double> toVector(const Matrix12& a) {
  // Row-major and column-major agree for a symmetric matrix.
  return std::vector<double>(a.begin(), a.end());
}

// DOF vector of the rigid motion u = t + w x (x - centre), rotation w, at nodes xi and xj.
std::array<double, 12> rigidMotion(const Vec3& t, const Vec3& w, const Vec3& xi, const Vec3& xj,
                                   const Vec3& centre = {}) {
  std::array<double, 12> r{};
  const Vec3 nodes[2] = {xi, xj};
  for (int a = 0; a < 2; ++a) {
    const Vec3 x = {nodes[a][0] - centre[0], nodes[a][1] - centre[1], nodes[a][2] - centre[2]};
    const Vec3 wx = {w[1] * x[2] - w[2] * x[1], w[2] * x[0] - w[0] * x[2],
                     w[0] * x[1] - w[1] * x[0]};
    for (int c = 0; c < 3; ++c) {
      r[6 * a + c] = t[c] + wx[c];
      r[6 * a + 3 + c] = w[c];
    }
  }
  return r;
}

std::array<double, 12> times(const Matrix12& a, const std::array<double, 12>& x) {
  std::array<double, 12> y{};
  for (int r = 0; r < 12; ++r) {
    for (int c = 0; c < 12; ++c) y[r] += a[r * 12 + c] * x[c];
  }
  return y;
}

double quadratic(const Matrix12& a, const std::array<double, 12>& x) {
  const std::array<double, 12> y = times(a, x);
  double s = 0.0;
  for (int k = 0; k < 12; ++k) s += x[k] * y[k];
  return s;
}

struct Placement {
  const char* name;
  Vec3 xi;
  Vec3 xj;
  Vec3 orientation;
};

const Placement kPlacements[] = {
    {"along X", {0, 0, 0}, {3, 0, 0}, {0, 0, 1}},
    {"vertical", {1, 2, 0}, {1, 2, 3.5}, {1, 0, 0}},
    {"skew", {0.3, -1.2, 0.7}, {2.3, 0.8, 4.2}, {0.2, 1.0, -0.4}},
};

TEST(BeamElement, StiffnessAndMassAreSymmetric) {
  for (const Placement& p : kPlacements) {
    const Rotation r = beamRotation(p.xi, p.xj, p.orientation);
    const double length = std::hypot(p.xj[0] - p.xi[0], p.xj[1] - p.xi[1], p.xj[2] - p.xi[2]);
    const Matrix12 k = beamToGlobal(beamLocalStiffness(bar(), length), r);
    const Matrix12 m =
        beamToGlobal(beamLocalMass(bar(), length, MassKind::Consistent, RotationalMass::Hrz), r);
    for (int i = 0; i < 12; ++i) {
      for (int j = 0; j < i; ++j) {
        EXPECT_NEAR(k[i * 12 + j], k[j * 12 + i], 1e-12 * maxAbs(k)) << p.name;
        EXPECT_NEAR(m[i * 12 + j], m[j * 12 + i], 1e-12 * maxAbs(m)) << p.name;
      }
    }
  }
}

TEST(BeamElement, RotationIsOrthonormalWithOrientationInLocalXYPlane) {
  for (const Placement& p : kPlacements) {
    const Rotation r = beamRotation(p.xi, p.xj, p.orientation);
    for (int a = 0; a < 3; ++a) {
      for (int b = 0; b < 3; ++b) {
        const double dot =
            r[a * 3] * r[b * 3] + r[a * 3 + 1] * r[b * 3 + 1] + r[a * 3 + 2] * r[b * 3 + 2];
        EXPECT_NEAR(dot, a == b ? 1.0 : 0.0, 1e-14) << p.name;
      }
    }
    const double vz = r[6] * p.orientation[0] + r[7] * p.orientation[1] + r[8] * p.orientation[2];
    EXPECT_NEAR(vz, 0.0, 1e-14) << p.name;
    const double vy = r[3] * p.orientation[0] + r[4] * p.orientation[1] + r[5] * p.orientation[2];
    EXPECT_GT(vy, 0.0) << p.name;
  }
  EXPECT_THROW(beamRotation({0, 0, 0}, {0, 0, 3}, {0, 0, 1}), std::invalid_argument);
  EXPECT_THROW(beamRotation({1, 1, 1}, {1, 1, 1}, {0, 0, 1}), std::invalid_argument);
}

// A free element has exactly six zero-energy modes, the rigid motions, in any orientation.
TEST(BeamElement, RigidBodyMotionsGiveNoForces) {
  for (const Placement& p : kPlacements) {
    const double length = std::hypot(p.xj[0] - p.xi[0], p.xj[1] - p.xi[1], p.xj[2] - p.xi[2]);
    const Matrix12 k =
        beamToGlobal(beamLocalStiffness(bar(), length), beamRotation(p.xi, p.xj, p.orientation));
    const double scale = maxAbs(k);
    for (int mode = 0; mode < 6; ++mode) {
      Vec3 t{};
      Vec3 w{};
      (mode < 3 ? t : w)[mode % 3] = 1.0;
      const std::array<double, 12> r = rigidMotion(t, w, p.xi, p.xj);
      double size = 0.0;
      for (double v : r) size = std::max(size, std::fabs(v));
      for (double f : times(k, r))
        EXPECT_NEAR(f, 0.0, 1e-12 * scale * size) << p.name << " mode " << mode;
    }
    const std::vector<double> lambda = testing::eigenvalues(toVector(k), 12);
    for (int i = 0; i < 6; ++i) EXPECT_LT(std::fabs(lambda[i]), 1e-12 * lambda[11]) << p.name;
    for (int i = 6; i < 12; ++i) EXPECT_GT(lambda[i], 1e-6 * lambda[11]) << p.name;
  }
}

// Kinetic energy of rigid motions: translation gives rho A L; spin about the axis rho Ip L; a
// rotation about a transverse axis through the midpoint rho A L^3 / 12 plus the section's
// rotatory inertia rho I L.
TEST(BeamElement, MassOfRigidMotions) {
  const BeamSection s = bar();
  for (const Placement& p : kPlacements) {
    const double length = std::hypot(p.xj[0] - p.xi[0], p.xj[1] - p.xi[1], p.xj[2] - p.xi[2]);
    const Rotation r = beamRotation(p.xi, p.xj, p.orientation);
    const double m = s.rho * s.A * length;
    for (MassKind kind : {MassKind::Consistent, MassKind::Lumped}) {
      for (RotationalMass rotation : {RotationalMass::Hrz, RotationalMass::Zero}) {
        const Matrix12 mg = beamToGlobal(beamLocalMass(s, length, kind, rotation), r);
        for (int c = 0; c < 3; ++c) {
          Vec3 t{};
          t[c] = 1.0;
          EXPECT_NEAR(quadratic(mg, rigidMotion(t, {}, p.xi, p.xj)), m, 1e-12 * m) << p.name;
        }
      }
    }
    const Matrix12 consistent =
        beamToGlobal(beamLocalMass(s, length, MassKind::Consistent, RotationalMass::Hrz), r);
    const Vec3 axis = {r[0], r[1], r[2]};
    const double spin = quadratic(consistent, rigidMotion({}, axis, p.xi, p.xj, p.xi));
    EXPECT_NEAR(spin, s.rho * (s.Iy + s.Iz) * length, 1e-10 * spin) << p.name;
    const Vec3 w = {r[6], r[7], r[8]};
    const Vec3 mid = {(p.xi[0] + p.xj[0]) / 2, (p.xi[1] + p.xj[1]) / 2, (p.xi[2] + p.xj[2]) / 2};
    const double expected = m * length * length / 12.0 + s.rho * s.Iz * length;
    EXPECT_NEAR(quadratic(consistent, rigidMotion({}, w, p.xi, p.xj, mid)), expected,
                1e-10 * expected)
        << p.name;
  }
}

// Torsion constants of solid rectangles (Timoshenko and Goodier's table, 3 digits): J = c a b^3.
TEST(BeamSection, RectangleTorsionConstantMatchesTable) {
  const struct {
    double ratio;
    double c;
  } table[] = {{1.0, 0.141}, {1.5, 0.196}, {2.0, 0.229}, {3.0, 0.263}, {5.0, 0.291}, {10.0, 0.312}};
  for (const auto& row : table) {
    const double b = 0.2;
    const double a = row.ratio * b;
    const BeamSection tall = rectangularSection(30e9, 0.2, 2500.0, b, a);
    const BeamSection wide = rectangularSection(30e9, 0.2, 2500.0, a, b);
    EXPECT_NEAR(tall.J / (a * b * b * b), row.c, 0.005 * row.c) << "a/b " << row.ratio;
    EXPECT_DOUBLE_EQ(tall.J, wide.J);
    EXPECT_DOUBLE_EQ(tall.Iz, b * a * a * a / 12.0);
    EXPECT_DOUBLE_EQ(tall.Iy, a * b * b * b / 12.0);
    EXPECT_DOUBLE_EQ(tall.G, 30e9 / 2.4);
  }
}

// Hand-worked: depth 0.3, flanges 0.2 x 0.02, web 0.01.
TEST(BeamSection, ISectionProperties) {
  const BeamSection s = iSection(210e9, 0.3, 7850.0, 0.3, 0.2, 0.01, 0.02);
  EXPECT_NEAR(s.A, 0.0106, 1e-15);
  EXPECT_NEAR(s.Iz, (0.2 * 0.027 - 0.19 * 0.017576) / 12.0, 1e-15);
  EXPECT_NEAR(s.Iy, (2 * 0.02 * 0.008 + 0.26 * 1e-6) / 12.0, 1e-15);
  EXPECT_NEAR(s.J, (2 * 0.2 * 8e-6 + 0.28 * 1e-6) / 3.0, 1e-15);
}

CantileverParameters slenderBar(int elements) {
  CantileverParameters p;
  p.elements = elements;
  p.length = 10.0;
  p.section = bar();
  return p;
}

// Equations of the given components at every free node, in node order.
std::vector<int> planeDofs(const Cantilever& c, int translation, int rotation) {
  std::vector<int> d;
  for (int node = 1; node <= c.tipNode(); ++node) {
    d.push_back(c.dof(node, translation));
    d.push_back(c.dof(node, rotation));
  }
  return d;
}

TEST(Cantilever, SizeAndSupport) {
  const Cantilever c(slenderBar(24));
  EXPECT_EQ(c.size(), 6 * 24);
  for (int comp = 0; comp < 6; ++comp) {
    EXPECT_EQ(c.dof(0, comp), -1);
    EXPECT_EQ(c.dof(1, comp), comp);
    EXPECT_EQ(c.dof(c.tipNode(), comp), 6 * 23 + comp);
  }
  EXPECT_DOUBLE_EQ(c.coordinates(c.tipNode())[0], 10.0);
  EXPECT_THROW(Cantilever(slenderBar(0)), std::invalid_argument);
}

// Closed-form tip response of a cantilever, which cubic elements reproduce exactly: deflection
// P L^3 / (3 E I), rotation P L^2 / (2 E I), extension P L / (E A), twist T L / (G J).
TEST(Cantilever, TipLoadsMatchBeamTheory) {
  for (const Vec3 orientation : {Vec3{0, 0, 1}, Vec3{0, 1, 0}}) {
    CantileverParameters p = slenderBar(24);
    p.orientation = orientation;
    const Cantilever c(p);
    const DenseSink dense = assembleDense(c);
    const int n = c.size();
    const BeamSection& s = p.section;
    const double L = p.length;
    // With v = Z the local y axis is vertical, so vertical bending uses Iz; with v = Y it uses Iy.
    const bool vUp = orientation[2] == 1.0;
    const double EIvertical = s.E * (vUp ? s.Iz : s.Iy);
    const double EIhorizontal = s.E * (vUp ? s.Iy : s.Iz);
    const int tip = c.tipNode();
    const double P = 1000.0;

    std::vector<double> f(n, 0.0);
    f[c.dof(tip, kUz)] = -P;
    std::vector<double> u = testing::solveSpd(dense.matrix(kStiffness), n, f);
    const double wz = -P * L * L * L / (3 * EIvertical);
    EXPECT_NEAR(u[c.dof(tip, kUz)], wz, 1e-9 * std::fabs(wz));
    EXPECT_NEAR(u[c.dof(tip, kRy)], P * L * L / (2 * EIvertical),
                1e-9 * P * L * L / (2 * EIvertical));
    std::printf("tip deflection in Z under %g N: %.10g m, P L^3/(3EI) = %.10g m\n", P,
                u[c.dof(tip, kUz)], wz);

    f.assign(n, 0.0);
    f[c.dof(tip, kUy)] = P;
    u = testing::solveSpd(dense.matrix(kStiffness), n, f);
    const double vy = P * L * L * L / (3 * EIhorizontal);
    EXPECT_NEAR(u[c.dof(tip, kUy)], vy, 1e-9 * vy);
    EXPECT_NEAR(u[c.dof(tip, kRz)], P * L * L / (2 * EIhorizontal),
                1e-9 * P * L * L / (2 * EIhorizontal));

    f.assign(n, 0.0);
    f[c.dof(tip, kUx)] = P;
    f[c.dof(tip, kRx)] = P;
    u = testing::solveSpd(dense.matrix(kStiffness), n, f);
    EXPECT_NEAR(u[c.dof(tip, kUx)], P * L / (s.E * s.A), 1e-9 * P * L / (s.E * s.A));
    EXPECT_NEAR(u[c.dof(tip, kRx)], P * L / (s.G * s.J), 1e-9 * P * L / (s.G * s.J));
  }
}

// Bending frequencies of a uniform cantilever: omega_n = beta_n^2 sqrt(E I / (m L^4)). Lumping
// converges more slowly (its error grows as (n h / L)^2), so it gets 1 % where consistent mass
// gets 0.5 %.
TEST(Cantilever, BendingFrequenciesMatchClosedForm) {
  const double beta[] = {1.875104, 4.694091, 7.854757};
  for (MassKind kind : {MassKind::Consistent, MassKind::Lumped}) {
    const double tolerance = kind == MassKind::Consistent ? 0.005 : 0.01;
    CantileverParameters p = slenderBar(24);
    p.mass = kind;
    const Cantilever c(p);
    const DenseSink dense = assembleDense(c);
    const int n = c.size();
    const BeamSection& s = p.section;
    const double m = s.rho * s.A;
    const double L = p.length;
    const struct {
      const char* name;
      int translation;
      int rotation;
      double EI;
    } planes[] = {{"vertical (uz, ry)", kUz, kRy, s.E * s.Iz},
                  {"horizontal (uy, rz)", kUy, kRz, s.E * s.Iy}};
    for (const auto& plane : planes) {
      const std::vector<int> idx = planeDofs(c, plane.translation, plane.rotation);
      // The plane's DOFs are coupled to no other, so its block holds exact modes of the whole.
      for (int which : {kStiffness, kMass}) {
        for (int other = 0; other < n; ++other) {
          if (std::find(idx.begin(), idx.end(), other) != idx.end()) continue;
          for (int d : idx) ASSERT_EQ(dense.at(d, other, which), 0.0);
        }
      }
      const std::vector<double> lambda = testing::generalizedEigenvalues(
          testing::submatrix(dense.matrix(kStiffness), n, idx),
          testing::submatrix(dense.matrix(kMass), n, idx), static_cast<int>(idx.size()));
      for (int mode = 0; mode < 3; ++mode) {
        const double theory = beta[mode] * beta[mode] * std::sqrt(plane.EI / (m * L * L * L * L));
        const double computed = std::sqrt(lambda[mode]);
        std::printf("%s mass, %s mode %d: omega %.6f rad/s, theory %.6f, error %+.4f %%\n",
                    kind == MassKind::Consistent ? "consistent" : "lumped (HRZ)", plane.name,
                    mode + 1, computed, theory, 100.0 * (computed - theory) / theory);
        EXPECT_NEAR(computed, theory, tolerance * theory) << plane.name << " mode " << mode + 1;
      }
    }
  }
}

}  // namespace
}  // namespace orv::models
