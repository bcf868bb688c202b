#include "factor/spd_matrix.h"

namespace orv {

void ccsSymSPDMatrix::release() {
  if (n_ < 1) return;
  invNorm1_ = 0.0;
  maxDiag_ = kNotComputed;
  invPerm_ = {};
  solveX_ = {};
  solveB_ = {};
  ccsSymMatrix::release();
}

void ccsSymSPDMatrix::invalidate() {
  invNorm1_ = 0.0;
  maxDiag_ = kNotComputed;
  ccsSymMatrix::invalidate();
}

void ccsSymSPDMatrix::multiply(const double* x, double* y) const {
  const CcsRecord& a = requireCcs();
  symmetricProductUpperCsr(a.n, a.values.data(), a.colptr.data(), a.rowind.data(), x, y);
}

void ccsSymSPDMatrix::diagonalStatistics() {
  const DiagonalExtremes d = scanDiagonal(requireCcs());
  maxDiag_ = d.maxDiag;
  minDiag_ = d.minDiag;
  maxDiagRow_ = d.maxDiagRow;
  minDiagRow_ = d.minDiagRow;
}

double ccsSymSPDMatrix::maxDiag() {
  if (maxDiag_ == kNotComputed) diagonalStatistics();
  return maxDiag_;
}

}  // namespace orv
