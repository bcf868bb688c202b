// Matrix A of a linear system: a symmetric matrix that is ordered, factorised and solved with,
// together with its cached statistics and the settings of its numerical checks.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "factor/llfactor.h"
#include "factor/work_buffer.h"
#include "sparse/sparse.h"

namespace orv {

// Which checks run and their thresholds; the defaults are what a new object starts with.
struct CheckSettings {
  uint32_t checkFlags = 9;  // codes 1 and 8
  double preDiagLog10Max = 310.0;
  double postDiagLog10Max = 310.0;
  double residualFactor = 0.001;
  double condLog10Max = 12.0;
  double solveLog10Max = -7.5;
  int32_t refineMax = 2;
  int32_t estimatorColumns = 2;
};

// The matrix (tag 'A') is held, not extended: every edit goes through this class, so that an edit
// of the values drops what was derived from them.
class ccsSymSPDMatrix {
 public:
  ccsSymSPDMatrix() : matrix_('A') {}

  // The matrix's record and services.
  const ccsSymMatrix& matrix() const { return matrix_; }
  int32_t n() const { return matrix_.n(); }
  PhaseTimer& timer() { return matrix_.timer(); }

  // Releases everything (ordering, factor, caches and the matrix), then initialises the matrix.
  void initialise(int32_t order, size_t reserve);
  // Releases everything; logs as ccsSymMatrix::release.
  void release();
  // As for ccsSymMatrix. An edit in compressed-column form drops the cached statistics and
  // estimates and the numeric factor; the ordering and the symbolic structure stay.
  void setElement(int32_t row, int32_t column, double value);
  void incrElement(int32_t row, int32_t column, double value);
  void createCCS() { matrix_.createCCS(); }

  // Computes and caches the largest and smallest diagonal entries and their rows.
  void diagonalStatistics();
  // The largest diagonal entry, computing the statistics when they are not cached.
  double maxDiag();

  // Runs what is missing of ordering, pre-factor checks, symbolic and numeric factorisation and
  // post-factor checks. orderingMethod names the ordering ("" for "metis_node") and matters only
  // when no ordering exists yet. Throws the failing step's text.
  void factor(const char* orderingMethod);

  // Queries (*enable < 0), disables (0) or sets and enables (> 0) the check with the given code.
  void checksSettings(int32_t* enable, double* value, int32_t* ivalue, int32_t code);

  // Solves A X = B for nrhs columns of n doubles (column-major), factorising first when needed,
  // then runs the post-solve check. X keeps the last refined solution when the check fails.
  void solve(double* X, const double* B, int32_t nrhs);

  // ‖A⁻¹‖₁ estimated with t columns, kept until the values of A change.
  double estimateInvNorm1(int32_t t);

  bool ordered() const { return !invPerm_.empty(); }
  const std::vector<int32_t>& invPerm() const { return invPerm_; }
  const llFactor& L() const { return L_; }
  bool numericReady() const { return L_.numericReady(); }

 private:
  static constexpr double kNotComputed = -std::numeric_limits<double>::infinity();

  void invalidate();
  void orderingStep(const char* orderingMethod);
  void symbolicStep(std::unique_ptr<CcsRecord>& pap);
  void numericStep(std::unique_ptr<CcsRecord>& pap);
  std::unique_ptr<CcsRecord> permute() const;
  bool preFactorChecks();
  bool postFactorChecks();
  double condEstimate(int32_t t);
  // solveX and solveB are work blocks of at least n * nrhs doubles for the refinement's solves.
  bool postSolveChecks(double* X, const double* B, int32_t nrhs, double* solveX, double* solveB);
  // The first original row whose factored position is row.
  int32_t originalIndex(int32_t row) const;

  ccsSymMatrix matrix_;
  llFactor L_;
  std::vector<int32_t> invPerm_;  // empty until ordered
  double invNorm1_ = 0.0;         // 0.0: not computed
  double maxDiag_ = kNotComputed;
  double minDiag_ = 0.0;
  int32_t maxDiagRow_ = 0;
  int32_t minDiagRow_ = 0;
  CheckSettings settings_;
};

}  // namespace orv
