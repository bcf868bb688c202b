#include "models/model.h"

#include <stdexcept>

namespace orv::models {

DofMap::DofMap(int nodeCount, int dofsPerNode,
               const std::function<bool(int node, int component)>& fixed)
    : equation_(static_cast<std::size_t>(nodeCount) * dofsPerNode, -1),
      nodeCount_(nodeCount),
      dofsPerNode_(dofsPerNode) {
  if (nodeCount < 0 || dofsPerNode <= 0) throw std::invalid_argument("DofMap: bad dimensions");
  for (int node = 0; node < nodeCount; ++node) {
    for (int c = 0; c < dofsPerNode; ++c) {
      if (!fixed(node, c)) equation_[node * dofsPerNode + c] = size_++;
    }
  }
}

void emitElement(AssemblySink& sink, std::span<const int> dofs, std::span<const double> matrix,
                 int whichMatrix) {
  const std::size_t count = dofs.size();
  for (std::size_t a = 0; a < count; ++a) {
    if (dofs[a] < 0) continue;
    for (std::size_t b = 0; b < count; ++b) {
      // Each unordered pair is met twice; only the visit with row >= col emits it.
      if (dofs[b] < 0 || dofs[b] > dofs[a]) continue;
      const double value = matrix[a * count + b];
      if (value != 0.0) sink.add(dofs[a], dofs[b], value, whichMatrix);
    }
  }
}

void Model::assemble(AssemblySink& sink) const {
  assembleStiffness(sink);
  assembleMass(sink);
}

std::vector<double> Model::multiply(std::span<const double> x, int whichMatrix) const {
  if (x.size() != static_cast<std::size_t>(size())) {
    throw std::invalid_argument("Model::multiply: vector length differs from the model size");
  }
  ProductSink product(x, whichMatrix);
  if (whichMatrix == kStiffness) {
    assembleStiffness(product);
  } else {
    assembleMass(product);
  }
  return product.result();
}

std::vector<double> Model::translation(int component) const {
  if (component < kUx || component > kUz) {
    throw std::invalid_argument("Model::translation: component must be kUx, kUy or kUz");
  }
  std::vector<double> r(size(), 0.0);
  for (int node = 0; node < dofs_.nodeCount(); ++node) {
    const int d = dof(node, component);
    if (d >= 0) r[d] = 1.0;
  }
  return r;
}

std::vector<double> Model::gravityLoad(double g) const {
  std::vector<double> f = multiply(translation(kUz), kMass);
  for (double& v : f) v *= -g;
  return f;
}

}  // namespace orv::models
