#include "condition/condition.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "condition/windows_rand.h"
#include "log_capture.h"
#include "test_matrices.h"

namespace orv {
namespace {

// A⁻¹ through a dense Cholesky factor, counting the calls and keeping each right-hand side.
class DenseInverse {
 public:
  explicit DenseInverse(const CcsRecord& a) : n_(a.n), factor_(test::toDense(a)) {
    int info = 0;
    const char lower = 'L';
    dpotrf_(&lower, &n_, factor_.data(), &n_, &info);
    EXPECT_EQ(info, 0);
  }

  InverseSolve solver() {
    return [this](double* x, double* b, int32_t nrhs) {
      const size_t count = static_cast<size_t>(n_) * static_cast<size_t>(nrhs);
      calls.push_back(nrhs);
      lastRhs.assign(b, b + count);
      std::copy_n(b, count, x);
      int info = 0;
      const char lower = 'L';
      dpotrs_(&lower, &n_, &nrhs, factor_.data(), &n_, x, &n_, &info);
      std::fill_n(b, count, std::nan(""));
      return info == 0;
    };
  }

  // max_j ‖A⁻¹ e_j‖₁ from the dense inverse.
  double exactInvNorm1() const {
    std::vector<double> inverse = factor_;
    int info = 0;
    const char lower = 'L';
    dpotri_(&lower, &n_, inverse.data(), &n_, &info);
    EXPECT_EQ(info, 0);
    const size_t n = static_cast<size_t>(n_);
    std::vector<double> columnSums(n, 0.0);
    for (size_t j = 0; j < n; ++j) {
      for (size_t i = j; i < n; ++i) {
        const double v = std::fabs(inverse[i + n * j]);
        columnSums[j] += v;
        if (i != j) columnSums[i] += v;
      }
    }
    return *std::max_element(columnSums.begin(), columnSums.end());
  }

  std::vector<int32_t> calls;
  std::vector<double> lastRhs;

 private:
  int n_;
  std::vector<double> factor_;
};

CcsRecord diagonal(const std::vector<double>& d) {
  std::vector<std::tuple<int32_t, int32_t, double>> entries;
  for (size_t i = 0; i < d.size(); ++i) {
    entries.emplace_back(static_cast<int32_t>(i), static_cast<int32_t>(i), d[i]);
  }
  return test::fromTriplets(static_cast<int32_t>(d.size()), entries);
}

std::string thrownText(const std::function<void()>& action) {
  try {
    action();
  } catch (const char* text) {
    return text;
  }
  return "(nothing thrown)";
}

TEST(WindowsRand, ReproducesTheRuntimeSequence) {
  detail::seedWindowsRand(1u);
  const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
  for (int value : expected) EXPECT_EQ(detail::windowsRand(), value);
}

TEST(InvNorm1, SmallMatrixIsComputedExactly) {
  DenseInverse inverse(diagonal({1.0, 2.0, 4.0}));
  test::LogCapture log;
  EXPECT_EQ(estimateInvNorm1(3, 2, inverse.solver(), 1u), 1.0);
  EXPECT_EQ(log.text(),
            "Norm1(inv(A)) estimate started\n"
            "No iteration - norm computed exactly.\n"
            "A^(-1) Norm-1 estimate completed\n");
  EXPECT_EQ(inverse.calls, std::vector<int32_t>{3});
}

TEST(InvNorm1, FullBlockWidthIsComputedExactly) {
  const CcsRecord a = test::randomSpd(7, 2, 0.05, 31u);
  DenseInverse inverse(a);
  test::LogCapture log;
  EXPECT_NEAR(estimateInvNorm1(7, 7, inverse.solver(), 1u), inverse.exactInvNorm1(),
              1e-14 * inverse.exactInvNorm1());
  EXPECT_EQ(log.text().find("Terminate"), std::string::npos);
  EXPECT_NE(log.text().find("No iteration - norm computed exactly.\n"), std::string::npos);
}

TEST(InvNorm1, BlockWidthOutsideOneToNFailsAfterTheStartLine) {
  const CcsRecord a = test::randomSpd(6, 2, 0.1, 3u);
  DenseInverse inverse(a);
  DenseInverse one(diagonal({2.0}));
  const std::pair<int32_t, int32_t> cases[] = {{6, 0}, {6, 7}, {6, -1}, {1, 2}};
  for (const auto& [n, t] : cases) {
    test::LogCapture log;
    DenseInverse& solver = n == 1 ? one : inverse;
    EXPECT_EQ(thrownText([&] { estimateInvNorm1(n, t, solver.solver(), 1u); }),
              "T must be an integer between 1 and N")
        << "n " << n << ", t " << t;
    EXPECT_EQ(log.text(), "Norm1(inv(A)) estimate started\n");
  }
  EXPECT_TRUE(inverse.calls.empty());
}

// For a diagonal A every sign vector gives ‖A⁻¹x‖₁ = mean(1/a_ii) = 0.395, the unit vectors of
// the two largest 1/a_ii come next, and the all-positive signs of their images repeat the first
// column of the starting block: the log is the same for every seed.
TEST(InvNorm1, DiagonalMatrixStopsAtTheSecondIterationWithTheExactNorm) {
  for (uint32_t seed : {1u, 12345u, 4000000000u}) {
    DenseInverse inverse(diagonal({4.0, 1.0, 10.0, 2.0, 8.0}));
    test::LogCapture log;
    EXPECT_EQ(estimateInvNorm1(5, 2, inverse.solver(), seed), 1.0);
    EXPECT_EQ(log.text(),
              "Norm1(inv(A)) estimate started\n"
              "1:  (-1, 3.95e-01) (-1, 3.95e-01)\n"
              "2:  ( 1, 1.00e+00) ( 3, 5.00e-01)\n"
              "Terminate: repeated sign matrix\n"
              "Number of solutions 3 (x 2 rhs each)\n"
              "Norm1(inv(A))  estimate is 1\n"
              "Norm1(inv(A))  estimate completed\n")
        << "seed " << seed;
    EXPECT_EQ(inverse.calls, (std::vector<int32_t>{2, 2, 2}));
  }
}

TEST(InvNorm1, SingleColumnAddsTheAlternatingVector) {
  DenseInverse inverse(diagonal({1.0, 2.0, 4.0, 8.0, 10.0}));
  test::LogCapture log;
  EXPECT_EQ(estimateInvNorm1(5, 1, inverse.solver(), 9u), 1.0);
  EXPECT_EQ(inverse.lastRhs, (std::vector<double>{1.0, -1.25, 1.5, -1.75, 2.0}));
  EXPECT_EQ(log.text(),
            "Norm1(inv(A)) estimate started\n"
            "1:  (-1, 3.95e-01)\n"
            "2:  ( 0, 1.00e+00)\n"
            "Terminate: repeated sign matrix\n"
            "Number of solutions 4 (x 1 rhs each)\n"
            "Norm1(inv(A))  estimate is 1\n"
            "Norm1(inv(A))  estimate completed\n");
}

// A stand-in operator that is the identity except on the last solve, which is the extra vector's:
// its ratio then exceeds the power method's estimate and is taken.
TEST(InvNorm1, AlternatingVectorRaisesTheEstimateWhenLarger) {
  int calls = 0;
  const InverseSolve operatorStub = [&calls](double* x, double* b, int32_t nrhs) {
    ++calls;
    for (int i = 0; i < 6 * nrhs; ++i) x[i] = b[i];
    return true;
  };
  test::LogCapture probe;
  estimateInvNorm1(6, 1, operatorStub, 5u);
  const int total = calls;
  calls = 0;
  const InverseSolve scaledLast = [&](double* x, double* b, int32_t nrhs) {
    ++calls;
    const double scale = calls == total ? 10.0 : 1.0;
    for (int i = 0; i < 6 * nrhs; ++i) x[i] = scale * b[i];
    return true;
  };
  EXPECT_DOUBLE_EQ(estimateInvNorm1(6, 1, scaledLast, 5u), 10.0);
}

TEST(InvNorm1, FailedSolveIsOutOfMemory) {
  const InverseSolve failing = [](double*, double*, int32_t) { return false; };
  test::LogCapture log;
  EXPECT_EQ(thrownText([&] { estimateInvNorm1(8, 2, failing, 1u); }), "Out of memory");
  EXPECT_EQ(thrownText([&] { estimateInvNorm1(3, 1, failing, 1u); }), "Out of memory");
}

TEST(InvNorm1, HostRandStateIsUntouched) {
  DenseInverse inverse(test::randomSpd(40, 3, 0.1, 5u));
  std::srand(777u);
  const int first = std::rand();
  const int second = std::rand();
  std::srand(777u);
  EXPECT_EQ(std::rand(), first);
  estimateInvNorm1(40, 3, inverse.solver());
  EXPECT_EQ(std::rand(), second);
}

// Every line printed for "Number of solutions" counts the calls made, and the iteration never
// makes more than 6 Y solves (so at most 11 block solves, plus the extra one for t = 1).
TEST(InvNorm1, SolveCountsStayWithinTheirBounds) {
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    const CcsRecord a = test::randomSpd(60, 3, 0.01 * seed, seed);
    for (int32_t t : {1, 2, 3, 5}) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << ", t " << t);
      DenseInverse inverse(a);
      test::LogCapture log;
      estimateInvNorm1(a.n, t, inverse.solver(), seed);
      const int32_t calls = static_cast<int32_t>(inverse.calls.size());
      EXPECT_LE(calls, 11 + (t == 1 ? 1 : 0));
      const std::string countLine = "Number of solutions " + std::to_string(calls) + " (x " +
                                    std::to_string(t) + " rhs each)\n";
      EXPECT_NE(log.text().find(countLine), std::string::npos) << log.text();
      int iterations = 0;
      std::istringstream lines(log.text());
      for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) ++iterations;
      }
      EXPECT_LE(iterations, 6);
    }
  }
}

struct QualityCase {
  std::string name;
  CcsRecord a;
};

std::vector<QualityCase> qualityCases() {
  std::vector<QualityCase> cases;
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    const int32_t n = 20 + 37 * static_cast<int32_t>(seed);
    cases.push_back({"random SPD n=" + std::to_string(n) + " seed=" + std::to_string(seed),
                     test::randomSpd(n, 2 + static_cast<int32_t>(seed % 5), 1e-3 * seed, seed)});
  }
  for (int32_t k = 0; k < 12; ++k) {
    const int32_t nx = 4 + k % 5, ny = 3 + k % 4, nz = 2 + k % 3;
    const double shift = k % 3 == 0 ? 0.0 : std::pow(10.0, -k % 4);
    cases.push_back({"grid " + std::to_string(nx) + "x" + std::to_string(ny) + "x" +
                         std::to_string(nz) + " shift " + std::to_string(shift),
                     test::gridLaplacian(nx, ny, nz, shift)});
  }
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    const int32_t nx = 2 + static_cast<int32_t>(seed % 3), ny = 2 + static_cast<int32_t>(seed % 2);
    cases.push_back({"solid seed=" + std::to_string(seed), test::solidGrid(nx, ny, 2, seed)});
  }
  for (const char* file :
       {"converted/bcsstk01.mtx", "converted/bcsstk02.mtx", "bcsstk04.mtx", "bcsstk05.mtx",
        "LUNDA.mtx", "lund_b.mtx", "bcsstm02.mtx", "bcsstm05.mtx", "bcsstk08.mtx", "bcsstm08.mtx",
        "bcsstk11.mtx", "bcsstm11.mtx", "bcsstk14.mtx"}) {
    cases.push_back({file, test::readMatrixMarket(test::matrixPath(file))});
  }
  return cases;
}

TEST(InvNorm1, EstimateQualityAgainstTheExactNorm) {
  const std::vector<QualityCase> cases = qualityCases();
  ASSERT_GE(cases.size(), 50u);
  int exact = 0;
  double ratioSum = 0.0;
  double worstRatio = 2.0;
  double largestRatio = 0.0;
  std::string worstCase;
  test::LogCapture log;
  for (size_t k = 0; k < cases.size(); ++k) {
    const uint32_t seed = 1000u + static_cast<uint32_t>(k);
    DenseInverse inverse(cases[k].a);
    const double truth = inverse.exactInvNorm1();
    const double estimate = estimateInvNorm1(cases[k].a.n, 2, inverse.solver(), seed);
    const double ratio = estimate / truth;
    EXPECT_LE(ratio, 1.0 + 1e-10) << cases[k].name << ", seed " << seed;
    if (std::fabs(ratio - 1.0) <= 1e-12) ++exact;
    ratioSum += ratio;
    largestRatio = std::max(largestRatio, ratio);
    if (ratio < worstRatio) {
      worstRatio = ratio;
      worstCase = cases[k].name + ", seed " + std::to_string(seed);
    }
  }
  const double exactFraction = static_cast<double>(exact) / static_cast<double>(cases.size());
  const double meanRatio = ratioSum / static_cast<double>(cases.size());
  std::printf(
      "t = 2 over %zu matrices: exact (rel 1e-12) in %.1f %%, mean ratio %.4f, worst ratio %.4f "
      "(%s), largest ratio 1 %+.2g\n",
      cases.size(), 100.0 * exactFraction, meanRatio, worstRatio, worstCase.c_str(),
      largestRatio - 1.0);
  EXPECT_GE(exactFraction, 0.80);
  EXPECT_GE(meanRatio, 0.95);
}

}  // namespace
}  // namespace orv
