// The factorisation pipeline: ordering, pre-factor checks, symbolic and numeric factorisation,
// post-factor checks. Each step runs only when its result is missing, so an edit of the values
// repeats the checks and the numeric work and keeps the ordering and the structure.
#include <cmath>

#include "factor/ordering.h"
#include "factor/permute.h"
#include "factor/spd_matrix.h"

namespace orv {

void ccsSymSPDMatrix::factor(const char* orderingMethod) {
  if (!matrix_.isCCS() || matrix_.ccs() == nullptr)
    throw Failure(FailureKind::badState, "Matrix not assembled yet");
  if (!ordered()) orderingStep(orderingMethod);
  if (!L_.numericReady() && !preFactorChecks()) {
    throw Failure(FailureKind::notSpd,
                  "Pre-factor checks failed.\nMatrix is not SPD or ill conditioned");
  }
  // The permuted copy lives for this run only: built by whichever step needs it first.
  std::unique_ptr<CcsRecord> pap;
  if (!L_.hasStructure()) symbolicStep(pap);
  if (!L_.numericReady()) {
    numericStep(pap);
    if (!postFactorChecks()) {
      L_.releaseNumeric();
      throw Failure(FailureKind::notSpd, "Post-factor checks failed. System is ill conditioned");
    }
  }
}

void ccsSymSPDMatrix::orderingStep(const char* orderingMethod) {
  matrix_.timer().startPhase("Optimal ordering calculation");
  const char* method =
      orderingMethod == nullptr || orderingMethod[0] == '\0' ? "metis_node" : orderingMethod;
  taucs_printf("Ordering method used: %s\n", method);
  invPerm_ = orderMatrix(*matrix_.ccs(), method);
  if (invPerm_.empty())
    throw Failure(FailureKind::dependency, "Optimal ordering calculation failed");
  matrix_.timer().completePhase("Optimal ordering calculation");
}

std::unique_ptr<CcsRecord> ccsSymSPDMatrix::permute() const {
  return std::make_unique<CcsRecord>(permuteSymmetric(*matrix_.ccs(), invPerm_));
}

void ccsSymSPDMatrix::symbolicStep(std::unique_ptr<CcsRecord>& pap) {
  matrix_.timer().startPhase("Symbolic factorization");
  pap = permute();
  if (!L_.symbolic(*pap)) {
    pap.reset();
    if (L_.status() == FactorStatus::outOfMemory) throw Failure::outOfMemory();
    throw Failure(FailureKind::dependency, "Symbolic factorization failed");
  }
  matrix_.timer().completePhase("Symbolic factorization");
}

void ccsSymSPDMatrix::numericStep(std::unique_ptr<CcsRecord>& pap) {
  matrix_.timer().startPhase("Numeric factorization");
  requireMemory("Numeric factorization", L_.numericBytes());
  if (!pap) pap = permute();
  const bool ready = L_.numeric(*pap);
  pap.reset();
  if (!ready) {
    if (L_.status() == FactorStatus::outOfMemory) throw Failure::outOfMemory();
    if (L_.status() == FactorStatus::notPositiveDefinite) {
      // The pivot's column is one of the reordered matrix; the host knows its equations by its
      // own numbering.
      taucs_printf("Non-positive pivot in original column %d\n", originalIndex(L_.pivotColumn()));
    }
    throw Failure(L_.status() == FactorStatus::notPositiveDefinite ? FailureKind::notSpd
                                                                   : FailureKind::dependency,
                  "Numeric factorization failed");
  }
  matrix_.timer().completePhase("Numeric factorization");
}

bool ccsSymSPDMatrix::preFactorChecks() {
  if (!matrix_.isCCS() || matrix_.ccs() == nullptr)
    throw Failure(FailureKind::badState, "Matrix not assembled yet");
  matrix_.timer().startPhase("Pre-factor checks");
  if ((settings_.checkFlags & 1u) == 0) {
    matrix_.timer().completePhase("Pre-factor checks");
    return true;
  }
  if (maxDiag_ == kNotComputed) diagonalStatistics();
  if (!(minDiag_ > 0.0)) {
    matrix_.timer().completePhase("Pre-factor checks");
    return false;
  }
  const double r = std::log10(maxDiag_ / minDiag_);
  taucs_printf(
      "Maximum diagonal element at row %5d = %10.3e\nMinimum diagonal element at row %5d = "
      "%10.3e\nlog10(Maximum/Minimum) = %g\n",
      maxDiagRow_, maxDiag_, minDiagRow_, minDiag_, r);
  const bool passed = settings_.preDiagLog10Max >= r;
  if (!passed)
    taucs_printf("log10(Maximum/Minimum) not smaller than %g\n", settings_.preDiagLog10Max);
  matrix_.timer().completePhase("Pre-factor checks");
  return passed;
}

int32_t ccsSymSPDMatrix::originalIndex(int32_t row) const {
  for (size_t k = 0; k < invPerm_.size(); ++k) {
    if (invPerm_[k] == row) return static_cast<int32_t>(k);
  }
  return -1;
}

bool ccsSymSPDMatrix::postFactorChecks() {
  if (!L_.numericReady()) throw Failure(FailureKind::badState, "Factorization not available");
  matrix_.timer().startPhase("Post-factor checks");
  bool passed = true;
  if ((settings_.checkFlags & 2u) != 0) {
    double min = 0.0;
    double max = 0.0;
    int32_t minRow = 0;
    int32_t maxRow = 0;
    L_.diagExtremes(min, max, minRow, maxRow);
    const double r = std::log10(max / min);
    taucs_printf(
        "Maximum diaginal element at row %5d (original %5d) = %10.3e\nMinimum diaginal element "
        "at row %5d (original %5d) = %10.3e\nlog10(Maximum/Minimum) = %g\n",
        maxRow, originalIndex(maxRow), max, minRow, originalIndex(minRow), min, r);
    if (!(settings_.postDiagLog10Max >= r)) {
      taucs_printf("log10(Maximum/Minimum) > %g\n", settings_.postDiagLog10Max);
      matrix_.timer().completePhase("Post-factor checks");
      return false;
    }
  }
  if ((settings_.checkFlags & 4u) != 0) {
    double rho = 0.0;
    int32_t row = 0;
    if (L_.diagResidual(*matrix_.ccs(), invPerm_.data(), rho, row) != 0)
      throw Failure::outOfMemory();
    taucs_printf("Maximum diagonal residual at row %5d (original %5d) = %10.3e\n", row,
                 originalIndex(row), rho);
    const double limit = (1.0 / n()) * settings_.residualFactor;
    if (!(limit > rho)) {
      // 0xB2 is the superscript two of the code page the log has always been written in.
      taucs_printf("MaxResidual >= 1.0 / (%d)\xB2\n", n());
      matrix_.timer().completePhase("Post-factor checks");
      return false;
    }
  }
  if ((settings_.checkFlags & 8u) != 0) {
    const double c = condEstimate(settings_.estimatorColumns);
    if (!(settings_.condLog10Max >= std::log10(c))) {
      taucs_printf("log10(Norm1CondNumEst) greater than %g\n", settings_.condLog10Max);
      passed = false;
    }
  }
  matrix_.timer().completePhase("Post-factor checks");
  return passed;
}

double ccsSymSPDMatrix::condEstimate(int32_t t) {
  const double e = estimateInvNorm1(t);
  const double c = e * matrix_.computeNorm1();
  taucs_printf("Norm-1 condition number estimate: %g\n", c);
  return c;
}

}  // namespace orv
