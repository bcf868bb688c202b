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

class ccsSymSPDMatrix : public ccsSymMatrix {
 public:
  ccsSymSPDMatrix() : ccsSymMatrix('A') {}

  void release() override;
  // The product through the compressed-row kernel, reading the record in place.
  void multiply(const double* x, double* y) const override;
  // Drops the cached statistics and estimates and the numeric factor; the ordering and the
  // symbolic structure stay.
  void invalidate() override;

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

  void orderingStep(const char* orderingMethod);
  void symbolicStep(std::unique_ptr<CcsRecord>& pap);
  void numericStep(std::unique_ptr<CcsRecord>& pap);
  std::unique_ptr<CcsRecord> permute() const;
  bool preFactorChecks();
  bool postFactorChecks();
  double condEstimate(int32_t t);
  bool postSolveChecks(double* X, const double* B, int32_t nrhs);
  // The first original row whose factored position is row.
  int32_t originalIndex(int32_t row) const;

  llFactor L_;
  std::vector<int32_t> invPerm_;  // empty until ordered
  double invNorm1_ = 0.0;         // 0.0: not computed
  double maxDiag_ = kNotComputed;
  double minDiag_ = 0.0;
  int32_t maxDiagRow_ = 0;
  int32_t minDiagRow_ = 0;
  WorkBuffer solveX_;  // permuted solutions of the solve in progress
  WorkBuffer solveB_;  // permuted right-hand sides of the solve in progress
  CheckSettings settings_;
};

}  // namespace orv
