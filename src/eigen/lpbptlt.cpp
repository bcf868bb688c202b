#include "eigen/lpbptlt.h"

#include <algorithm>

namespace orv {

void multiplyBlock(const CcsRecord& B, const double* X, double* Y, int32_t columns, double* in,
                   double* out) {
  const auto n = static_cast<size_t>(B.n);
  const auto b = static_cast<size_t>(columns);
  // Row-major copies keep the columns of one row together, so each entry of B updates them all
  // with contiguous loads.
  for (size_t c = 0; c < b; ++c) {
    for (size_t i = 0; i < n; ++i) in[i * b + c] = X[c * n + i];
  }
  std::fill(out, out + n * b, 0.0);
  for (size_t j = 0; j < n; ++j) {
    const double* xj = in + j * b;
    double* yj = out + j * b;
    for (int32_t p = B.colptr[j]; p < B.colptr[j + 1]; ++p) {
      const auto i = static_cast<size_t>(B.rowind[static_cast<size_t>(p)]);
      const double a = B.values[static_cast<size_t>(p)];
      double* yi = out + i * b;
      for (size_t c = 0; c < b; ++c) yi[c] += a * xj[c];
      if (i == j) continue;
      const double* xi = in + i * b;
      for (size_t c = 0; c < b; ++c) yj[c] += a * xi[c];
    }
  }
  for (size_t c = 0; c < b; ++c) {
    for (size_t i = 0; i < n; ++i) Y[c * n + i] = out[i * b + c];
  }
}

BlockLPBPTLT::BlockLPBPTLT(const ccsSymMatrix& matB, const llFactor& L, int32_t columns)
    : matB_(matB),
      L_(L),
      solveWork_(static_cast<size_t>(matB.n()) * static_cast<size_t>(columns)),
      product_(solveWork_.size()),
      rowMajor_(solveWork_.size()) {}

uint64_t BlockLPBPTLT::workDoubles(int32_t n, int32_t columns) {
  return 3 * static_cast<uint64_t>(n) * static_cast<uint64_t>(columns);
}

void BlockLPBPTLT::apply(const double* X, double* Y, int32_t columns) {
  L_.solveLT(Y, X, solveWork_.data(), columns);
  multiplyBlock(*matB_.ccs(), Y, product_.data(), columns, solveWork_.data(), rowMajor_.data());
  L_.solveL(Y, product_.data(), solveWork_.data(), columns);
}

}  // namespace orv
