// Structures of 3D beam-column elements: a straight cantilever and a building frame.
//
// Both are generated element by element in a fixed order, with fixed supports eliminated from the
// DOF numbering. Nodes carry six DOFs (kUx .. kRz).
#pragma once

#include <span>
#include <vector>

#include "models/beam3d.h"
#include "models/model.h"

namespace orv::models {

struct BeamMember {
  int nodeI;
  int nodeJ;
  BeamSection section;
  Vec3 orientation;
};

// Nodes, members and point masses; the stiffness and mass of the members in global axes.
class BeamStructure : public Model {
 public:
  int nodeCount() const { return static_cast<int>(nodes_.size()); }
  const Vec3& coordinates(int node) const { return nodes_[node]; }
  std::span<const BeamMember> members() const { return members_; }
  double memberLength(const BeamMember& member) const;
  // Translational point mass at a node (added in x, y and z), beyond the members' own mass.
  double pointMass(int node) const { return pointMass_[node]; }

  void assembleStiffness(AssemblySink& sink) const override;
  void assembleMass(AssemblySink& sink) const override;

 protected:
  BeamStructure(MassKind mass, RotationalMass lumpedRotation)
      : massKind_(mass), lumpedRotation_(lumpedRotation) {}

  std::vector<Vec3> nodes_;
  std::vector<BeamMember> members_;
  std::vector<double> pointMass_;

 private:
  std::array<int, 12> memberDofs(const BeamMember& member) const;

  MassKind massKind_;
  RotationalMass lumpedRotation_;
};

struct CantileverParameters {
  int elements = 20;
  double length = 10.0;
  BeamSection section = steelBeam();
  // With the default the local y axis is global Z: vertical bending uses Iz, horizontal uses Iy.
  Vec3 orientation = {0.0, 0.0, 1.0};
  MassKind mass = MassKind::Consistent;
  RotationalMass lumpedRotation = RotationalMass::Hrz;
};

// Straight cantilever along global X from the origin; node k sits at x = k L / elements and node 0
// is fixed in all six DOFs. size() is 6 * elements.
class Cantilever : public BeamStructure {
 public:
  explicit Cantilever(const CantileverParameters& parameters = {});
  const CantileverParameters& parameters() const { return parameters_; }
  int tipNode() const { return parameters_.elements; }

 private:
  CantileverParameters parameters_;
};

struct FrameParameters {
  int storeys = 5;
  int baysX = 3;
  int baysY = 3;
  double storeyHeight = 3.5;
  double bayX = 6.0;
  double bayY = 6.0;
  // Columns have local y along global X (Iz resists sway in X, Iy sway in Y); beams have local y
  // along global Z (Iz resists vertical bending).
  BeamSection column = concreteColumn();
  BeamSection beam = concreteBeam();
  MassKind mass = MassKind::Consistent;
  RotationalMass lumpedRotation = RotationalMass::Hrz;
  // Floor mass per unit area (slabs, finishes, live load share), lumped at the floor nodes by
  // tributary area; 0 leaves the members' own mass only.
  double floorMass = 0.0;
  // Ground nodes fixed in all six DOFs; false leaves the frame free (for mass checks).
  bool fixedBase = true;
};

// Building frame of storeys x baysX x baysY bays: a column line at every grid point, beams along X
// and Y at every floor. Level 0 is the ground, level s the floor of storey s (1..storeys).
// With a fixed base, size() is 6 (baysX + 1) (baysY + 1) storeys.
class BuildingFrame : public BeamStructure {
 public:
  explicit BuildingFrame(const FrameParameters& parameters = {});
  const FrameParameters& parameters() const { return parameters_; }

  int node(int ix, int iy, int level) const;
  // The nodes of one level, in grid order.
  std::vector<int> storeyNodes(int level) const;

  // Storey forces (one per storey, bottom up) along kUx or kUy, shared equally by the nodes of each
  // floor.
  std::vector<double> lateralLoad(int component, std::span<const double> storeyForces) const;
  // Mean displacement of a level's nodes along component (fixed DOFs count as 0).
  double storeyDisplacement(std::span<const double> u, int level, int component) const;
  // Interstorey drifts, bottom up: mean displacement of each floor less that of the level below.
  std::vector<double> storeyDrifts(std::span<const double> u, int component) const;

  // Inverted-triangle storey forces for equal storey masses and heights: F_s = V s / sum(1..n).
  static std::vector<double> triangularStoreyForces(int storeys, double baseShear);
  // Storey shears, bottom up: the sum of the forces on the storey and those above it.
  static std::vector<double> storeyShears(std::span<const double> storeyForces);

 private:
  FrameParameters parameters_;
};

}  // namespace orv::models
