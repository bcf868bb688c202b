#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "dense.h"
#include "models/models.h"

namespace orv::models {
namespace {

using testing::assembleDense;
using testing::DenseSink;

// Natural-coordinate signs of the element's corners, as documented in hex8.h.
constexpr int kSign[8][3] = {{-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1},
                             {-1, -1, 1},  {1, -1, 1},  {1, 1, 1},  {-1, 1, 1}};

// A skewed, tapered element with no two faces parallel.
Hex8Coordinates distorted() {
  return {{{0.0, 0.0, 0.0},
           {2.1, 0.2, -0.1},
           {2.3, 1.7, 0.2},
           {-0.2, 1.4, 0.1},
           {0.1, -0.2, 1.6},
           {1.9, 0.1, 1.3},
           {2.0, 1.9, 1.8},
           {0.2, 1.6, 1.5}}};
}

std::vector<double> toVector(const Matrix24& a) { return std::vector<double>(a.begin(), a.end()); }

double maxAbs(const Matrix24& a) {
  double m = 0.0;
  for (double v : a) m = std::max(m, std::fabs(v));
  return m;
}

TEST(Hex8Element, StiffnessIsSymmetricWithExactlySixRigidBodyModes) {
  const Hex8Coordinates x = distorted();
  const Matrix24 k = hex8Stiffness(x, 200e9, 0.3);
  const double scale = maxAbs(k);
  for (int r = 0; r < 24; ++r) {
    for (int c = 0; c < r; ++c) EXPECT_NEAR(k[r * 24 + c], k[c * 24 + r], 1e-13 * scale);
  }
  // Translations and infinitesimal rotations u = t + w x x.
  for (int mode = 0; mode < 6; ++mode) {
    std::array<double, 24> u{};
    for (int a = 0; a < 8; ++a) {
      if (mode < 3) {
        u[3 * a + mode] = 1.0;
      } else {
        Vec3 w{};
        w[mode - 3] = 1.0;
        u[3 * a] = w[1] * x[a][2] - w[2] * x[a][1];
        u[3 * a + 1] = w[2] * x[a][0] - w[0] * x[a][2];
        u[3 * a + 2] = w[0] * x[a][1] - w[1] * x[a][0];
      }
    }
    for (int r = 0; r < 24; ++r) {
      double f = 0.0;
      for (int c = 0; c < 24; ++c) f += k[r * 24 + c] * u[c];
      EXPECT_NEAR(f, 0.0, 1e-12 * scale * 3.0) << "mode " << mode;
    }
  }
  // Full integration leaves no spurious zero-energy mode.
  const std::vector<double> lambda = testing::eigenvalues(toVector(k), 24);
  for (int i = 0; i < 6; ++i) EXPECT_LT(std::fabs(lambda[i]), 1e-12 * lambda[23]);
  for (int i = 6; i < 24; ++i) EXPECT_GT(lambda[i], 1e-4 * lambda[23]);
  Hex8Coordinates inverted = x;
  std::swap(inverted[0], inverted[4]);
  std::swap(inverted[1], inverted[5]);
  std::swap(inverted[2], inverted[6]);
  std::swap(inverted[3], inverted[7]);
  EXPECT_THROW(hex8Stiffness(inverted, 200e9, 0.3), std::invalid_argument);
}

// Sum of the consistent mass over one direction is rho V; for a parallelepiped V is the triple
// product of its edges.
TEST(Hex8Element, ConsistentMassTotalsRhoVolume) {
  const Vec3 e1 = {2.0, 0.3, 0.1};
  const Vec3 e2 = {-0.4, 1.5, 0.2};
  const Vec3 e3 = {0.3, -0.2, 1.2};
  Hex8Coordinates x{};
  for (int a = 0; a < 8; ++a) {
    for (int c = 0; c < 3; ++c) {
      x[a][c] = (kSign[a][0] > 0 ? e1[c] : 0.0) + (kSign[a][1] > 0 ? e2[c] : 0.0) +
                (kSign[a][2] > 0 ? e3[c] : 0.0);
    }
  }
  const double volume = e1[0] * (e2[1] * e3[2] - e2[2] * e3[1]) -
                        e1[1] * (e2[0] * e3[2] - e2[2] * e3[0]) +
                        e1[2] * (e2[0] * e3[1] - e2[1] * e3[0]);
  const double rho = 7850.0;
  const Matrix24 m = hex8Mass(x, rho);
  for (int c = 0; c < 3; ++c) {
    double total = 0.0;
    for (int a = 0; a < 8; ++a) {
      for (int b = 0; b < 8; ++b) {
        total += m[(3 * a + c) * 24 + 3 * b + c];
        for (int d = 0; d < 3; ++d) {
          if (d != c) {
            EXPECT_EQ(m[(3 * a + c) * 24 + 3 * b + d], 0.0);
          }
        }
      }
    }
    EXPECT_NEAR(total, rho * volume, 1e-12 * rho * volume);
  }
  EXPECT_TRUE(testing::isPositiveDefinite(toVector(m), 24));
}

// Patch test: eight distorted elements fill the unit cube around one interior node. With a linear
// displacement field prescribed on the boundary nodes, the interior node must take the same field
// and every element must show its constant strain.
TEST(Hex8Element, PatchTestReproducesUniformStrain) {
  std::vector<Vec3> nodes;
  auto id = [](int i, int j, int k) { return (k * 3 + j) * 3 + i; };
  for (int k = 0; k < 3; ++k) {
    for (int j = 0; j < 3; ++j) {
      for (int i = 0; i < 3; ++i) nodes.push_back({0.5 * i, 0.5 * j, 0.5 * k});
    }
  }
  // Mid-side and face-centre nodes slide within the cube's surface; the centre moves freely.
  nodes[id(1, 0, 0)] = {0.42, 0.0, 0.0};
  nodes[id(0, 1, 0)] = {0.0, 0.56, 0.0};
  nodes[id(1, 1, 0)] = {0.44, 0.57, 0.0};
  nodes[id(1, 0, 1)] = {0.58, 0.0, 0.45};
  nodes[id(2, 1, 1)] = {1.0, 0.41, 0.55};
  nodes[id(1, 2, 1)] = {0.46, 1.0, 0.57};
  nodes[id(1, 1, 2)] = {0.55, 0.43, 1.0};
  nodes[id(0, 1, 1)] = {0.0, 0.53, 0.44};
  const int centre = id(1, 1, 1);
  nodes[centre] = {0.46, 0.55, 0.43};

  const double G[3][3] = {
      {1.2e-3, 0.4e-3, -0.3e-3}, {-0.2e-3, -0.5e-3, 0.7e-3}, {0.9e-3, 0.1e-3, 0.8e-3}};
  const Vec3 a = {1e-3, -2e-3, 0.5e-3};
  auto field = [&](const Vec3& x) {
    Vec3 u{};
    for (int r = 0; r < 3; ++r) u[r] = a[r] + G[r][0] * x[0] + G[r][1] * x[1] + G[r][2] * x[2];
    return u;
  };

  const int n = 27 * 3;
  std::vector<double> k(std::size_t(n) * n, 0.0);
  std::vector<Hex8Coordinates> elements;
  std::vector<std::array<int, 8>> connectivity;
  for (int ek = 0; ek < 2; ++ek) {
    for (int ej = 0; ej < 2; ++ej) {
      for (int ei = 0; ei < 2; ++ei) {
        Hex8Coordinates x{};
        std::array<int, 8> conn{};
        for (int c = 0; c < 8; ++c) {
          conn[c] = id(ei + (kSign[c][0] > 0), ej + (kSign[c][1] > 0), ek + (kSign[c][2] > 0));
          x[c] = nodes[conn[c]];
        }
        const Matrix24 ke = hex8Stiffness(x, 70e9, 0.33);
        for (int r = 0; r < 24; ++r) {
          for (int c = 0; c < 24; ++c) {
            k[(3 * conn[r / 3] + r % 3) + std::size_t(3 * conn[c / 3] + c % 3) * n] +=
                ke[r * 24 + c];
          }
        }
        elements.push_back(x);
        connectivity.push_back(conn);
      }
    }
  }
  std::vector<double> u(n, 0.0);
  for (int node = 0; node < 27; ++node) {
    if (node == centre) continue;
    const Vec3 v = field(nodes[node]);
    for (int c = 0; c < 3; ++c) u[3 * node + c] = v[c];
  }
  // K_ii u_i = -K_ib u_b for the centre's three DOFs.
  std::vector<double> kii(9);
  std::vector<double> rhs(3, 0.0);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c)
      kii[r + 3 * c] = k[(3 * centre + r) + std::size_t(3 * centre + c) * n];
    for (int c = 0; c < n; ++c) rhs[r] -= k[(3 * centre + r) + std::size_t(c) * n] * u[c];
  }
  const std::vector<double> ui = testing::solveSpd(kii, 3, rhs);
  const Vec3 exact = field(nodes[centre]);
  for (int c = 0; c < 3; ++c) {
    EXPECT_NEAR(ui[c], exact[c], 1e-12) << "component " << c;
    u[3 * centre + c] = ui[c];
  }
  const double strain[6] = {G[0][0],           G[1][1],           G[2][2],
                            G[0][1] + G[1][0], G[1][2] + G[2][1], G[2][0] + G[0][2]};
  const double g = 1.0 / std::sqrt(3.0);
  double volume = 0.0;
  for (std::size_t e = 0; e < elements.size(); ++e) {
    std::array<double, 24> ue{};
    for (int r = 0; r < 24; ++r) ue[r] = u[3 * connectivity[e][r / 3] + r % 3];
    for (const auto& s : kSign) {
      const std::array<double, 6> eps = hex8Strain(elements[e], ue, {s[0] * g, s[1] * g, s[2] * g});
      for (int q = 0; q < 6; ++q) EXPECT_NEAR(eps[q], strain[q], 1e-13) << "element " << e;
    }
    const Matrix24 m = hex8Mass(elements[e], 1.0);
    for (int r = 0; r < 24; r += 3) {
      for (int c = 0; c < 24; c += 3) volume += m[r * 24 + c];
    }
  }
  EXPECT_NEAR(volume, 1.0, 1e-13);
}

TEST(BrickSolid, DofCountsAndNumbering) {
  BrickParameters p;
  p.nx = 5;
  p.ny = 3;
  p.nz = 2;
  const BrickSolid clamped(p);
  EXPECT_EQ(clamped.size(), 3 * 5 * 4 * 3);
  EXPECT_EQ(clamped.nodeCount(), 6 * 4 * 3);
  for (int k = 0; k <= 2; ++k) {
    for (int j = 0; j <= 3; ++j) {
      for (int i = 0; i <= 5; ++i) {
        const int node = clamped.node(i, j, k);
        const Vec3 x = clamped.coordinates(node);
        EXPECT_DOUBLE_EQ(x[0], p.lx * i / 5);
        EXPECT_DOUBLE_EQ(x[1], p.ly * j / 3);
        EXPECT_DOUBLE_EQ(x[2], p.lz * k / 2);
        for (int c = 0; c < 3; ++c) EXPECT_EQ(clamped.dof(node, c) < 0, i == 0);
      }
    }
  }
  EXPECT_EQ(clamped.endFaceNodes().size(), 12u);
  p.support = BrickSupport::Sliding;
  EXPECT_EQ(BrickSolid(p).size(), 3 * 6 * 4 * 3 - 12 - 3);
  p.nu = 0.5;
  EXPECT_THROW(BrickSolid{p}, std::invalid_argument);
  p = BrickParameters{};
  p.nz = 0;
  EXPECT_THROW(BrickSolid{p}, std::invalid_argument);
}

TEST(BrickSolid, StiffnessAndMassArePositiveDefinite) {
  BrickParameters p;
  p.nx = 6;
  for (BrickSupport support : {BrickSupport::Clamped, BrickSupport::Sliding}) {
    p.support = support;
    const BrickSolid b(p);
    const DenseSink dense = assembleDense(b);
    EXPECT_TRUE(testing::isPositiveDefinite(dense.matrix(kStiffness), b.size()));
    EXPECT_TRUE(testing::isPositiveDefinite(dense.matrix(kMass), b.size()));
  }
}

// Uniaxial tension is in the span of the trilinear field, so the mesh reproduces it exactly:
// ux = sigma x / E, uy = -nu sigma y / E, uz = -nu sigma z / E.
TEST(BrickSolid, UniaxialTensionIsExact) {
  for (BrickSupport support : {BrickSupport::Sliding, BrickSupport::Clamped}) {
    BrickParameters p;
    p.nx = 4;
    p.ny = 2;
    p.nz = 3;
    p.lx = 4.0;
    p.ly = 1.0;
    p.lz = 0.5;
    p.E = 200e9;
    // A clamped face forbids the lateral contraction, so it is exact only without Poisson effect.
    p.nu = support == BrickSupport::Sliding ? 0.3 : 0.0;
    p.support = support;
    const BrickSolid b(p);
    const double F = 1e6;
    const std::vector<double> f = b.endFaceLoad(kUx, F);
    double resultant = 0.0;
    for (double v : f) resultant += v;
    EXPECT_NEAR(resultant, F, 1e-9 * F);
    const DenseSink dense = assembleDense(b);
    const std::vector<double> u = testing::solveSpd(dense.matrix(kStiffness), b.size(), f);
    const double strain = F / (p.ly * p.lz) / p.E;
    for (int node = 0; node < b.nodeCount(); ++node) {
      const Vec3 x = b.coordinates(node);
      const double expected[3] = {strain * x[0], -p.nu * strain * x[1], -p.nu * strain * x[2]};
      for (int c = 0; c < 3; ++c) {
        const int d = b.dof(node, c);
        const double value = d < 0 ? 0.0 : u[d];
        EXPECT_NEAR(value, expected[c], 1e-9 * strain * p.lx) << "node " << node << " comp " << c;
      }
    }
  }
}

// A slender clamped bar under an end shear load against Timoshenko beam theory,
// P L^3 / (3 E I) + P L / (kappa G A) with kappa = 5/6. Fully integrated trilinear elements are
// too stiff in bending unless they are short compared with their depth, hence nx = 80 with
// 0.125 x 0.5 m element sides.
TEST(BrickSolid, CantileverBendingNearBeamTheory) {
  BrickParameters p;
  p.nx = 80;
  p.ny = 2;
  p.nz = 2;
  p.lx = 10.0;
  p.ly = 1.0;
  p.lz = 1.0;
  p.E = 30e9;
  p.nu = 0.0;
  const BrickSolid b(p);
  const double P = 1e5;
  const DenseSink dense = assembleDense(b);
  const std::vector<double> u =
      testing::solveSpd(dense.matrix(kStiffness), b.size(), b.endFaceLoad(kUz, -P));
  double tip = 0.0;
  const std::vector<int> face = b.endFaceNodes();
  for (int node : face) tip += u[b.dof(node, kUz)];
  tip /= static_cast<double>(face.size());
  const double I = p.ly * std::pow(p.lz, 3) / 12.0;
  const double G = p.E / (2.0 * (1.0 + p.nu));
  const double theory =
      -(P * std::pow(p.lx, 3) / (3.0 * p.E * I) + P * p.lx / (5.0 / 6.0 * G * p.ly * p.lz));
  std::printf("brick cantilever tip deflection %.6e m, Timoshenko beam %.6e m, ratio %.4f\n", tip,
              theory, tip / theory);
  EXPECT_NEAR(tip, theory, 0.05 * std::fabs(theory));
}

}  // namespace
}  // namespace orv::models
