// Modal combination: every instruction-set path bit for bit against the rules written out here
// (built with -ffp-contract=off, so that each operation rounds on its own as in the kernels), the
// correlation table against the closed form, and the exports as a host calls them.
#include <ORVSparseSolver/exports.h>
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "seismic/kernels.h"
#include "seismic/seismic.h"

namespace {

constexpr int kLanes = 24;
using Block = std::array<float, kLanes>;

// NaNs match whatever their payload: x86 passes on that of whichever operand comes first.
bool same(float x, float y) { return std::isnan(x) ? std::isnan(y) : !std::memcmp(&x, &y, 4); }

// Magnitudes 2^-12..2^12 of either sign; at the given rate NaNs of either sign, infinities,
// signed zeros, subnormals and values whose squares overflow or underflow.
float randomValue(std::mt19937& rng, double rate) {
  const float kSpecial[] = {NAN,    -NAN,    INFINITY, -INFINITY, 0.0f,  -0.0f,
                            1e-45f, -1e-40f, 1.2e-38f, -3.4e38f,  1e20f, -1e-20f};
  if (std::bernoulli_distribution(rate)(rng)) return kSpecial[rng() % std::size(kSpecial)];
  return std::ldexp(std::uniform_real_distribution<float>(-1.0f, 1.0f)(rng), int(rng() % 25) - 12);
}

// Rule 1: sqrt(out + sum u_i^2); 2: sqrt(sum u_i^2 + sum_{i<j} |u_j u_i c_ij|) summed u_0^2,
// (0,1)..(0,n-1), u_1^2, (1,2).. with out ignored; 3: out + sum |u_i|. Modes in ascending order.
Block reference(int rule, int n, const float* c, const float* in, Block s) {
  if (rule == 2) s.fill(0.0f);
  const auto u = [&](int i, int l) { return in[i * kLanes + l]; };
  for (int i = 0; i < n; ++i) {
    for (int l = 0; l < kLanes; ++l)
      s[l] = (rule == 3 ? std::fabs(u(i, l)) : u(i, l) * u(i, l)) + s[l];
    for (int j = i + 1; rule == 2 && j < n; ++j, ++c)
      for (int l = 0; l < kLanes; ++l) s[l] = std::fabs((u(j, l) * u(i, l)) * *c) + s[l];
  }
  for (float& v : s) v = rule == 3 ? v : std::sqrt(v);
  return s;
}

TEST(SeismicKernels, EveryPathMatchesTheRulesBitForBit) {
  std::mt19937 rng(20240611u);
  for (int path = 0; path < 3; ++path) {  // scalar, SSE, AVX2
    const orv::seismic::KernelSet* k = orv::seismic::kernelsFor(orv::seismic::SimdPath(path));
    // Every count up to twice the widest vector plus one, a few more, and negative ones.
    for (int n :
         {INT_MIN, -1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 31, 64, 255}) {
      if (k == nullptr) break;
      SCOPED_TRACE(testing::Message() << "path " << path << ", modes " << n);
      const size_t count = size_t(std::max(n, 0));
      // The modes, the output block (both 16- but not 32-byte aligned), then the table.
      std::vector<float> storage(count * kLanes + count * count / 2 + 2 * kLanes + 32);
      for (float& v : storage) v = randomValue(rng, 0.3 / double(count + 1));  // a third of lanes
      float* in = storage.data() + (64 - reinterpret_cast<uintptr_t>(storage.data()) % 64) / 4 + 4 +
                  8 * (count & 1);
      float* out = in + count * kLanes + 8;
      Block start;
      std::copy_n(out, kLanes, start.begin());
      for (int rule = 1; rule <= 3; ++rule) {
        std::copy(start.begin(), start.end(), out);
        if (rule == 1) k->srss(n, in, out);
        if (rule == 2) k->cqc(int(count), out + kLanes, in, out);
        if (rule == 3) k->absSum(n, in, out);
        const Block expected = reference(rule, n, out + kLanes, in, start);
        for (int l = 0; l < kLanes; ++l) ASSERT_TRUE(same(out[l], expected[l])) << rule << l;
      }
      // A row of the correlation table against the scalar set's, at a damping of 0 to 0.4, with
      // the table's random values as modal values.
      const float* w = out + kLanes;
      std::vector<float> row(count + 1, -7.0f), scalar(count + 1, -7.0f);
      const float xi = float(count % 5) / 10, a = 4 * xi * xi, b = 4 * a;
      k->cqcRow(w[0], w + 1, count, a, b, row.data());
      orv::seismic::scalarKernels.cqcRow(w[0], w + 1, count, a, b, scalar.data());
      for (size_t j = 0; j <= count; ++j) ASSERT_TRUE(same(row[j], scalar[j])) << "entry " << j;
    }
  }
  EXPECT_EQ(int(orv::seismic::activePath()), __builtin_cpu_supports("avx2") ? 2 : 1) << "widest";
}

// Through the exports: in.size() / 24 modes onto an output block filled with start.
Block combine(int kind, const std::vector<float>& w, float xi, const std::vector<float>& in,
              float start) {
  void* handle = nullptr;
  const int n = int(in.size()) / kLanes;
  EXPECT_EQ(exp_mediaSismica_init_v3(&handle, kind, n, w.empty() ? nullptr : w.data(), xi), 0);
  alignas(16) Block out;
  out.fill(start);
  EXPECT_EQ(exp_mediaSismica_calc24_v3(handle, in.data(), out.data()), 0);  // new aligns to 16
  EXPECT_EQ(exp_mediaSismica_free_v3(&handle), 0);
  return out;
}

TEST(SeismicExports, HandWorkedCombinations) {
  struct Row {
    int kind;
    std::vector<float> w, u;  // modal values; responses, one per mode, the same in every lane
    float xi, start, expected;
    const char* why;
  };
  const Row rows[] = {
      {1, {}, {-3}, 0, 16, 5, "SRSS adds the squares onto out"},
      {3, {}, {-3}, 0, 4, 7, "the absolute sum adds magnitudes onto out"},
      {2, {3}, {-3}, 0.05f, 16, 3, "CQC overwrites out"},
      {2, {0.95f, 1}, {3, -4}, 0.05f, 0, std::sqrt(25 + 24 * 0.7914064f), "quoted rho"},
      {2, {2, 2, 2}, {3, -4, 12}, 0.05f, 0, 19, "coincident modes: the absolute sum"},
      {2, {1, 1e3f, 1e6f}, {3, -4, 12}, 0.05f, 0, 13, "modes decades apart: SRSS"},
      {2, {1, 2, 5}, {3, -4, 12}, 0, 0, 13, "no damping, distinct values: SRSS"},
      {2, {1, 2, 2}, {3, -4, 12}, 0, 0, NAN, "no damping, equal values: 0/0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    std::vector<float> in;
    for (float u : row.u) in.insert(in.end(), kLanes, u);
    for (float v : combine(row.kind, row.w, row.xi, in, row.start)) {
      const bool close = std::fabs(v - row.expected) <= 1e-6f * row.expected && !std::signbit(v);
      EXPECT_TRUE(std::isnan(row.expected) ? std::isnan(v) : close) << v;
    }
  }
}

// A building's modes: close pairs of translational and torsional ones, a repeated value, and
// values decades apart; responses that fall with the frequency.
TEST(SeismicCqc, TableHoldsTwiceTheClosedFormAndCqcLiesBetweenSrssAndAbsoluteSum) {
  const std::vector<float> w = {0.819f, 0.82f, 0.86f, 1.31f, 2.47f, 2.55f,
                                2.55f,  3.96f, 5.38f, 6.71f, 82.0f, 8200.0f};
  for (float xi : {0.005f, 0.02f, 0.05f, 0.2f, 1.0f}) {
    const orv::MediaSismicaCorr corr(int(w.size()), w.data(), xi);
    size_t k = 0;
    for (size_t i = 0; i < w.size(); ++i) {
      for (size_t j = i + 1; j < w.size(); ++j, ++k) {
        // Der Kiureghian's coefficient of two modes of equal damping, in double.
        const double r = w[i] / w[j], x2 = double(xi) * xi;
        const double expected = 16 * x2 * (1 + r) * std::pow(r, 1.5) /
                                ((1 - r * r) * (1 - r * r) + 4 * x2 * r * (1 + r) * (1 + r));
        EXPECT_NEAR(corr.coeffs().at(k), expected, 1e-6 * expected) << i << j << " xi " << xi;
      }
    }
  }
  EXPECT_EQ(orv::modePairCount(INT_MAX), 2305843005992468481u) << "n (n - 1) / 2 in 64 bits";
  std::mt19937 rng(1989u);
  std::vector<float> in(w.size() * kLanes);
  for (size_t k = 0; k < in.size(); ++k)
    in[k] = std::uniform_real_distribution<float>(-1.0f, 1.0f)(rng) / w[k / kLanes];
  const Block srss = combine(1, w, 0.05f, in, 0), cqc = combine(2, w, 0.05f, in, 0),
              abs = combine(3, w, 0.05f, in, 0);
  for (int l = 0; l < kLanes; ++l) EXPECT_TRUE(srss[l] < cqc[l] && cqc[l] < abs[l]) << l;
}

TEST(SeismicExports, RefusedCallsGiveMinusOneAndLeaveTheHandle) {
  struct Row {
    int kind, n, values, inShift, outShift, init, calc;  // shifts in floats; -1 for null
    const char* why;
  };
  const Row rows[] = {
      {0, 2, 1, 0, 0, -1, 0, "kind 0"},
      {4, 2, 1, 0, 0, -1, 0, "kind 4"},
      {-1, 2, 1, 0, 0, -1, 0, "kind -1"},
      {2, -1, 1, 0, 0, -1, 0, "CQC of a negative count"},
      {2, 3, 0, 0, 0, -1, 0, "CQC without modal values"},
      {2, 1, 0, 0, 0, 0, 0, "one mode: no pairs, no modal values needed"},
      {1, 2, 1, 1, 0, 0, -1, "misaligned in"},
      {2, 2, 1, 0, 2, 0, -1, "misaligned out"},
      {3, 2, 1, -1, 0, 0, -1, "no in"},
      {1, 2, 1, 0, -1, 0, -1, "no out"},
      {2, 2, 1, 4, 4, 0, 0, "16- but not 32-byte aligned"},
      {3, -4, 0, 1, 0, 0, 0, "a negative count is no modes: in is not read"},
  };
  alignas(32) float in[3 * kLanes] = {}, out[kLanes + 8] = {};
  const float w[] = {1.0f, 2.0f, 3.0f};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    void* handle = in;
    ASSERT_EQ(exp_mediaSismica_init_v3(&handle, row.kind, row.n, row.values ? w : nullptr, 0.05f),
              row.init);
    EXPECT_EQ(handle == in, row.init != 0);
    if (row.init != 0) continue;
    EXPECT_EQ(exp_mediaSismica_calc24_v3(handle, row.inShift < 0 ? nullptr : in + row.inShift,
                                         row.outShift < 0 ? nullptr : out + row.outShift),
              row.calc);
    EXPECT_EQ(exp_mediaSismica_free_v3(&handle), 0);
    EXPECT_EQ(exp_mediaSismica_free_v3(&handle), 0) << "freed object: the variable is cleared";
  }
  EXPECT_EQ(exp_mediaSismica_calc24_v3(nullptr, in, out), -1);
  EXPECT_EQ(exp_mediaSismica_init_v3(nullptr, 1, 1, nullptr, 0.0f), -1);
  EXPECT_EQ(exp_mediaSismica_free_v3(nullptr), -1);
}

}  // namespace
