// Euler-Bernoulli 3D beam-column element: two nodes, six DOFs each (ux uy uz rx ry rz).
//
// Local axes: x runs from node i to node j; the orientation vector v lies in the local x-y plane,
// so z = x cross v and y = z cross x. Bending in the local x-y plane (uy, rz) uses Iz, bending in
// the local x-z plane (uz, ry) uses Iy. Element matrices are row-major 12 x 12 with the DOFs of
// node i first. SI units throughout.
#pragma once

#include <array>

#include "models/model.h"

namespace orv::models {

struct BeamSection {
  double E;    // Young's modulus
  double G;    // shear modulus
  double A;    // area
  double Iy;   // second moment of area about local y (bending in the x-z plane)
  double Iz;   // second moment of area about local z (bending in the x-y plane)
  double J;    // Saint-Venant torsion constant
  double rho;  // density
};

// Solid rectangle: width along local z, depth along local y. J from the series approximation for
// rectangles (within a few per mille for any aspect ratio).
BeamSection rectangularSection(double E, double nu, double rho, double width, double depth);
// Doubly symmetric I-section with the web along local y (so Iz is the strong axis); thin-walled J.
BeamSection iSection(double E, double nu, double rho, double depth, double flangeWidth,
                     double webThickness, double flangeThickness);

// Reinforced concrete (E 30 GPa, nu 0.2, 2500 kg/m3): 0.5 x 0.5 m column, 0.3 x 0.6 m beam.
BeamSection concreteColumn();
BeamSection concreteBeam();
// Structural steel (E 210 GPa, nu 0.3, 7850 kg/m3): HEB 300 column, IPE 400 beam.
BeamSection steelColumn();
BeamSection steelBeam();

enum class MassKind { Consistent, Lumped };
// Rotational inertia of a lumped mass: none, or the diagonal scaling (HRZ) of the consistent
// matrix: rho Ip L / 2 in torsion and m L^3 / 78 in bending per node (m = rho A).
enum class RotationalMass { Zero, Hrz };

using Matrix12 = std::array<double, 144>;
// Rows are the local x, y, z axes in global components.
using Rotation = std::array<double, 9>;

Matrix12 beamLocalStiffness(const BeamSection& s, double length);
// Consistent: cubic bending shapes with rotatory inertia, linear axial and torsional shapes
// (torsional inertia from the polar moment Iy + Iz). Lumped: m L / 2 per translation per node.
Matrix12 beamLocalMass(const BeamSection& s, double length, MassKind kind, RotationalMass rotation);
// Throws std::invalid_argument for coincident nodes or v parallel to the element.
Rotation beamRotation(const Vec3& xi, const Vec3& xj, const Vec3& orientation);
// T^T A T with T = diag(R, R, R, R).
Matrix12 beamToGlobal(const Matrix12& local, const Rotation& r);

}  // namespace orv::models
