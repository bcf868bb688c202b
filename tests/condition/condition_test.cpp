// The estimate of ‖A⁻¹‖₁ against the exact norm from dense LAPACK, with its exact log lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "condition/condition.h"
#include "condition/windows_rand.h"
#include "dense.h"
#include "log/failure.h"
#include "log_capture.h"

namespace orv {
namespace {

// A⁻¹ applied by dense LAPACK; the last right-hand side it was given is kept in *lastRhs.
InverseSolve denseInverse(const test::Lower& lower, std::vector<double>* lastRhs) {
  return [a = test::dense(lower), n = lower.n, lastRhs](double* x, double* b, int32_t nrhs) {
    lastRhs->assign(b, b + n * nrhs);
    const std::vector<double> solution = test::solveSpd(a, n, *lastRhs);
    std::copy(solution.begin(), solution.end(), x);
    return true;
  };
}

// The largest column sum of |A⁻¹|.
double exactNorm(const test::Lower& lower) {
  const auto n = static_cast<size_t>(lower.n);
  std::vector<double> inverse(n * n, 0.0), sums(n, 0.0);
  for (size_t i = 0; i < n; ++i) inverse[i * (n + 1)] = 1.0;
  inverse = test::solveSpd(test::dense(lower), lower.n, inverse);
  for (size_t k = 0; k < inverse.size(); ++k) sums[k / n] += std::fabs(inverse[k]);
  return *std::max_element(sums.begin(), sums.end());
}

TEST(WindowsRand, ReproducesTheRuntimeSequence) {
  detail::seedWindowsRand(1u);
  for (int value : {41, 18467, 6334, 26500, 19169}) EXPECT_EQ(detail::windowsRand(), value);
}

// For diag(4, 1, 10, 2, 8), ‖A⁻¹‖₁ = 1: t = n takes the columns of the inverse; otherwise every
// sign vector gives mean(1/d) = 0.395, then come the unit vectors of the largest 1/d (rows 1 and
// 3), and t = 1 ends with the alternating vector. No line depends on the seed (0: the clock's),
// and the host's rand sequence goes on undisturbed.
TEST(InvNorm1, EachBlockWidthGivesTheExactNormWithTheseLogLinesOrItsError) {
  const test::Lower a = test::diagonal({4.0, 1.0, 10.0, 2.0, 8.0});
  const std::string end = "Norm1(inv(A))  estimate is 1\nNorm1(inv(A))  estimate completed\n";
  const std::pair<std::string, int32_t> rows[] = {
      {"No iteration - norm computed exactly.\nA^(-1) Norm-1 estimate completed\n", 5},
      {"1:  (-1, 3.95e-01) (-1, 3.95e-01)\n2:  ( 1, 1.00e+00) ( 3, 5.00e-01)\nTerminate: repeated "
       "sign matrix\nNumber of solutions 3 (x 2 rhs each)\n",
       2},
      {"1:  (-1, 3.95e-01)\n2:  ( 1, 1.00e+00)\nTerminate: repeated sign matrix\nNumber of "
       "solutions 4 (x 1 rhs each)\n",
       1},
      {"T must be an integer between 1 and N", 0},
      {"T must be an integer between 1 and N", 6}};
  std::srand(777u);
  const int first = std::rand();
  std::srand(777u);
  for (const auto& [lines, t] : rows) {
    for (std::vector<double> lastRhs; uint32_t seed : {1u, 4000000000u, 0u}) {
      SCOPED_TRACE(testing::Message() << "t " << t << ", seed " << seed);
      test::LogCapture log;
      std::string thrown;
      try {
        const InverseSolve s = denseInverse(a, &lastRhs);
        EXPECT_EQ(seed == 0 ? estimateInvNorm1(a.n, t, s) : estimateInvNorm1(a.n, t, s, seed), 1.0);
      } catch (const Failure& failure) {
        thrown = failure.what();
        EXPECT_EQ(failure.kind(), FailureKind::badArgument);
      }
      EXPECT_EQ(log.text() + thrown,
                "Norm1(inv(A)) estimate started\n" + lines + (t > 0 && t < a.n ? end : ""));
      EXPECT_TRUE(t != 1 || lastRhs == (std::vector<double>{1.0, -1.25, 1.5, -1.75, 2.0}));
    }
  }
  EXPECT_EQ(std::rand(), first);
}

// An operator that keeps every vector but the alternating one, which it scales by 10: that vector's
// ratio then exceeds the power method's estimate of 1 and is taken.
TEST(InvNorm1, AlternatingVectorRaisesTheEstimateWhenLarger) {
  const InverseSolve keepAllButAlternating = [](double* x, double* b, int32_t nrhs) {
    for (int32_t i = 0; i < 5 * nrhs; ++i) x[i] = (b[1] == -1.25 ? 10.0 : 1.0) * b[i];
    return true;
  };
  EXPECT_DOUBLE_EQ(estimateInvNorm1(5, 1, keepAllButAlternating, 1u), 10.0);
}

// The estimate is the norm of A⁻¹ applied to some vector of norm 1: never above the true norm.
TEST(InvNorm1, NeverAboveTheExactNormAndMostlyEqualToIt) {
  int exact = 0;
  std::vector<double> lastRhs;
  for (unsigned k = 1; k <= 28; ++k) {
    const test::Lower a = test::randomSpd(int(20 + 11 * k), int(2 + k % 5), 1e-3 * k, k);
    const double ratio =
        estimateInvNorm1(a.n, 2, denseInverse(a, &lastRhs), 1000u + k) / exactNorm(a);
    EXPECT_LE(ratio, 1.0 + 1e-10) << "matrix " << k;
    exact += std::fabs(ratio - 1.0) <= 1e-12 ? 1 : 0;
  }
  EXPECT_GE(exact, 18) << "two thirds exact";
}

}  // namespace
}  // namespace orv
