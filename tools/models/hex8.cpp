#include "models/hex8.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace orv::models {

namespace {

constexpr std::array<Vec3, 8> kCorners = {{{-1, -1, -1},
                                           {1, -1, -1},
                                           {1, 1, -1},
                                           {-1, 1, -1},
                                           {-1, -1, 1},
                                           {1, -1, 1},
                                           {1, 1, 1},
                                           {-1, 1, 1}}};

struct ShapeAtPoint {
  std::array<double, 8> n;
  std::array<Vec3, 8> dx;  // dN/dx, dN/dy, dN/dz
  double detJ;
};

ShapeAtPoint evaluate(const Hex8Coordinates& x, const Vec3& p) {
  ShapeAtPoint s{};
  std::array<Vec3, 8> dn{};
  for (int a = 0; a < 8; ++a) {
    const Vec3& c = kCorners[a];
    const double f0 = 1.0 + c[0] * p[0];
    const double f1 = 1.0 + c[1] * p[1];
    const double f2 = 1.0 + c[2] * p[2];
    s.n[a] = f0 * f1 * f2 / 8.0;
    dn[a] = {c[0] * f1 * f2 / 8.0, f0 * c[1] * f2 / 8.0, f0 * f1 * c[2] / 8.0};
  }
  // j[r][c] = d x_c / d xi_r
  double j[3][3] = {};
  for (int a = 0; a < 8; ++a) {
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) j[r][c] += dn[a][r] * x[a][c];
    }
  }
  const double det = j[0][0] * (j[1][1] * j[2][2] - j[1][2] * j[2][1]) -
                     j[0][1] * (j[1][0] * j[2][2] - j[1][2] * j[2][0]) +
                     j[0][2] * (j[1][0] * j[2][1] - j[1][1] * j[2][0]);
  if (!(det > 0.0)) throw std::invalid_argument("hexahedron with non-positive Jacobian");
  const double inv[3][3] = {
      {(j[1][1] * j[2][2] - j[1][2] * j[2][1]) / det, (j[0][2] * j[2][1] - j[0][1] * j[2][2]) / det,
       (j[0][1] * j[1][2] - j[0][2] * j[1][1]) / det},
      {(j[1][2] * j[2][0] - j[1][0] * j[2][2]) / det, (j[0][0] * j[2][2] - j[0][2] * j[2][0]) / det,
       (j[0][2] * j[1][0] - j[0][0] * j[1][2]) / det},
      {(j[1][0] * j[2][1] - j[1][1] * j[2][0]) / det, (j[0][1] * j[2][0] - j[0][0] * j[2][1]) / det,
       (j[0][0] * j[1][1] - j[0][1] * j[1][0]) / det}};
  for (int a = 0; a < 8; ++a) {
    for (int c = 0; c < 3; ++c) {
      s.dx[a][c] = inv[c][0] * dn[a][0] + inv[c][1] * dn[a][1] + inv[c][2] * dn[a][2];
    }
  }
  s.detJ = det;
  return s;
}

// 6 x 24 strain-displacement matrix, row-major.
std::array<double, 144> strainMatrix(const ShapeAtPoint& s) {
  std::array<double, 144> b{};
  for (int a = 0; a < 8; ++a) {
    const double bx = s.dx[a][0];
    const double by = s.dx[a][1];
    const double bz = s.dx[a][2];
    const int c = 3 * a;
    b[0 * 24 + c] = bx;
    b[1 * 24 + c + 1] = by;
    b[2 * 24 + c + 2] = bz;
    b[3 * 24 + c] = by;
    b[3 * 24 + c + 1] = bx;
    b[4 * 24 + c + 1] = bz;
    b[4 * 24 + c + 2] = by;
    b[5 * 24 + c] = bz;
    b[5 * 24 + c + 2] = bx;
  }
  return b;
}

template <typename F>
void forEachGaussPoint(F&& f) {
  const double g = 1.0 / std::sqrt(3.0);
  for (const Vec3& c : kCorners) f(Vec3{c[0] * g, c[1] * g, c[2] * g});
}

}  // namespace

Matrix24 hex8Stiffness(const Hex8Coordinates& x, double E, double nu) {
  const double lambda = E * nu / ((1.0 + nu) * (1.0 - 2.0 * nu));
  const double mu = E / (2.0 * (1.0 + nu));
  double d[6][6] = {};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) d[r][c] = lambda;
    d[r][r] = lambda + 2.0 * mu;
    d[r + 3][r + 3] = mu;
  }
  Matrix24 k{};
  forEachGaussPoint([&](const Vec3& p) {
    const ShapeAtPoint s = evaluate(x, p);
    const std::array<double, 144> b = strainMatrix(s);
    std::array<double, 144> db{};
    for (int r = 0; r < 6; ++r) {
      for (int c = 0; c < 24; ++c) {
        double sum = 0.0;
        for (int q = 0; q < 6; ++q) sum += d[r][q] * b[q * 24 + c];
        db[r * 24 + c] = sum;
      }
    }
    for (int r = 0; r < 24; ++r) {
      for (int c = 0; c < 24; ++c) {
        double sum = 0.0;
        for (int q = 0; q < 6; ++q) sum += b[q * 24 + r] * db[q * 24 + c];
        k[r * 24 + c] += sum * s.detJ;
      }
    }
  });
  return k;
}

Matrix24 hex8Mass(const Hex8Coordinates& x, double rho) {
  Matrix24 m{};
  forEachGaussPoint([&](const Vec3& p) {
    const ShapeAtPoint s = evaluate(x, p);
    for (int a = 0; a < 8; ++a) {
      for (int b = 0; b < 8; ++b) {
        const double v = rho * s.n[a] * s.n[b] * s.detJ;
        for (int c = 0; c < 3; ++c) m[(3 * a + c) * 24 + 3 * b + c] += v;
      }
    }
  });
  return m;
}

std::array<double, 6> hex8Strain(const Hex8Coordinates& x, std::span<const double, 24> u,
                                 const Vec3& natural) {
  const std::array<double, 144> b = strainMatrix(evaluate(x, natural));
  std::array<double, 6> strain{};
  for (int r = 0; r < 6; ++r) {
    for (int c = 0; c < 24; ++c) strain[r] += b[r * 24 + c] * u[c];
  }
  return strain;
}

BrickSolid::BrickSolid(const BrickParameters& parameters) : parameters_(parameters) {
  const BrickParameters& p = parameters;
  if (p.nx < 1 || p.ny < 1 || p.nz < 1) {
    throw std::invalid_argument("BrickSolid: needs at least one element each way");
  }
  if (!(p.lx > 0.0 && p.ly > 0.0 && p.lz > 0.0 && p.E > 0.0 && p.rho >= 0.0) ||
      !(p.nu > -1.0 && p.nu < 0.5)) {
    throw std::invalid_argument("BrickSolid: bad dimensions or material");
  }
  // In floating point: the product of three counts near INT_MAX overflows even 64 bits.
  const double nodes = (p.nx + 1.0) * (p.ny + 1.0) * (p.nz + 1.0);
  if (nodes * 3 > std::numeric_limits<int>::max()) {
    throw std::invalid_argument("BrickSolid: too many DOFs for 32-bit indices");
  }
  const int rowNodes = p.nx + 1;
  const int origin = 0;
  const int cornerY = p.ny * rowNodes;
  const bool clamped = p.support == BrickSupport::Clamped;
  dofs_ = DofMap(static_cast<int>(nodes), 3, [=](int n, int c) {
    if (n % rowNodes != 0) return false;
    if (clamped || c == kUx) return true;
    return n == origin || (n == cornerY && c == kUz);
  });
}

int BrickSolid::node(int i, int j, int k) const {
  const BrickParameters& p = parameters_;
  if (i < 0 || i > p.nx || j < 0 || j > p.ny || k < 0 || k > p.nz) {
    throw std::out_of_range("BrickSolid::node: grid position outside the block");
  }
  return (k * (p.ny + 1) + j) * (p.nx + 1) + i;
}

Vec3 BrickSolid::coordinates(int node) const {
  const BrickParameters& p = parameters_;
  const int i = node % (p.nx + 1);
  const int j = node / (p.nx + 1) % (p.ny + 1);
  const int k = node / ((p.nx + 1) * (p.ny + 1));
  return {p.lx * i / p.nx, p.ly * j / p.ny, p.lz * k / p.nz};
}

std::vector<int> BrickSolid::endFaceNodes() const {
  std::vector<int> nodes;
  for (int k = 0; k <= parameters_.nz; ++k) {
    for (int j = 0; j <= parameters_.ny; ++j) nodes.push_back(node(parameters_.nx, j, k));
  }
  return nodes;
}

std::vector<double> BrickSolid::endFaceLoad(int component, double totalForce) const {
  if (component < kUx || component > kUz) {
    throw std::invalid_argument("BrickSolid::endFaceLoad: component must be kUx, kUy or kUz");
  }
  const BrickParameters& p = parameters_;
  // A bilinear face of a regular mesh takes a quarter of its share at each corner.
  const double corner = totalForce / (4.0 * p.ny * p.nz);
  std::vector<double> f(size(), 0.0);
  for (int k = 0; k < p.nz; ++k) {
    for (int j = 0; j < p.ny; ++j) {
      for (int n : {node(p.nx, j, k), node(p.nx, j + 1, k), node(p.nx, j, k + 1),
                    node(p.nx, j + 1, k + 1)}) {
        f[dof(n, component)] += corner;
      }
    }
  }
  return f;
}

Hex8Coordinates BrickSolid::firstElement() const {
  const BrickParameters& p = parameters_;
  const Vec3 h = {p.lx / p.nx, p.ly / p.ny, p.lz / p.nz};
  Hex8Coordinates x{};
  for (int a = 0; a < 8; ++a) {
    for (int c = 0; c < 3; ++c) x[a][c] = kCorners[a][c] > 0 ? h[c] : 0.0;
  }
  return x;
}

std::array<int, 24> BrickSolid::elementDofs(int i, int j, int k) const {
  std::array<int, 24> d{};
  for (int a = 0; a < 8; ++a) {
    const Vec3& c = kCorners[a];
    const int n = node(i + (c[0] > 0 ? 1 : 0), j + (c[1] > 0 ? 1 : 0), k + (c[2] > 0 ? 1 : 0));
    for (int comp = 0; comp < 3; ++comp) d[3 * a + comp] = dof(n, comp);
  }
  return d;
}

void BrickSolid::assembleElements(AssemblySink& sink, const Matrix24& element,
                                  int whichMatrix) const {
  for (int k = 0; k < parameters_.nz; ++k) {
    for (int j = 0; j < parameters_.ny; ++j) {
      for (int i = 0; i < parameters_.nx; ++i) {
        emitElement(sink, elementDofs(i, j, k), element, whichMatrix);
      }
    }
  }
}

void BrickSolid::assembleStiffness(AssemblySink& sink) const {
  // Every element of the regular mesh is a translate of the first, so one matrix serves all.
  assembleElements(sink, hex8Stiffness(firstElement(), parameters_.E, parameters_.nu), kStiffness);
}

void BrickSolid::assembleMass(AssemblySink& sink) const {
  assembleElements(sink, hex8Mass(firstElement(), parameters_.rho), kMass);
}

}  // namespace orv::models
