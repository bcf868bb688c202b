// DOF numbering with supports eliminated, and the interface every generated model offers.
#pragma once

#include <array>
#include <functional>
#include <span>
#include <vector>

#include "models/sink.h"

namespace orv::models {

using Vec3 = std::array<double, 3>;

// Components of a node's DOFs. Solids use the three translations only.
inline constexpr int kUx = 0;
inline constexpr int kUy = 1;
inline constexpr int kUz = 2;
inline constexpr int kRx = 3;
inline constexpr int kRy = 4;
inline constexpr int kRz = 5;

// Equation numbers of (node, component): free DOFs numbered 0, 1, ... node by node, components
// in order; a fixed DOF has no equation (it is eliminated, not penalised).
class DofMap {
 public:
  DofMap() = default;
  DofMap(int nodeCount, int dofsPerNode, const std::function<bool(int node, int component)>& fixed);

  int size() const { return size_; }
  int nodeCount() const { return nodeCount_; }
  int dofsPerNode() const { return dofsPerNode_; }
  // The equation of (node, component), or -1 when that DOF is fixed.
  int dof(int node, int component) const { return equation_[node * dofsPerNode_ + component]; }
  bool fixed(int node, int component) const { return dof(node, component) < 0; }

 private:
  std::vector<int> equation_;
  int nodeCount_ = 0;
  int dofsPerNode_ = 0;
  int size_ = 0;
};

// Hands the lower triangle of a dense element matrix (row-major, count x count, element DOF k
// mapped to equation dofs[k], -1 for a fixed one) to the sink. Exact zeros are left out, as a host
// leaves out what it knows to be empty.
void emitElement(AssemblySink& sink, std::span<const int> dofs, std::span<const double> matrix,
                 int whichMatrix);

class Model {
 public:
  virtual ~Model() = default;

  // Number of equations, known before assembly.
  int size() const { return dofs_.size(); }
  const DofMap& dofs() const { return dofs_; }
  // Equation of (node, component), -1 at a support.
  int dof(int node, int component) const { return dofs_.dof(node, component); }

  virtual void assembleStiffness(AssemblySink& sink) const = 0;
  virtual void assembleMass(AssemblySink& sink) const = 0;
  void assemble(AssemblySink& sink) const;

  // M x (or K x) computed element by element, without storing a matrix.
  std::vector<double> multiply(std::span<const double> x, int whichMatrix) const;
  // 1 at every free DOF of translational component (kUx, kUy, kUz), 0 elsewhere.
  std::vector<double> translation(int component) const;
  // Loads of the self-weight: -g M r with r the unit translation along kUz. Consistent masses give
  // consistent nodal moments as well.
  std::vector<double> gravityLoad(double g = 9.80665) const;

 protected:
  DofMap dofs_;
};

}  // namespace orv::models
