// Trilinear 8-node hexahedron (isotropic elasticity, 2 x 2 x 2 Gauss) and a block meshed with it.
//
// Element nodes follow the natural coordinates (xi, eta, zeta): 0 (-,-,-), 1 (+,-,-), 2 (+,+,-),
// 3 (-,+,-), then 4..7 the same at zeta = +1. Element matrices are row-major 24 x 24 with DOF
// 3 a + c for node a, component c (x, y, z). Strains are engineering strains in the order
// xx, yy, zz, xy, yz, zx.
#pragma once

#include <array>
#include <span>
#include <vector>

#include "models/model.h"

namespace orv::models {

using Hex8Coordinates = std::array<Vec3, 8>;
using Matrix24 = std::array<double, 576>;

// Both throw std::invalid_argument when the Jacobian is not positive at a Gauss point.
Matrix24 hex8Stiffness(const Hex8Coordinates& x, double E, double nu);
// Consistent mass (exact for parallelepipeds).
Matrix24 hex8Mass(const Hex8Coordinates& x, double rho);
// Strain at a point given in natural coordinates, for nodal displacements u.
std::array<double, 6> hex8Strain(const Hex8Coordinates& x, std::span<const double, 24> u,
                                 const Vec3& natural);

// Supports of the face x = 0: every DOF fixed, or only what a symmetry plane and the rigid-body
// modes need (ux on the whole face, uy and uz at the origin, uz at the corner y = ly, z = 0), which
// leaves the face free to contract.
enum class BrickSupport { Clamped, Sliding };

struct BrickParameters {
  int nx = 20;
  int ny = 2;
  int nz = 2;
  double lx = 10.0;
  double ly = 1.0;
  double lz = 1.0;
  double E = 30e9;
  double nu = 0.2;
  double rho = 2500.0;
  BrickSupport support = BrickSupport::Clamped;
};

// Block [0, lx] x [0, ly] x [0, lz] of nx x ny x nz equal hexahedra, 3 DOFs per node; node (i, j,
// k) sits at (i lx / nx, j ly / ny, k lz / nz). Clamped, size() is 3 nx (ny + 1) (nz + 1).
class BrickSolid : public Model {
 public:
  explicit BrickSolid(const BrickParameters& parameters = {});
  const BrickParameters& parameters() const { return parameters_; }

  int nodeCount() const { return dofs_.nodeCount(); }
  int node(int i, int j, int k) const;
  Vec3 coordinates(int node) const;
  // Nodes of the free end face x = lx.
  std::vector<int> endFaceNodes() const;
  // Nodal forces of a uniform traction on the face x = lx whose resultant is totalForce along
  // component.
  std::vector<double> endFaceLoad(int component, double totalForce) const;

  void assembleStiffness(AssemblySink& sink) const override;
  void assembleMass(AssemblySink& sink) const override;

 private:
  std::array<int, 24> elementDofs(int i, int j, int k) const;
  void assembleElements(AssemblySink& sink, const Matrix24& element, int whichMatrix) const;
  Hex8Coordinates firstElement() const;

  BrickParameters parameters_;
};

}  // namespace orv::models
