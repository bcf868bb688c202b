#include "bench_support.h"

#include <cmath>

namespace orv::bench {

models::BrickSolid brickOfSize(int equations) {
  // 3 (n + 1)^2 n equations for an n x n x n block clamped at one face.
  int n = 1;
  while (3.0 * (n + 1) * (n + 1) * n < equations) ++n;
  models::BrickParameters p;
  p.nx = n;
  p.ny = n;
  p.nz = n;
  p.lx = p.ly = p.lz = 1.0;
  return models::BrickSolid(p);
}

std::vector<models::Triplet> stiffnessRecords(const models::Model& model) {
  models::TripletSink sink;
  model.assembleStiffness(sink);
  return sink.entries(models::kStiffness);
}

void LibrarySystem::assemble(int n, const std::vector<models::Triplet>& records) {
  exp_initMatrix_v3(&handle_, n, 0);
  for (const models::Triplet& t : records) exp_incrMatrixElem_v3(handle_, t.row, t.col, t.value, 0);
}

}  // namespace orv::bench
