#include "models/beam3d.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace orv::models {

namespace {

Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

double norm(const Vec3& a) { return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]); }

// Adds the symmetric 4 x 4 bending block b (order: v_i, theta_i, v_j, theta_j) at local DOFs d.
void addBlock(Matrix12& m, const std::array<int, 4>& d, const std::array<double, 16>& b,
              double factor) {
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) m[d[r] * 12 + d[c]] += factor * b[r * 4 + c];
  }
}

// Adds the 2 x 2 block factor [2 1; 1 2] / 6 or factor [1 -1; -1 1] at local DOFs a, b.
void addPair(Matrix12& m, int a, int b, double diagonal, double offDiagonal) {
  m[a * 12 + a] += diagonal;
  m[b * 12 + b] += diagonal;
  m[a * 12 + b] += offDiagonal;
  m[b * 12 + a] += offDiagonal;
}

// Bending DOFs (v_i, theta_i, v_j, theta_j) of the two planes. In the x-z plane a positive ry
// lowers w (w' = -ry), which flips the sign of every translation-rotation coupling.
constexpr std::array<int, 4> kPlaneXY = {1, 5, 7, 11};
constexpr std::array<int, 4> kPlaneXZ = {2, 4, 8, 10};

std::array<double, 16> flipCoupling(std::array<double, 16> b) {
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      if ((r % 2) != (c % 2)) b[r * 4 + c] = -b[r * 4 + c];
    }
  }
  return b;
}

}  // namespace

BeamSection rectangularSection(double E, double nu, double rho, double width, double depth) {
  const double a = std::max(width, depth);
  const double b = std::min(width, depth);
  const double ratio = b / a;
  BeamSection s{};
  s.E = E;
  s.G = E / (2.0 * (1.0 + nu));
  s.A = width * depth;
  s.Iz = width * depth * depth * depth / 12.0;
  s.Iy = depth * width * width * width / 12.0;
  s.J = a * b * b * b * (1.0 / 3.0 - 0.21 * ratio * (1.0 - std::pow(ratio, 4) / 12.0));
  s.rho = rho;
  return s;
}

BeamSection iSection(double E, double nu, double rho, double depth, double flangeWidth,
                     double webThickness, double flangeThickness) {
  const double webHeight = depth - 2.0 * flangeThickness;
  BeamSection s{};
  s.E = E;
  s.G = E / (2.0 * (1.0 + nu));
  s.A = 2.0 * flangeWidth * flangeThickness + webHeight * webThickness;
  s.Iz =
      (flangeWidth * std::pow(depth, 3) - (flangeWidth - webThickness) * std::pow(webHeight, 3)) /
      12.0;
  s.Iy =
      (2.0 * flangeThickness * std::pow(flangeWidth, 3) + webHeight * std::pow(webThickness, 3)) /
      12.0;
  s.J = (2.0 * flangeWidth * std::pow(flangeThickness, 3) +
         (depth - flangeThickness) * std::pow(webThickness, 3)) /
        3.0;
  s.rho = rho;
  return s;
}

BeamSection concreteColumn() { return rectangularSection(30e9, 0.2, 2500.0, 0.5, 0.5); }
BeamSection concreteBeam() { return rectangularSection(30e9, 0.2, 2500.0, 0.3, 0.6); }
BeamSection steelColumn() { return iSection(210e9, 0.3, 7850.0, 0.300, 0.300, 0.011, 0.019); }
BeamSection steelBeam() { return iSection(210e9, 0.3, 7850.0, 0.400, 0.180, 0.0086, 0.0135); }

Matrix12 beamLocalStiffness(const BeamSection& s, double length) {
  const double L = length;
  Matrix12 k{};
  addPair(k, 0, 6, s.E * s.A / L, -s.E * s.A / L);
  addPair(k, 3, 9, s.G * s.J / L, -s.G * s.J / L);
  const std::array<double, 16> bending = {
      12.0 / (L * L * L),  6.0 / (L * L),  -12.0 / (L * L * L), 6.0 / (L * L),   //
      6.0 / (L * L),       4.0 / L,        -6.0 / (L * L),      2.0 / L,         //
      -12.0 / (L * L * L), -6.0 / (L * L), 12.0 / (L * L * L),  -6.0 / (L * L),  //
      6.0 / (L * L),       2.0 / L,        -6.0 / (L * L),      4.0 / L};
  addBlock(k, kPlaneXY, bending, s.E * s.Iz);
  addBlock(k, kPlaneXZ, flipCoupling(bending), s.E * s.Iy);
  return k;
}

Matrix12 beamLocalMass(const BeamSection& s, double length, MassKind kind,
                       RotationalMass rotation) {
  const double L = length;
  const double m = s.rho * s.A;
  const double polar = s.rho * (s.Iy + s.Iz);
  Matrix12 mass{};
  if (kind == MassKind::Lumped) {
    for (int d : {0, 1, 2, 6, 7, 8}) mass[d * 12 + d] = m * L / 2.0;
    if (rotation == RotationalMass::Hrz) {
      for (int d : {3, 9}) mass[d * 12 + d] = polar * L / 2.0;
      for (int d : {4, 5, 10, 11}) mass[d * 12 + d] = m * L * L * L / 78.0;
    }
    return mass;
  }
  addPair(mass, 0, 6, m * L / 3.0, m * L / 6.0);
  addPair(mass, 3, 9, polar * L / 3.0, polar * L / 6.0);
  const std::array<double, 16> translational = {
      156.0,     22.0 * L,     54.0,      -13.0 * L,     //
      22.0 * L,  4.0 * L * L,  13.0 * L,  -3.0 * L * L,  //
      54.0,      13.0 * L,     156.0,     -22.0 * L,     //
      -13.0 * L, -3.0 * L * L, -22.0 * L, 4.0 * L * L};
  const std::array<double, 16> rotatory = {36.0,    3.0 * L,     -36.0,    3.0 * L,   //
                                           3.0 * L, 4.0 * L * L, -3.0 * L, -L * L,    //
                                           -36.0,   -3.0 * L,    36.0,     -3.0 * L,  //
                                           3.0 * L, -L * L,      -3.0 * L, 4.0 * L * L};
  addBlock(mass, kPlaneXY, translational, m * L / 420.0);
  addBlock(mass, kPlaneXZ, flipCoupling(translational), m * L / 420.0);
  addBlock(mass, kPlaneXY, rotatory, s.rho * s.Iz / (30.0 * L));
  addBlock(mass, kPlaneXZ, flipCoupling(rotatory), s.rho * s.Iy / (30.0 * L));
  return mass;
}

Rotation beamRotation(const Vec3& xi, const Vec3& xj, const Vec3& orientation) {
  Vec3 ex = {xj[0] - xi[0], xj[1] - xi[1], xj[2] - xi[2]};
  const double length = norm(ex);
  if (!(length > 0.0)) throw std::invalid_argument("beam element with coincident nodes");
  for (double& c : ex) c /= length;
  Vec3 ez = cross(ex, orientation);
  const double zNorm = norm(ez);
  // Below this the orientation vector is too close to the axis to define a plane reliably.
  if (!(zNorm > 1e-9 * norm(orientation))) {
    throw std::invalid_argument("beam orientation vector parallel to the element axis");
  }
  for (double& c : ez) c /= zNorm;
  const Vec3 ey = cross(ez, ex);
  return {ex[0], ex[1], ex[2], ey[0], ey[1], ey[2], ez[0], ez[1], ez[2]};
}

Matrix12 beamToGlobal(const Matrix12& local, const Rotation& r) {
  Matrix12 global{};
  for (int bi = 0; bi < 4; ++bi) {
    for (int bj = 0; bj < 4; ++bj) {
      // Block (bi, bj) becomes R^T A_block R.
      for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b) {
          double sum = 0.0;
          for (int p = 0; p < 3; ++p) {
            for (int q = 0; q < 3; ++q) {
              sum += r[p * 3 + a] * local[(bi * 3 + p) * 12 + bj * 3 + q] * r[q * 3 + b];
            }
          }
          global[(bi * 3 + a) * 12 + bj * 3 + b] = sum;
        }
      }
    }
  }
  return global;
}

}  // namespace orv::models
