#include "eigen/lpbptlt.h"

namespace orv {

BlockLPBPTLT::BlockLPBPTLT(const ccsSymMatrix& matB, const llFactor& L, int32_t columns)
    : matB_(matB),
      L_(L),
      product_(static_cast<size_t>(matB.n()) * static_cast<size_t>(columns)),
      work_(2 * product_.size()) {}

uint64_t BlockLPBPTLT::workDoubles(int32_t n, int32_t columns) {
  return 3 * static_cast<uint64_t>(n) * static_cast<uint64_t>(columns);
}

void BlockLPBPTLT::apply(const double* X, double* Y, int32_t columns) {
  L_.solveLT(Y, X, work_.data(), columns);
  matB_.multiplyColumns(Y, product_.data(), columns, work_.data());
  L_.solveL(Y, product_.data(), work_.data(), columns);
}

}  // namespace orv
