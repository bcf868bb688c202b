// Reference combinations written straight from their definitions, aligned buffers and random
// data for the modal-combination tests.
#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

namespace seismic_test {

constexpr int kLanes = 24;
using Block = std::array<float, kLanes>;

// Same bits, or both NaN: x86 passes on the payload of whichever NaN operand comes first, and
// the compiler may swap the operands of a product or a sum.
inline bool sameFloat(float x, float y) {
  return (std::isnan(x) && std::isnan(y)) ||
         std::bit_cast<uint32_t>(x) == std::bit_cast<uint32_t>(y);
}

inline float fromBits(uint32_t bits) { return std::bit_cast<float>(bits); }

// count floats starting offsetBytes past a 64-byte boundary (offsetBytes a multiple of 4).
class AlignedFloats {
 public:
  AlignedFloats(size_t count, size_t offsetBytes) : storage_(count + 32) {
    const auto base = reinterpret_cast<uintptr_t>(storage_.data());
    const uintptr_t start = (base + 63) / 64 * 64 + offsetBytes;
    data_ = storage_.data() + (start - base) / sizeof(float);
  }
  AlignedFloats(AlignedFloats&&) = default;
  AlignedFloats(const AlignedFloats&) = delete;
  AlignedFloats& operator=(const AlignedFloats&) = delete;
  float* data() { return data_; }
  float& operator[](size_t k) { return data_[k]; }

 private:
  std::vector<float> storage_;
  float* data_;
};

inline std::mt19937 seededEngine(uint32_t seed) {
  std::printf("[   seed   ] %u\n", seed);
  return std::mt19937(seed);
}

// A finite value of random sign and magnitude between 2^-12 and 2^12.
inline float ordinaryValue(std::mt19937& rng) {
  std::uniform_real_distribution<float> mantissa(-1.0f, 1.0f);
  std::uniform_int_distribution<int> exponent(-12, 12);
  return std::ldexp(mantissa(rng), exponent(rng));
}

// Values that take the arithmetic off its ordinary path: NaNs of both signs (one signalling),
// infinities, zeros of both signs, subnormals, and magnitudes whose squares overflow or
// underflow.
inline float specialValue(std::mt19937& rng) {
  static const float kSpecials[] = {
      std::numeric_limits<float>::quiet_NaN(),
      -std::numeric_limits<float>::quiet_NaN(),
      fromBits(0x7F800001u),
      std::numeric_limits<float>::infinity(),
      -std::numeric_limits<float>::infinity(),
      0.0f,
      -0.0f,
      std::numeric_limits<float>::denorm_min(),
      -1e-40f,
      3e-39f,
      std::numeric_limits<float>::min(),
      -std::numeric_limits<float>::max(),
      1e20f,
      -1e-20f,
  };
  std::uniform_int_distribution<size_t> pick(0, std::size(kSpecials) - 1);
  return kSpecials[pick(rng)];
}

// specialRate: the probability that a value is taken from specialValue.
inline float randomValue(std::mt19937& rng, double specialRate) {
  std::bernoulli_distribution special(specialRate);
  return special(rng) ? specialValue(rng) : ordinaryValue(rng);
}

inline void fillRandom(std::mt19937& rng, float* values, size_t count, double specialRate) {
  for (size_t k = 0; k < count; ++k) values[k] = randomValue(rng, specialRate);
}

// Square root of the sum of squares, onto the incoming s.
inline Block referenceSrss(int numModes, const float* in, Block s) {
  for (int i = 0; i < numModes; ++i) {
    for (int l = 0; l < kLanes; ++l) {
      const float u = in[i * kLanes + l];
      s[l] = u * u + s[l];
    }
  }
  for (float& v : s) v = std::sqrt(v);
  return s;
}

// Sum of absolute values, onto the incoming s.
inline Block referenceAbsSum(int numModes, const float* in, Block s) {
  for (int i = 0; i < numModes; ++i) {
    for (int l = 0; l < kLanes; ++l) s[l] = std::fabs(in[i * kLanes + l]) + s[l];
  }
  return s;
}

// CQC with the packed table c of twice the correlation coefficients:
// sqrt(sum u_i^2 + sum_{i<j} |u_j u_i| c_ij), summed u_0^2, (0,1), ..., (0,n-1), u_1^2, ...
inline Block referenceCqc(int numModes, const float* c, const float* in) {
  Block s{};
  size_t k = 0;
  for (int i = 0; i < numModes; ++i) {
    const float* ui = in + i * kLanes;
    for (int l = 0; l < kLanes; ++l) s[l] = ui[l] * ui[l] + s[l];
    for (int j = i + 1; j < numModes; ++j) {
      const float cij = c[k++];
      const float* uj = in + j * kLanes;
      for (int l = 0; l < kLanes; ++l) s[l] = std::fabs((uj[l] * ui[l]) * cij) + s[l];
    }
  }
  for (float& v : s) v = std::sqrt(v);
  return s;
}

// a ~ 4 xi^2 and b ~ 16 xi^2 as the table uses them: formed in double, rounded once.
struct DampingFactors {
  float a;
  float b;
};
inline DampingFactors dampingFactors(float xi) {
  const float a = static_cast<float>((static_cast<double>(xi) * 4.0) * static_cast<double>(xi));
  return {a, static_cast<float>(static_cast<double>(a) * 4.0)};
}

// Twice the correlation coefficient of the pair, one binary32 operation at a time:
// 16 xi^2 r^(3/2) / (((1-r)^2 + 4 xi^2 r)(1+r)), r = wi / wj.
inline float referenceCoefficient(float wi, float wj, DampingFactors f) {
  const float r = wi / wj;
  const float p = (1.0f - r) * (1.0f - r);
  const float q = p + r * f.a;
  const float d = q * (r + 1.0f);
  const float s = std::sqrt(r) * r;
  return (s / d) * f.b;
}

inline std::vector<float> referenceTable(const std::vector<float>& w, float xi) {
  std::vector<float> table;
  for (size_t i = 0; i < w.size(); ++i) {
    for (size_t j = i + 1; j < w.size(); ++j) {
      table.push_back(referenceCoefficient(w[i], w[j], dampingFactors(xi)));
    }
  }
  return table;
}

// The correlation coefficient of two modes of equal damping, in double.
inline double closedFormRho(double r, double xi) {
  const double x2 = xi * xi;
  return 8.0 * x2 * (1.0 + r) * std::pow(r, 1.5) /
         ((1.0 - r * r) * (1.0 - r * r) + 4.0 * x2 * r * (1.0 + r) * (1.0 + r));
}

}  // namespace seismic_test
