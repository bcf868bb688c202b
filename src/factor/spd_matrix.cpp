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

}  // namespace orv
