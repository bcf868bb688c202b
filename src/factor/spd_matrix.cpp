#include "factor/spd_matrix.h"

#include "condition/condition.h"

namespace orv {

void ccsSymSPDMatrix::initialise(int32_t order, size_t reserve) {
  release();
  matrix_.initialise(order, reserve);
}

void ccsSymSPDMatrix::release() {
  if (n() < 1) return;
  invNorm1_ = 0.0;
  maxDiag_ = kNotComputed;
  L_.release();
  invPerm_ = {};
  matrix_.release();
}

void ccsSymSPDMatrix::setElement(int32_t row, int32_t column, double value) {
  matrix_.setElement(row, column, value);
  if (matrix_.isCCS()) invalidate();
}

void ccsSymSPDMatrix::incrElement(int32_t row, int32_t column, double value) {
  matrix_.incrElement(row, column, value);
  if (matrix_.isCCS()) invalidate();
}

void ccsSymSPDMatrix::invalidate() {
  invNorm1_ = 0.0;
  maxDiag_ = kNotComputed;
  L_.releaseNumeric();
}

void ccsSymSPDMatrix::diagonalStatistics() {
  const DiagonalExtremes d = scanDiagonal(matrix_.requireCcs());
  maxDiag_ = d.maxDiag;
  minDiag_ = d.minDiag;
  maxDiagRow_ = d.maxDiagRow;
  minDiagRow_ = d.minDiagRow;
}

double ccsSymSPDMatrix::maxDiag() {
  if (maxDiag_ == kNotComputed) diagonalStatistics();
  return maxDiag_;
}

double ccsSymSPDMatrix::estimateInvNorm1(int32_t t) {
  if (!L_.numericReady())
    throw Failure(FailureKind::badState, "Matrix factorization not available");
  if (invNorm1_ != 0.0) return invNorm1_;
  // The solve works in the factored ordering; a symmetric permutation leaves the norm as it is.
  invNorm1_ = orv::estimateInvNorm1(
      n(), t, [this](double* x, double* b, int32_t nrhs) { return L_.solve(x, b, nrhs); });
  return invNorm1_;
}

void ccsSymSPDMatrix::checksSettings(int32_t* enable, double* value, int32_t* ivalue,
                                     int32_t code) {
  double* real = nullptr;
  int32_t* integer = nullptr;
  switch (code) {
    case 1:
      real = &settings_.preDiagLog10Max;
      break;
    case 2:
      real = &settings_.postDiagLog10Max;
      break;
    case 4:
      real = &settings_.residualFactor;
      break;
    case 8:
      real = &settings_.condLog10Max;
      integer = &settings_.estimatorColumns;
      break;
    case 16:
      real = &settings_.solveLog10Max;
      integer = &settings_.refineMax;
      break;
    default:
      throw Failure(FailureKind::badArgument, "Invalid check code");
  }
  if (enable == nullptr || value == nullptr || (integer != nullptr && ivalue == nullptr)) {
    throw Failure(FailureKind::badArgument, "Check setting not allocated");
  }
  if (*enable > 0) {
    *real = *value;
    if (integer != nullptr) *integer = *ivalue;
  } else {
    *value = *real;
    if (integer != nullptr) *ivalue = *integer;
  }
  const uint32_t bit = static_cast<uint32_t>(code);
  if (*enable == 0) settings_.checkFlags &= ~bit;
  if (*enable > 0) settings_.checkFlags |= bit;
  *enable = (settings_.checkFlags & bit) != 0 ? 1 : 0;
}

}  // namespace orv
