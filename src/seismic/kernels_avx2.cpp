// 8 lanes at a time: each block is 3 groups of 256 bits. The blocks are only guaranteed to be
// 16-byte aligned, so every 256-bit access is an unaligned one. Only these functions are built
// for AVX2 (target attribute rather than a file-wide -mavx2), so no inline function shared
// with the other paths can be emitted with AVX2 instructions; FMA stays off.
#include "seismic/kernels.h"

#ifdef ORV_SEISMIC_X86

#include <immintrin.h>

#include "seismic/seismic.h"

#define ORV_AVX2 __attribute__((target("avx2")))

namespace orv::seismic {
namespace {

constexpr int kGroups = kResponsesPerMode / 8;

ORV_AVX2 __m256 signMask() { return _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF)); }

ORV_AVX2 void srss(int32_t numModes, const float* in, float* out) {
  __m256 s[kGroups];
  for (int g = 0; g < kGroups; ++g) s[g] = _mm256_loadu_ps(out + 8 * g);
  for (int32_t i = 0; i < numModes; ++i) {
    const float* u = in + static_cast<size_t>(i) * kResponsesPerMode;
    for (int g = 0; g < kGroups; ++g) {
      const __m256 v = _mm256_loadu_ps(u + 8 * g);
      s[g] = _mm256_add_ps(_mm256_mul_ps(v, v), s[g]);
    }
  }
  for (int g = 0; g < kGroups; ++g) _mm256_storeu_ps(out + 8 * g, _mm256_sqrt_ps(s[g]));
}

ORV_AVX2 void absSum(int32_t numModes, const float* in, float* out) {
  const __m256 mask = signMask();
  __m256 s[kGroups];
  for (int g = 0; g < kGroups; ++g) s[g] = _mm256_loadu_ps(out + 8 * g);
  for (int32_t i = 0; i < numModes; ++i) {
    const float* u = in + static_cast<size_t>(i) * kResponsesPerMode;
    for (int g = 0; g < kGroups; ++g) {
      s[g] = _mm256_add_ps(_mm256_and_ps(_mm256_loadu_ps(u + 8 * g), mask), s[g]);
    }
  }
  for (int g = 0; g < kGroups; ++g) _mm256_storeu_ps(out + 8 * g, s[g]);
}

ORV_AVX2 void cqc(int32_t numModes, const float* coeffs, const float* in, float* out) {
  const __m256 mask = signMask();
  const size_t n = static_cast<size_t>(numModes);
  __m256 s[kGroups];
  for (int g = 0; g < kGroups; ++g) s[g] = _mm256_setzero_ps();
  for (size_t i = 0; i < n; ++i) {
    const float* pi = in + i * kResponsesPerMode;
    __m256 ui[kGroups];
    for (int g = 0; g < kGroups; ++g) {
      ui[g] = _mm256_loadu_ps(pi + 8 * g);
      s[g] = _mm256_add_ps(_mm256_mul_ps(ui[g], ui[g]), s[g]);
    }
    for (size_t j = i + 1; j < n; ++j) {
      const __m256 c = _mm256_broadcast_ss(coeffs++);
      const float* pj = in + j * kResponsesPerMode;
      for (int g = 0; g < kGroups; ++g) {
        const __m256 t = _mm256_mul_ps(_mm256_mul_ps(_mm256_loadu_ps(pj + 8 * g), ui[g]), c);
        s[g] = _mm256_add_ps(_mm256_and_ps(t, mask), s[g]);
      }
    }
  }
  for (int g = 0; g < kGroups; ++g) _mm256_storeu_ps(out + 8 * g, _mm256_sqrt_ps(s[g]));
}

ORV_AVX2 __m256 coefficients(__m256 wi, __m256 wj, __m256 a, __m256 b) {
  const __m256 one = _mm256_set1_ps(1.0f);
  const __m256 r = _mm256_div_ps(wi, wj);
  const __m256 omr = _mm256_sub_ps(one, r);
  const __m256 p = _mm256_mul_ps(omr, omr);
  const __m256 q = _mm256_add_ps(p, _mm256_mul_ps(r, a));
  const __m256 d = _mm256_mul_ps(q, _mm256_add_ps(r, one));
  const __m256 s = _mm256_mul_ps(_mm256_sqrt_ps(r), r);
  return _mm256_mul_ps(_mm256_div_ps(s, d), b);
}

ORV_AVX2 void cqcRow(float wi, const float* wj, size_t count, float a, float b, float* c) {
  const __m256 vwi = _mm256_set1_ps(wi);
  const __m256 va = _mm256_set1_ps(a);
  const __m256 vb = _mm256_set1_ps(b);
  size_t k = 0;
  for (; k + 8 <= count; k += 8) {
    _mm256_storeu_ps(c + k, coefficients(vwi, _mm256_loadu_ps(wj + k), va, vb));
  }
  if (k == count) return;
  // The spare lanes repeat the last pair, so they raise no floating-point flag of their own.
  float tail[8];
  for (size_t t = 0; t < 8; ++t) tail[t] = wj[k + t < count ? k + t : count - 1];
  _mm256_storeu_ps(tail, coefficients(vwi, _mm256_loadu_ps(tail), va, vb));
  for (size_t t = 0; k + t < count; ++t) c[k + t] = tail[t];
}

}  // namespace

const KernelSet avx2Kernels = {srss, absSum, cqc, cqcRow};

}  // namespace orv::seismic

#endif
