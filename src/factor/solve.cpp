// The solution for a block of right-hand sides and the post-solve check with iterative
// refinement of the columns whose residual is too large.
#include <cmath>

#include "factor/blas.h"
#include "factor/permute.h"
#include "factor/spd_matrix.h"

namespace orv {
namespace {

// The post-solve check has its own fixed estimate, apart from the column count of check 8.
constexpr int32_t kPostSolveEstimatorColumns = 2;

double norm1(int32_t n, const double* x) {
  const int one = 1;
  return dasum_(&n, x, &one);
}

// y <- y - x over count doubles.
void subtract(size_t count, const double* x, double* y) {
  const int one = 1;
  const double minusOne = -1.0;
  // BLAS counts are 32-bit; a block may be longer, so it goes in slices.
  constexpr size_t kSlice = size_t{1} << 30;
  for (size_t done = 0; done < count; done += kSlice) {
    const int length = static_cast<int>(std::min(kSlice, count - done));
    daxpy_(&length, &minusOne, x + done, &one, y + done, &one);
  }
}

}  // namespace

void ccsSymSPDMatrix::solve(double* X, const double* B, int32_t nrhs) {
  if (!L_.numericReady()) factor("");
  const int32_t order = n();
  matrix_.timer().startPhase("Right hand sides solutions");
  taucs_printf("Number of right hand sides: %d\n", nrhs);
  const size_t n = static_cast<size_t>(order);
  const size_t columns = nrhs > 0 ? static_cast<size_t>(nrhs) : 0;
  // Permuted solutions and right-hand sides, of this call's size.
  const WorkBuffer solveX(n * columns);
  const WorkBuffer solveB(n * columns);
  for (size_t k = 0; k < columns; ++k) {
    scatterByPerm(order, B + k * n, solveB.get() + k * n, invPerm_.data());
  }
  if (columns > 0 && !L_.solve(solveX.get(), solveB.get(), nrhs)) throw Failure::outOfMemory();
  for (size_t k = 0; k < columns; ++k) {
    gatherByPerm(order, solveX.get() + k * n, X + k * n, invPerm_.data());
  }
  matrix_.timer().completePhase("Right hand sides solutions");
  if (!postSolveChecks(X, B, nrhs, solveX.get(), solveB.get()))
    throw Failure(FailureKind::notSpd, "Post-factor checks failed. System is ill conditioned");
}

bool ccsSymSPDMatrix::postSolveChecks(double* X, const double* B, int32_t nrhs, double* solveX,
                                      double* solveB) {
  const int32_t order = n();
  matrix_.timer().startPhase("Post-solve checks");
  if ((settings_.checkFlags & 16u) == 0) {
    matrix_.timer().completePhase("Post-solve checks");
    return true;
  }
  const double c = matrix_.computeNorm1() * estimateInvNorm1(kPostSolveEstimatorColumns);
  taucs_printf("Norm-1 condition number estimate: %g\n", c);
  taucs_printf("Rel. Err. Norm-1 calculation started\n");
  taucs_printf("NRH n.      Norm-1 Ax-b      Norm-1 b       Rel Err       Err max          Test\n");
  const size_t n = static_cast<size_t>(order);
  const size_t columns = nrhs > 0 ? static_cast<size_t>(nrhs) : 0;
  std::vector<double> normB(columns, 0.0);
  std::vector<double> normR(columns, 0.0);
  const WorkBuffer R(n * columns);
  std::vector<int32_t> passed(columns, 0);

  for (size_t k = 0; k < columns; ++k) normB[k] = norm1(order, B + k * n);
  matrix_.multiplyColumns(X, R.get(), nrhs);
  subtract(n * columns, B, R.get());

  int32_t passes = 0;
  for (;;) {
    bool allPassed = true;
    for (size_t k = 0; k < columns; ++k) {
      if (passed[k] != 0) continue;
      normR[k] = norm1(order, R.get() + k * n);
      // A column of zeros is solved exactly by x = 0: its error is 0, not 0 / 0.
      const double e = normR[k] == 0.0 && normB[k] == 0.0 ? 0.0 : normR[k] / normB[k];
      const double m = c * e;
      passed[k] = settings_.solveLog10Max > std::log10(e) ? 1 : 0;
      taucs_printf(" %5d      %11.3e   %11.3e   %11.3e   %11.3e   %11s\n", static_cast<int>(k),
                   normR[k], normB[k], e, m, passed[k] != 0 ? "ok" : "fail");
      allPassed = allPassed && passed[k] != 0;
    }
    if (allPassed || passes > settings_.refineMax) break;
    ++passes;

    // Only the failing columns go through the factor, packed side by side.
    int32_t failing = 0;
    for (size_t k = 0; k < columns; ++k) {
      if (passed[k] != 0) continue;
      scatterByPerm(order, R.get() + k * n, solveB + failing * n, invPerm_.data());
      ++failing;
    }
    if (!L_.solve(solveX, solveB, failing)) throw Failure::outOfMemory();
    size_t j = 0;
    for (size_t k = 0; k < columns; ++k) {
      if (passed[k] != 0) continue;
      double* r = R.get() + k * n;
      double* x = X + k * n;
      gatherByPerm(order, solveX + j * n, r, invPerm_.data());
      subtract(n, r, x);
      matrix_.multiply(x, r);
      subtract(n, B + k * n, r);
      ++j;
    }
  }
  taucs_printf("Rel. Err. Norm-1 calculation completed\n");
  matrix_.timer().completePhase("Post-solve checks");
  for (int32_t p : passed) {
    if (p == 0) return false;
  }
  return true;
}

}  // namespace orv
