// Every instruction-set path of the combination kernels against the reference definitions,
// bit for bit.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "seismic/kernels.h"
#include "seismic_test_support.h"

namespace {

using namespace seismic_test;
using orv::seismic::KernelSet;
using orv::seismic::SimdPath;

// Every count up to well past twice the widest vector, and a few hundred.
std::vector<int> modeCounts() {
  std::vector<int> counts;
  for (int n = 0; n <= 40; ++n) counts.push_back(n);
  counts.insert(counts.end(), {97, 128, 255, 300});
  return counts;
}

std::string pathName(const testing::TestParamInfo<SimdPath>& info) {
  switch (info.param) {
    case SimdPath::scalar:
      return "Scalar";
    case SimdPath::sse:
      return "Sse";
    case SimdPath::avx2:
      return "Avx2";
  }
  return "Unknown";
}

::testing::AssertionResult sameBlock(const float* actual, const Block& expected) {
  for (int l = 0; l < kLanes; ++l) {
    if (!sameFloat(actual[l], expected[l])) {
      return ::testing::AssertionFailure()
             << "lane " << l << ": got " << actual[l] << " (0x" << std::hex
             << std::bit_cast<uint32_t>(actual[l]) << "), expected " << expected[l] << " (0x"
             << std::bit_cast<uint32_t>(expected[l]) << ")";
    }
  }
  return ::testing::AssertionSuccess();
}

class KernelPathTest : public ::testing::TestWithParam<SimdPath> {
 protected:
  void SetUp() override {
    kernels_ = orv::seismic::kernelsFor(GetParam());
    if (kernels_ == nullptr) GTEST_SKIP() << "this processor cannot run the path";
  }
  const KernelSet& kernels() const { return *kernels_; }

 private:
  const KernelSet* kernels_ = nullptr;
};

// Special rates: none, a few values in a thousand (most lanes stay finite over hundreds of
// modes), and one in ten.
constexpr double kSpecialRates[] = {0.0, 0.003, 0.1};

TEST_P(KernelPathTest, SrssAndAbsSumMatchReferenceForEveryModeCount) {
  auto rng = seededEngine(20240611u);
  for (int n : modeCounts()) {
    for (double rate : kSpecialRates) {
      SCOPED_TRACE("modes " + std::to_string(n) + ", special rate " + std::to_string(rate));
      AlignedFloats in(static_cast<size_t>(n) * kLanes + 1, 0);
      fillRandom(rng, in.data(), static_cast<size_t>(n) * kLanes, rate);
      Block start;
      fillRandom(rng, start.data(), kLanes, rate);
      // Random incoming sums, negative ones included: their square root is NaN in every path.
      AlignedFloats out(kLanes, 0);

      std::copy(start.begin(), start.end(), out.data());
      kernels().srss(n, in.data(), out.data());
      EXPECT_TRUE(sameBlock(out.data(), referenceSrss(n, in.data(), start))) << "SRSS";

      std::copy(start.begin(), start.end(), out.data());
      kernels().absSum(n, in.data(), out.data());
      EXPECT_TRUE(sameBlock(out.data(), referenceAbsSum(n, in.data(), start))) << "abs sum";
    }
  }
}

TEST_P(KernelPathTest, CqcMatchesReferenceForEveryModeCount) {
  auto rng = seededEngine(7031u);
  std::uniform_real_distribution<float> coefficient(0.0f, 2.0f);
  for (int n : modeCounts()) {
    for (double rate : kSpecialRates) {
      SCOPED_TRACE("modes " + std::to_string(n) + ", special rate " + std::to_string(rate));
      AlignedFloats in(static_cast<size_t>(n) * kLanes + 1, 0);
      fillRandom(rng, in.data(), static_cast<size_t>(n) * kLanes, rate);
      std::vector<float> table(static_cast<size_t>(n) * (n > 0 ? n - 1 : 0) / 2 + 1);
      std::bernoulli_distribution special(rate / 10);
      for (float& c : table) c = special(rng) ? specialValue(rng) : coefficient(rng);
      AlignedFloats out(kLanes, 0);
      fillRandom(rng, out.data(), kLanes, 0.5);

      kernels().cqc(n, table.data(), in.data(), out.data());
      EXPECT_TRUE(sameBlock(out.data(), referenceCqc(n, table.data(), in.data())));
    }
  }
}

TEST_P(KernelPathTest, NegativeCountSumsNothing) {
  const Block start = {4.0f, 0.0f, -0.0f, 2.0f, 1e-40f, -1.0f, 9.0f, 16.0f};
  for (int n : {-1, -24, INT_MIN}) {
    SCOPED_TRACE(n);
    AlignedFloats out(kLanes, 0);
    std::copy(start.begin(), start.end(), out.data());
    kernels().srss(n, nullptr, out.data());
    EXPECT_TRUE(sameBlock(out.data(), referenceSrss(0, nullptr, start)));
    EXPECT_EQ(out[0], 2.0f);
    EXPECT_TRUE(std::isnan(out[5]));

    std::copy(start.begin(), start.end(), out.data());
    kernels().absSum(n, nullptr, out.data());
    EXPECT_TRUE(sameBlock(out.data(), start));
  }
}

// 256-bit groups of a block aligned to 16 bytes only: every third one straddles a cache line
// when the block starts 48 bytes past one.
TEST_P(KernelPathTest, BlocksAlignedTo16BytesButNot32) {
  auto rng = seededEngine(555u);
  for (size_t offset : {16u, 48u}) {
    for (int n : {1, 2, 3, 7, 64}) {
      SCOPED_TRACE("offset " + std::to_string(offset) + ", modes " + std::to_string(n));
      const size_t count = static_cast<size_t>(n) * kLanes;
      AlignedFloats in(count, offset);
      fillRandom(rng, in.data(), count, 0.01);
      std::vector<float> table(static_cast<size_t>(n) * (n - 1) / 2 + 1);
      fillRandom(rng, table.data(), table.size(), 0.0);
      Block start;
      fillRandom(rng, start.data(), kLanes, 0.0);
      for (float& v : start) v = std::fabs(v);
      AlignedFloats out(kLanes, offset);
      ASSERT_NE(reinterpret_cast<uintptr_t>(in.data()) % 32, 0u);
      ASSERT_NE(reinterpret_cast<uintptr_t>(out.data()) % 32, 0u);

      std::copy(start.begin(), start.end(), out.data());
      kernels().srss(n, in.data(), out.data());
      EXPECT_TRUE(sameBlock(out.data(), referenceSrss(n, in.data(), start)));

      std::copy(start.begin(), start.end(), out.data());
      kernels().absSum(n, in.data(), out.data());
      EXPECT_TRUE(sameBlock(out.data(), referenceAbsSum(n, in.data(), start)));

      kernels().cqc(n, table.data(), in.data(), out.data());
      EXPECT_TRUE(sameBlock(out.data(), referenceCqc(n, table.data(), in.data())));
    }
  }
}

// Modal values that reach every branch of the arithmetic: equal, reciprocal and distant
// values, zero, opposite signs, subnormal, infinite and NaN.
std::vector<float> awkwardModalValues(std::mt19937& rng, size_t count) {
  static const float kPool[] = {1.0f,
                                1.0f,
                                2.0f,
                                0.5f,
                                0.95f,
                                0.0f,
                                -3.0f,
                                1e-40f,
                                1e30f,
                                std::numeric_limits<float>::infinity(),
                                std::numeric_limits<float>::quiet_NaN()};
  std::uniform_int_distribution<size_t> pick(0, std::size(kPool) - 1);
  std::uniform_real_distribution<float> frequency(0.2f, 40.0f);
  std::bernoulli_distribution awkward(0.3);
  std::vector<float> w(count);
  for (float& v : w) v = awkward(rng) ? kPool[pick(rng)] : frequency(rng);
  return w;
}

TEST_P(KernelPathTest, TableRowOfEveryLengthHasTheBitsOfOnePairAtATime) {
  auto rng = seededEngine(9127u);
  for (float xi : {0.05f, 0.0f, 0.02f, 0.3f, 1.0f}) {
    const DampingFactors f = dampingFactors(xi);
    for (size_t count = 0; count <= 24; ++count) {
      for (int trial = 0; trial < 20; ++trial) {
        SCOPED_TRACE("damping " + std::to_string(xi) + ", length " + std::to_string(count));
        const std::vector<float> w = awkwardModalValues(rng, count + 1);
        const float sentinel = -12345.0f;
        std::vector<float> row(count + 1, sentinel);
        kernels().cqcRow(w[0], w.data() + 1, count, f.a, f.b, row.data());
        for (size_t k = 0; k < count; ++k) {
          float single = 0.0f;
          orv::seismic::scalarKernels.cqcRow(w[0], &w[k + 1], 1, f.a, f.b, &single);
          EXPECT_TRUE(sameFloat(row[k], single))
              << "pair " << k << ": " << row[k] << " vs " << single;
          EXPECT_TRUE(sameFloat(row[k], referenceCoefficient(w[0], w[k + 1], f))) << "pair " << k;
        }
        EXPECT_EQ(row[count], sentinel) << "written past the row";
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, KernelPathTest,
                         ::testing::Values(SimdPath::scalar, SimdPath::sse, SimdPath::avx2),
                         pathName);

TEST(KernelSelection, ActivePathIsTheWidestAvailable) {
  const SimdPath active = orv::seismic::activePath();
  ASSERT_NE(orv::seismic::kernelsFor(active), nullptr);
  EXPECT_EQ(&orv::seismic::activeKernels(), orv::seismic::kernelsFor(active));
  if (orv::seismic::kernelsFor(SimdPath::avx2) != nullptr) {
    EXPECT_EQ(active, SimdPath::avx2);
  }
  ASSERT_NE(orv::seismic::kernelsFor(SimdPath::scalar), nullptr);
}

}  // namespace
