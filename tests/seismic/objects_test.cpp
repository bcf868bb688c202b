// The combination objects: creation, the rules' edge cases, the correlation table against the
// closed form, and the properties of the three rules on realistic modal data.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <stdexcept>
#include <string>

#include "seismic/seismic.h"
#include "seismic_test_support.h"

namespace {

using namespace seismic_test;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

Block combine(const orv::MediaSismicaBase& object, const float* in, const Block& start) {
  AlignedFloats out(kLanes, 0);
  std::copy(start.begin(), start.end(), out.data());
  object.calc24(in, out.data());
  Block result;
  std::copy(out.data(), out.data() + kLanes, result.begin());
  return result;
}

::testing::AssertionResult sameBlock(const Block& actual, const Block& expected) {
  for (int l = 0; l < kLanes; ++l) {
    if (!sameFloat(actual[l], expected[l])) {
      return ::testing::AssertionFailure()
             << "lane " << l << ": got " << actual[l] << ", expected " << expected[l];
    }
  }
  return ::testing::AssertionSuccess();
}

bool allNaN(const Block& b) {
  return std::all_of(b.begin(), b.end(), [](float v) { return std::isnan(v); });
}

// Modes stored one block after another.
AlignedFloats modeBlocks(const std::vector<Block>& modes) {
  AlignedFloats in(modes.size() * kLanes + 1, 0);
  for (size_t i = 0; i < modes.size(); ++i) {
    std::copy(modes[i].begin(), modes[i].end(), in.data() + i * kLanes);
  }
  return in;
}

std::unique_ptr<orv::MediaSismicaBase> create(int32_t kind, const std::vector<float>& w, float xi) {
  return orv::createMediaSismica(kind, static_cast<int32_t>(w.size()), w.data(), xi);
}

// ---- Creation ----

TEST(MediaSismicaCreation, UnknownKindsGiveNoObject) {
  for (int32_t kind : {0, 4, -1, 5, INT_MIN, INT_MAX}) {
    EXPECT_EQ(orv::createMediaSismica(kind, 3, nullptr, 0.05f), nullptr) << "kind " << kind;
  }
}

TEST(MediaSismicaCreation, EachKindMakesItsRule) {
  const float w[] = {1.0f, 2.0f};
  for (int32_t kind : {1, 2, 3}) {
    auto object = orv::createMediaSismica(kind, 2, w, 0.05f);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->numModes(), 2);
  }
  EXPECT_NE(dynamic_cast<orv::MediaSismicaF<&orv::MediaSismicaCase1Vec>*>(
                orv::createMediaSismica(1, 2, w, 0.05f).get()),
            nullptr);
  EXPECT_NE(dynamic_cast<orv::MediaSismica2*>(orv::createMediaSismica(2, 2, w, 0.05f).get()),
            nullptr);
  EXPECT_NE(dynamic_cast<orv::MediaSismicaF<&orv::MediaSismicaCase3Vec>*>(
                orv::createMediaSismica(3, 2, w, 0.05f).get()),
            nullptr);
}

TEST(MediaSismicaCreation, ModalValuesMayBeNullWhereUnused) {
  EXPECT_NE(orv::createMediaSismica(1, 10, nullptr, 0.0f), nullptr);
  EXPECT_NE(orv::createMediaSismica(3, 10, nullptr, 0.0f), nullptr);
  EXPECT_NE(orv::createMediaSismica(2, 0, nullptr, 0.05f), nullptr);
  EXPECT_NE(orv::createMediaSismica(2, 1, nullptr, 0.05f), nullptr);
  EXPECT_THROW(orv::createMediaSismica(2, 2, nullptr, 0.05f), std::invalid_argument);
}

TEST(MediaSismicaCreation, NegativeCountIsRefusedForCqcOnly) {
  EXPECT_THROW(orv::createMediaSismica(2, -1, nullptr, 0.05f), std::invalid_argument);
  EXPECT_THROW(orv::createMediaSismica(2, INT_MIN, nullptr, 0.05f), std::invalid_argument);
  EXPECT_EQ(orv::createMediaSismica(1, -1, nullptr, 0.0f)->numModes(), -1);
  EXPECT_EQ(orv::createMediaSismica(3, INT_MIN, nullptr, 0.0f)->numModes(), INT_MIN);
}

TEST(MediaSismicaCreation, PairCountIsFormedWithoutOverflow) {
  EXPECT_EQ(orv::modePairCount(INT_MIN), 0u);
  EXPECT_EQ(orv::modePairCount(0), 0u);
  EXPECT_EQ(orv::modePairCount(1), 0u);
  EXPECT_EQ(orv::modePairCount(2), 1u);
  EXPECT_EQ(orv::modePairCount(65536), 2147450880u);
  EXPECT_EQ(orv::modePairCount(INT_MAX), 2305843005992468481u);
}

TEST(MediaSismicaCreation, TableThatCannotBeHeldThrows) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer aborts on an allocation this large instead of throwing";
#endif
  const std::vector<float> w(1, 1.0f);
  for (int32_t n : {INT_MAX, INT_MAX / 2 + 7}) {
    try {
      orv::createMediaSismica(2, n, w.data(), 0.05f);
      ADD_FAILURE() << n << " modes: no exception";
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
  }
}

// ---- SRSS and absolute sum ----

TEST(MediaSismicaSrssAndAbs, ZeroOrNegativeCountTouchesOnlyTheIncomingBlock) {
  const Block start = {0.0f, 4.0f, 2.25f, -0.0f, 1e-40f, kNaN, -1.0f};
  for (int32_t n : {0, -1, -1000}) {
    SCOPED_TRACE(n);
    auto srss = orv::createMediaSismica(1, n, nullptr, 0.0f);
    const Block r = combine(*srss, nullptr, start);
    EXPECT_EQ(r[0], 0.0f);
    EXPECT_EQ(r[1], 2.0f);
    EXPECT_EQ(r[2], 1.5f);
    EXPECT_TRUE(std::signbit(r[3])) << "sqrt(-0) is -0";
    EXPECT_EQ(r[4], std::sqrt(1e-40f));
    EXPECT_TRUE(std::isnan(r[5]));
    EXPECT_TRUE(std::isnan(r[6]));
    for (int l = 7; l < kLanes; ++l) EXPECT_EQ(std::bit_cast<uint32_t>(r[l]), 0u);

    auto abs = orv::createMediaSismica(3, n, nullptr, 0.0f);
    EXPECT_TRUE(sameBlock(combine(*abs, nullptr, start), start));
  }
}

TEST(MediaSismicaSrssAndAbs, OneModeOntoIncomingValues) {
  Block u;
  Block v;
  for (int l = 0; l < kLanes; ++l) {
    u[l] = static_cast<float>(l) - 11.5f;
    v[l] = static_cast<float>(l * l) * 0.25f;
  }
  AlignedFloats in = modeBlocks({u});
  const Block srss = combine(*orv::createMediaSismica(1, 1, nullptr, 0.0f), in.data(), v);
  const Block abs = combine(*orv::createMediaSismica(3, 1, nullptr, 0.0f), in.data(), v);
  for (int l = 0; l < kLanes; ++l) {
    EXPECT_EQ(srss[l], std::sqrt(u[l] * u[l] + v[l])) << l;
    EXPECT_EQ(abs[l], std::fabs(u[l]) + v[l]) << l;
  }
  // Hand-worked lanes: u = -11.5, v = 0 and u = 0.5, v = 36.
  EXPECT_EQ(srss[0], 11.5f);
  EXPECT_EQ(abs[12], 36.5f);
}

TEST(MediaSismicaSrssAndAbs, SignsNaNAndNegativeZero) {
  Block a{};
  Block b{};
  a[0] = 3.0f;
  b[0] = -4.0f;  // squared by SRSS, magnitude for the absolute sum
  a[1] = kNaN;
  b[1] = 1.0f;
  a[2] = -0.0f;
  b[2] = -0.0f;
  AlignedFloats in = modeBlocks({a, b});
  const Block srss = combine(*orv::createMediaSismica(1, 2, nullptr, 0.0f), in.data(), Block{});
  EXPECT_EQ(srss[0], 5.0f);
  EXPECT_TRUE(std::isnan(srss[1]));
  EXPECT_EQ(srss[2], 0.0f);

  Block negativeZeroStart{};
  negativeZeroStart[2] = -0.0f;
  const Block abs =
      combine(*orv::createMediaSismica(3, 2, nullptr, 0.0f), in.data(), negativeZeroStart);
  EXPECT_EQ(abs[0], 7.0f);
  EXPECT_TRUE(std::isnan(abs[1]));
  EXPECT_FALSE(std::signbit(abs[2])) << "-0 must add +0";
}

TEST(MediaSismicaSrssAndAbs, ObjectsMatchReferenceOnRandomData) {
  auto rng = seededEngine(31337u);
  for (int32_t n : {0, 1, 5, 33, 250}) {
    SCOPED_TRACE(n);
    AlignedFloats in(static_cast<size_t>(n) * kLanes + 1, 0);
    fillRandom(rng, in.data(), static_cast<size_t>(n) * kLanes, 0.01);
    Block start;
    fillRandom(rng, start.data(), kLanes, 0.0);
    for (float& v : start) v = std::fabs(v);
    EXPECT_TRUE(sameBlock(combine(*orv::createMediaSismica(1, n, nullptr, 0.0f), in.data(), start),
                          referenceSrss(n, in.data(), start)));
    EXPECT_TRUE(sameBlock(combine(*orv::createMediaSismica(3, n, nullptr, 0.0f), in.data(), start),
                          referenceAbsSum(n, in.data(), start)));
  }
}

// ---- CQC: correlation table ----

TEST(MediaSismicaCorrTable, MatchesClosedFormOverRatiosAndDampings) {
  const float ratios[] = {0.01f, 0.05f, 0.1f,  0.2f,  0.3f,   0.5f,    0.7f, 0.8f,
                          0.9f,  0.95f, 0.98f, 0.99f, 0.999f, 0.9999f, 1.0f};
  const float dampings[] = {0.005f, 0.01f, 0.02f, 0.05f, 0.1f, 0.2f, 0.5f, 1.0f};
  for (float xi : dampings) {
    for (float r : ratios) {
      // Pairs (0,1): ratio r, (1,2): ratio 1/r, whose coefficients are equal, and (0,2): 1.
      const std::vector<float> w = {r, 1.0f, r};
      const orv::MediaSismicaCorr corr(3, w.data(), xi);
      ASSERT_EQ(corr.coeffs().size(), 3u);
      for (size_t k : {size_t{0}, size_t{2}}) {
        const double ratio = k == 0 ? static_cast<double>(w[0] / w[1]) : w[1] / w[2];
        const double expected = 2.0 * closedFormRho(ratio, xi);
        SCOPED_TRACE("damping " + std::to_string(xi) + ", ratio " + std::to_string(ratio));
        EXPECT_NEAR(corr.coeffs()[k], expected, 1e-6 * expected);
        EXPECT_NEAR(closedFormRho(ratio, xi), closedFormRho(1.0 / ratio, xi), 1e-12);
      }
      EXPECT_FLOAT_EQ(corr.coeffs()[1], 2.0f) << "equal values";
    }
  }
}

TEST(MediaSismicaCorrTable, QuotedCoefficientsAtFivePercentDamping) {
  const float w[] = {0.95f, 1.0f, 0.5f, 20.0f, 19.0f};
  const orv::MediaSismicaCorr corr(5, w, 0.05f);
  // Pairs (0,1): r = 0.95, (3,4): r = 20/19 = 1/0.95, (1,2): r = 2 = 1/0.5.
  EXPECT_NEAR(corr.coeffs()[0] / 2.0, 0.791406, 1e-6);
  EXPECT_NEAR(corr.coeffs()[9] / 2.0, 0.791406, 1e-6);
  EXPECT_NEAR(corr.coeffs()[4] / 2.0, 0.018486, 1e-6);
}

TEST(MediaSismicaCorrTable, EveryTableSizeMatchesPairByPair) {
  auto rng = seededEngine(4242u);
  std::uniform_real_distribution<float> frequency(0.3f, 30.0f);
  for (int32_t n = 0; n <= 20; ++n) {
    for (float xi : {0.0f, 0.02f, 0.05f}) {
      SCOPED_TRACE("modes " + std::to_string(n) + ", damping " + std::to_string(xi));
      std::vector<float> w(static_cast<size_t>(n));
      for (float& v : w) v = frequency(rng);
      if (n > 3) w[3] = w[1];
      const orv::MediaSismicaCorr corr(n, w.data(), xi);
      EXPECT_EQ(corr.numModes(), n);
      const std::vector<float> expected = referenceTable(w, xi);
      ASSERT_EQ(corr.coeffs().size(), expected.size());
      for (size_t k = 0; k < expected.size(); ++k) {
        EXPECT_TRUE(sameFloat(corr.coeffs()[k], expected[k])) << "entry " << k;
      }
      // Packing: pair (i, j) at i*n - i(i+1)/2 + (j-i-1).
      for (int32_t i = 0; i < n; ++i) {
        for (int32_t j = i + 1; j < n; ++j) {
          const size_t at = static_cast<size_t>(i * n - i * (i + 1) / 2 + (j - i - 1));
          EXPECT_TRUE(
              sameFloat(corr.coeffs()[at], referenceCoefficient(w[i], w[j], dampingFactors(xi))));
        }
      }
    }
  }
}

TEST(MediaSismicaCorrTable, RatiosThatAreZeroNegativeInfiniteOrNaN) {
  const float w[] = {0.0f, 5.0f, -3.0f, 0.0f};
  const orv::MediaSismicaCorr corr(4, w, 0.05f);
  const std::vector<float>& c = corr.coeffs();
  EXPECT_EQ(c[0], 0.0f) << "ratio 0/5";
  EXPECT_EQ(c[1], 0.0f) << "ratio 0/-3 is -0, whose square root is -0";
  EXPECT_TRUE(std::isnan(c[2])) << "ratio 0/0";
  EXPECT_TRUE(std::isnan(c[3])) << "ratio 5/-3";
  EXPECT_TRUE(std::isnan(c[4])) << "ratio 5/0";
  EXPECT_TRUE(std::isnan(c[5])) << "ratio -3/0";
}

// ---- CQC: combination ----

TEST(MediaSismicaCqc, ZeroAndOneMode) {
  Block garbage;
  garbage.fill(kNaN);
  garbage[0] = 1e30f;
  const Block zero = combine(*orv::createMediaSismica(2, 0, nullptr, 0.05f), nullptr, garbage);
  for (float v : zero) EXPECT_EQ(std::bit_cast<uint32_t>(v), 0u);

  Block u;
  for (int l = 0; l < kLanes; ++l) u[l] = (static_cast<float>(l) - 7.0f) * 1.3f;
  u[1] = 2e20f;
  u[2] = -0.0f;
  AlignedFloats in = modeBlocks({u});
  const float w = 3.0f;
  const Block one = combine(*orv::createMediaSismica(2, 1, &w, 0.05f), in.data(), garbage);
  for (int l = 0; l < kLanes; ++l) EXPECT_EQ(one[l], std::sqrt(u[l] * u[l])) << l;
  EXPECT_EQ(one[1], std::numeric_limits<float>::infinity());
}

TEST(MediaSismicaCqc, EqualModalValuesAddMagnitudes) {
  auto rng = seededEngine(77u);
  const float w[] = {2.5f, 2.5f};
  auto cqc = orv::createMediaSismica(2, 2, w, 0.05f);
  const float c = static_cast<orv::MediaSismica2&>(*cqc).correlation().coeffs()[0];
  EXPECT_NEAR(c, 2.0f, 2.5e-7f);
  Block u0;
  Block u1;
  fillRandom(rng, u0.data(), kLanes, 0.0);
  fillRandom(rng, u1.data(), kLanes, 0.0);
  AlignedFloats in = modeBlocks({u0, u1});
  const Block r = combine(*cqc, in.data(), Block{});
  for (int l = 0; l < kLanes; ++l) {
    const float expected =
        std::sqrt(u0[l] * u0[l] + u1[l] * u1[l] + 2.0f * std::fabs(u0[l] * u1[l]));
    EXPECT_NEAR(r[l], expected, 1e-6f * expected) << l;
    EXPECT_NEAR(r[l], std::fabs(u0[l]) + std::fabs(u1[l]), 1e-6f * expected) << l;
  }
}

TEST(MediaSismicaCqc, ZeroDamping) {
  auto rng = seededEngine(1001u);
  std::vector<Block> modes(5);
  for (Block& m : modes) fillRandom(rng, m.data(), kLanes, 0.0);
  AlignedFloats in = modeBlocks(modes);

  // Distinct values: no correlation, so exactly SRSS on a zero block.
  const std::vector<float> distinct = {1.0f, 2.0f, 3.5f, 0.7f, 11.0f};
  const Block cqc = combine(*create(2, distinct, 0.0f), in.data(), Block{});
  const Block srss = combine(*create(1, distinct, 0.0f), in.data(), Block{});
  for (int l = 0; l < kLanes; ++l) {
    EXPECT_EQ(std::bit_cast<uint32_t>(cqc[l]), std::bit_cast<uint32_t>(srss[l])) << l;
  }

  // Two equal values: (1/0) * 0 is NaN, and a NaN coefficient spoils every lane.
  const std::vector<float> repeated = {1.0f, 2.0f, 3.5f, 2.0f, 11.0f};
  EXPECT_TRUE(allNaN(combine(*create(2, repeated, 0.0f), in.data(), Block{})));
}

TEST(MediaSismicaCqc, ZeroRatioAndOppositeSigns) {
  Block u{};
  u.fill(1.0f);
  AlignedFloats in = modeBlocks({u, u});
  // Modal value 0 for the earlier mode: coefficient 0, so sqrt(1 + 1).
  const Block zeroRatio = combine(*create(2, {0.0f, 4.0f}, 0.05f), in.data(), Block{});
  for (float v : zeroRatio) EXPECT_EQ(v, std::sqrt(2.0f));
  // Opposite signs, or 0 for the later mode: NaN in every lane, even for zero responses.
  EXPECT_TRUE(allNaN(combine(*create(2, {2.0f, -4.0f}, 0.05f), in.data(), Block{})));
  EXPECT_TRUE(allNaN(combine(*create(2, {4.0f, 0.0f}, 0.05f), in.data(), Block{})));
  AlignedFloats zeros = modeBlocks({Block{}, Block{}});
  EXPECT_TRUE(allNaN(combine(*create(2, {2.0f, -4.0f}, 0.05f), zeros.data(), Block{})));
}

TEST(MediaSismicaCqc, ResponseSignsAndIncomingValuesDoNotMatter) {
  auto rng = seededEngine(2468u);
  const std::vector<float> w = {1.1f, 1.2f, 2.9f, 3.0f, 7.5f, 7.6f, 12.0f};
  std::vector<Block> modes(w.size());
  for (Block& m : modes) fillRandom(rng, m.data(), kLanes, 0.0);
  std::vector<Block> flipped = modes;
  std::bernoulli_distribution flip(0.5);
  for (Block& m : flipped) {
    for (float& v : m) v = flip(rng) ? -v : v;
  }
  auto cqc = create(2, w, 0.05f);
  AlignedFloats in = modeBlocks(modes);
  AlignedFloats inFlipped = modeBlocks(flipped);
  Block garbage;
  fillRandom(rng, garbage.data(), kLanes, 0.5);
  const Block r = combine(*cqc, in.data(), Block{});
  EXPECT_TRUE(sameBlock(combine(*cqc, inFlipped.data(), Block{}), r));
  EXPECT_TRUE(sameBlock(combine(*cqc, in.data(), garbage), r));
}

TEST(MediaSismicaCqc, ObjectMatchesReferenceOnRandomData) {
  auto rng = seededEngine(8080u);
  std::uniform_real_distribution<float> frequency(0.5f, 50.0f);
  for (int32_t n : {2, 3, 9, 40, 180}) {
    SCOPED_TRACE(n);
    std::vector<float> w(static_cast<size_t>(n));
    for (float& v : w) v = frequency(rng);
    AlignedFloats in(static_cast<size_t>(n) * kLanes, 0);
    fillRandom(rng, in.data(), static_cast<size_t>(n) * kLanes, 0.002);
    const std::vector<float> table = referenceTable(w, 0.05f);
    EXPECT_TRUE(sameBlock(combine(*create(2, w, 0.05f), in.data(), Block{}),
                          referenceCqc(n, table.data(), in.data())));
  }
}

// ---- CQC: properties on modal data of a building ----

// Responses of a frame: each mode's contribution falls with its frequency, with signs and
// shapes varying over the 24 quantities.
std::vector<Block> frameResponses(std::mt19937& rng, const std::vector<float>& frequencies) {
  std::uniform_real_distribution<float> shape(-1.0f, 1.0f);
  std::vector<Block> modes(frequencies.size());
  for (size_t i = 0; i < modes.size(); ++i) {
    const float scale = 100.0f / (frequencies[i] * frequencies[i]);
    for (float& v : modes[i]) v = scale * shape(rng);
  }
  return modes;
}

struct ThreeRules {
  Block srss;
  Block cqc;
  Block abs;
};

ThreeRules combineAll(const std::vector<float>& w, float xi, const std::vector<Block>& modes) {
  AlignedFloats in = modeBlocks(modes);
  return {combine(*create(1, w, xi), in.data(), Block{}),
          combine(*create(2, w, xi), in.data(), Block{}),
          combine(*create(3, w, xi), in.data(), Block{})};
}

TEST(MediaSismicaRules, SrssAtMostCqcAtMostAbsoluteSum) {
  auto rng = seededEngine(1989u);
  // Twelve storeys with two pairs of closely spaced translational and torsional modes.
  const std::vector<float> w = {0.82f, 0.86f, 1.31f, 2.47f, 2.55f, 3.96f,
                                5.38f, 6.71f, 7.90f, 8.95f, 9.80f, 10.4f};
  for (float xi : {0.02f, 0.05f, 0.1f}) {
    for (int trial = 0; trial < 20; ++trial) {
      const ThreeRules r = combineAll(w, xi, frameResponses(rng, w));
      for (int l = 0; l < kLanes; ++l) {
        EXPECT_LE(r.srss[l], r.cqc[l]) << l;
        EXPECT_LE(r.cqc[l], r.abs[l] * (1.0f + 1e-6f)) << l;
      }
    }
  }
}

TEST(MediaSismicaRules, CqcApproachesSrssAsModesSeparate) {
  auto rng = seededEngine(2001u);
  // Comparable magnitudes, so that every cross term counts.
  std::vector<Block> modes(4);
  std::uniform_real_distribution<float> shape(0.5f, 1.0f);
  for (Block& m : modes) {
    for (float& v : m) v = shape(rng);
  }
  float previous = std::numeric_limits<float>::infinity();
  for (float spacing : {1.5f, 3.0f, 10.0f, 100.0f}) {
    std::vector<float> w = {1.0f};
    for (int k = 1; k < 4; ++k) w.push_back(w.back() * spacing);
    const ThreeRules r = combineAll(w, 0.05f, modes);
    float worst = 0.0f;
    for (int l = 0; l < kLanes; ++l) worst = std::max(worst, r.cqc[l] / r.srss[l] - 1.0f);
    EXPECT_LT(worst, previous) << "spacing " << spacing;
    previous = worst;
  }
  EXPECT_LT(previous, 1e-4f) << "two decades apart";
}

TEST(MediaSismicaRules, CqcApproachesAbsoluteSumAsModesCoincide) {
  auto rng = seededEngine(2002u);
  const std::vector<Block> modes = frameResponses(rng, {3.0f, 3.0f, 3.0f});
  float previous = std::numeric_limits<float>::infinity();
  for (float gap : {0.2f, 0.02f, 0.002f, 0.0f}) {
    const std::vector<float> w = {3.0f, 3.0f * (1.0f + gap), 3.0f * (1.0f + 2.0f * gap)};
    const ThreeRules r = combineAll(w, 0.05f, modes);
    float worst = 0.0f;
    for (int l = 0; l < kLanes; ++l) worst = std::max(worst, 1.0f - r.cqc[l] / r.abs[l]);
    EXPECT_LT(worst, previous) << "gap " << gap;
    previous = worst;
  }
  EXPECT_LT(previous, 1e-6f) << "coincident modes";
}

TEST(MediaSismicaRules, ModeOrderAndPeriodsChangeOnlyRounding) {
  auto rng = seededEngine(4711u);
  const std::vector<float> w = {0.82f, 0.86f, 1.31f, 2.47f, 2.55f, 3.96f, 5.38f, 6.71f};
  const std::vector<Block> modes = frameResponses(rng, w);
  const Block reference = combineAll(w, 0.05f, modes).cqc;

  std::vector<float> wSwapped = w;
  std::vector<Block> modesSwapped = modes;
  std::swap(wSwapped[0], wSwapped[1]);
  std::swap(modesSwapped[0], modesSwapped[1]);
  std::swap(wSwapped[3], wSwapped[6]);
  std::swap(modesSwapped[3], modesSwapped[6]);
  const Block swapped = combineAll(wSwapped, 0.05f, modesSwapped).cqc;

  std::vector<float> periods;
  for (float f : w) periods.push_back(1.0f / f);
  const Block fromPeriods = combineAll(periods, 0.05f, modes).cqc;

  for (int l = 0; l < kLanes; ++l) {
    EXPECT_NEAR(swapped[l], reference[l], 1e-5f * reference[l]) << l;
    EXPECT_NEAR(fromPeriods[l], reference[l], 1e-5f * reference[l]) << l;
  }
}

}  // namespace
