#include "models/frame.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace orv::models {

double BeamStructure::memberLength(const BeamMember& member) const {
  const Vec3& a = nodes_[member.nodeI];
  const Vec3& b = nodes_[member.nodeJ];
  return std::hypot(b[0] - a[0], b[1] - a[1], b[2] - a[2]);
}

std::array<int, 12> BeamStructure::memberDofs(const BeamMember& member) const {
  std::array<int, 12> d{};
  for (int c = 0; c < 6; ++c) {
    d[c] = dof(member.nodeI, c);
    d[6 + c] = dof(member.nodeJ, c);
  }
  return d;
}

void BeamStructure::assembleStiffness(AssemblySink& sink) const {
  for (const BeamMember& member : members_) {
    const Rotation r = beamRotation(nodes_[member.nodeI], nodes_[member.nodeJ], member.orientation);
    const Matrix12 k = beamToGlobal(beamLocalStiffness(member.section, memberLength(member)), r);
    emitElement(sink, memberDofs(member), k, kStiffness);
  }
}

void BeamStructure::assembleMass(AssemblySink& sink) const {
  for (const BeamMember& member : members_) {
    const Rotation r = beamRotation(nodes_[member.nodeI], nodes_[member.nodeJ], member.orientation);
    const Matrix12 m = beamToGlobal(
        beamLocalMass(member.section, memberLength(member), massKind_, lumpedRotation_), r);
    emitElement(sink, memberDofs(member), m, kMass);
  }
  for (int node = 0; node < nodeCount(); ++node) {
    if (pointMass_[node] == 0.0) continue;
    for (int c = kUx; c <= kUz; ++c) {
      const int d = dof(node, c);
      if (d >= 0) sink.add(d, d, pointMass_[node], kMass);
    }
  }
}

Cantilever::Cantilever(const CantileverParameters& parameters)
    : BeamStructure(parameters.mass, parameters.lumpedRotation), parameters_(parameters) {
  const int n = parameters.elements;
  if (n < 1 || n > std::numeric_limits<int>::max() / 6 - 1 || !(parameters.length > 0.0)) {
    throw std::invalid_argument("Cantilever: needs at least one element and a positive length");
  }
  for (int k = 0; k <= n; ++k) nodes_.push_back({parameters.length * k / n, 0.0, 0.0});
  for (int k = 0; k < n; ++k) {
    members_.push_back({k, k + 1, parameters.section, parameters.orientation});
  }
  pointMass_.assign(nodes_.size(), 0.0);
  dofs_ = DofMap(nodeCount(), 6, [](int node, int) { return node == 0; });
}

BuildingFrame::BuildingFrame(const FrameParameters& parameters)
    : BeamStructure(parameters.mass, parameters.lumpedRotation), parameters_(parameters) {
  const FrameParameters& p = parameters;
  if (p.storeys < 1 || p.baysX < 1 || p.baysY < 1) {
    throw std::invalid_argument("BuildingFrame: needs at least one storey and one bay each way");
  }
  if (!(p.storeyHeight > 0.0 && p.bayX > 0.0 && p.bayY > 0.0) || !(p.floorMass >= 0.0)) {
    throw std::invalid_argument("BuildingFrame: dimensions must be positive");
  }
  // In floating point: the product of three counts near INT_MAX overflows even 64 bits.
  const double nodes = (p.baysX + 1.0) * (p.baysY + 1.0) * (p.storeys + 1.0);
  if (nodes * 6 > std::numeric_limits<int>::max()) {
    throw std::invalid_argument("BuildingFrame: too many DOFs for 32-bit indices");
  }
  const int nx = p.baysX;
  const int ny = p.baysY;
  for (int level = 0; level <= p.storeys; ++level) {
    for (int iy = 0; iy <= ny; ++iy) {
      for (int ix = 0; ix <= nx; ++ix) {
        nodes_.push_back({ix * p.bayX, iy * p.bayY, level * p.storeyHeight});
      }
    }
  }
  const Vec3 columnOrientation = {1.0, 0.0, 0.0};
  const Vec3 beamOrientation = {0.0, 0.0, 1.0};
  for (int level = 1; level <= p.storeys; ++level) {
    for (int iy = 0; iy <= ny; ++iy) {
      for (int ix = 0; ix <= nx; ++ix) {
        members_.push_back(
            {node(ix, iy, level - 1), node(ix, iy, level), p.column, columnOrientation});
      }
    }
    for (int iy = 0; iy <= ny; ++iy) {
      for (int ix = 0; ix < nx; ++ix) {
        members_.push_back({node(ix, iy, level), node(ix + 1, iy, level), p.beam, beamOrientation});
      }
    }
    for (int iy = 0; iy < ny; ++iy) {
      for (int ix = 0; ix <= nx; ++ix) {
        members_.push_back({node(ix, iy, level), node(ix, iy + 1, level), p.beam, beamOrientation});
      }
    }
  }
  pointMass_.assign(nodes_.size(), 0.0);
  const double bayMass = p.floorMass * p.bayX * p.bayY;
  for (int level = 1; level <= p.storeys; ++level) {
    for (int iy = 0; iy <= ny; ++iy) {
      for (int ix = 0; ix <= nx; ++ix) {
        const double wx = (ix == 0 || ix == nx) ? 0.5 : 1.0;
        const double wy = (iy == 0 || iy == ny) ? 0.5 : 1.0;
        pointMass_[node(ix, iy, level)] = bayMass * wx * wy;
      }
    }
  }
  const int groundNodes = (nx + 1) * (ny + 1);
  const bool fixedBase = p.fixedBase;
  dofs_ = DofMap(nodeCount(), 6,
                 [groundNodes, fixedBase](int n, int) { return fixedBase && n < groundNodes; });
}

int BuildingFrame::node(int ix, int iy, int level) const {
  const int nx = parameters_.baysX;
  const int ny = parameters_.baysY;
  if (ix < 0 || ix > nx || iy < 0 || iy > ny || level < 0 || level > parameters_.storeys) {
    throw std::out_of_range("BuildingFrame::node: grid position outside the frame");
  }
  return (level * (ny + 1) + iy) * (nx + 1) + ix;
}

std::vector<int> BuildingFrame::storeyNodes(int level) const {
  std::vector<int> nodes;
  for (int iy = 0; iy <= parameters_.baysY; ++iy) {
    for (int ix = 0; ix <= parameters_.baysX; ++ix) nodes.push_back(node(ix, iy, level));
  }
  return nodes;
}

std::vector<double> BuildingFrame::lateralLoad(int component,
                                               std::span<const double> storeyForces) const {
  if (component != kUx && component != kUy) {
    throw std::invalid_argument("BuildingFrame::lateralLoad: component must be kUx or kUy");
  }
  if (storeyForces.size() != static_cast<std::size_t>(parameters_.storeys)) {
    throw std::invalid_argument("BuildingFrame::lateralLoad: one force per storey expected");
  }
  std::vector<double> f(size(), 0.0);
  for (int level = 1; level <= parameters_.storeys; ++level) {
    const std::vector<int> nodes = storeyNodes(level);
    const double share = storeyForces[level - 1] / static_cast<double>(nodes.size());
    for (int n : nodes) f[dof(n, component)] += share;
  }
  return f;
}

double BuildingFrame::storeyDisplacement(std::span<const double> u, int level,
                                         int component) const {
  if (u.size() != static_cast<std::size_t>(size())) {
    throw std::invalid_argument("BuildingFrame::storeyDisplacement: vector length differs");
  }
  const std::vector<int> nodes = storeyNodes(level);
  double sum = 0.0;
  for (int n : nodes) {
    const int d = dof(n, component);
    if (d >= 0) sum += u[d];
  }
  return sum / static_cast<double>(nodes.size());
}

std::vector<double> BuildingFrame::storeyDrifts(std::span<const double> u, int component) const {
  std::vector<double> drifts;
  double below = storeyDisplacement(u, 0, component);
  for (int level = 1; level <= parameters_.storeys; ++level) {
    const double here = storeyDisplacement(u, level, component);
    drifts.push_back(here - below);
    below = here;
  }
  return drifts;
}

std::vector<double> BuildingFrame::triangularStoreyForces(int storeys, double baseShear) {
  if (storeys < 1) throw std::invalid_argument("triangularStoreyForces: storeys < 1");
  const double total = 0.5 * storeys * (storeys + 1.0);
  std::vector<double> forces;
  for (int s = 1; s <= storeys; ++s) forces.push_back(baseShear * s / total);
  return forces;
}

std::vector<double> BuildingFrame::storeyShears(std::span<const double> storeyForces) {
  std::vector<double> shears(storeyForces.size(), 0.0);
  double above = 0.0;
  for (std::size_t s = storeyForces.size(); s-- > 0;) {
    above += storeyForces[s];
    shears[s] = above;
  }
  return shears;
}

}  // namespace orv::models
