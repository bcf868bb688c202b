// Matrix A of a linear system: a symmetric matrix that is ordered, factorised and solved with,
// together with its cached statistics and the settings of its numerical checks.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

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
  void invalidate() override;

  // Computes and caches the largest and smallest diagonal entries and their rows.
  void diagonalStatistics();
  // The largest diagonal entry, computing the statistics when they are not cached.
  double maxDiag();

  bool ordered() const { return !invPerm_.empty(); }
  const std::vector<int32_t>& invPerm() const { return invPerm_; }
  double invNorm1() const { return invNorm1_; }
  bool diagonalStatisticsPresent() const { return maxDiag_ != kNotComputed; }
  const CheckSettings& settings() const { return settings_; }

 private:
  static constexpr double kNotComputed = -std::numeric_limits<double>::infinity();

  std::vector<int32_t> invPerm_;  // empty until ordered
  double invNorm1_ = 0.0;         // 0.0: not computed
  double maxDiag_ = kNotComputed;
  double minDiag_ = 0.0;
  int32_t maxDiagRow_ = 0;
  int32_t minDiagRow_ = 0;
  std::vector<double> solveX_;  // permuted solutions of the solve in progress
  std::vector<double> solveB_;  // permuted right-hand sides of the solve in progress
  CheckSettings settings_;
};

}  // namespace orv
