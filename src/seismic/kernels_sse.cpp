// 4 lanes at a time: each block is 6 aligned 128-bit groups, kept in registers across modes.
#include "seismic/kernels.h"

#ifdef ORV_SEISMIC_X86

#include <emmintrin.h>

#include "seismic/seismic.h"

#define ORV_SSE __attribute__((target("sse2")))

namespace orv::seismic {
namespace {

constexpr int kGroups = kResponsesPerMode / 4;

ORV_SSE __m128 signMask() { return _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF)); }

ORV_SSE void srss(int32_t numModes, const float* in, float* out) {
  __m128 s[kGroups];
  for (int g = 0; g < kGroups; ++g) s[g] = _mm_load_ps(out + 4 * g);
  for (int32_t i = 0; i < numModes; ++i) {
    const float* u = in + static_cast<size_t>(i) * kResponsesPerMode;
    for (int g = 0; g < kGroups; ++g) {
      const __m128 v = _mm_load_ps(u + 4 * g);
      s[g] = _mm_add_ps(_mm_mul_ps(v, v), s[g]);
    }
  }
  for (int g = 0; g < kGroups; ++g) _mm_store_ps(out + 4 * g, _mm_sqrt_ps(s[g]));
}

ORV_SSE void absSum(int32_t numModes, const float* in, float* out) {
  const __m128 mask = signMask();
  __m128 s[kGroups];
  for (int g = 0; g < kGroups; ++g) s[g] = _mm_load_ps(out + 4 * g);
  for (int32_t i = 0; i < numModes; ++i) {
    const float* u = in + static_cast<size_t>(i) * kResponsesPerMode;
    for (int g = 0; g < kGroups; ++g) {
      s[g] = _mm_add_ps(_mm_and_ps(_mm_load_ps(u + 4 * g), mask), s[g]);
    }
  }
  for (int g = 0; g < kGroups; ++g) _mm_store_ps(out + 4 * g, s[g]);
}

ORV_SSE void cqc(int32_t numModes, const float* coeffs, const float* in, float* out) {
  const __m128 mask = signMask();
  const size_t n = static_cast<size_t>(numModes);
  __m128 s[kGroups];
  for (int g = 0; g < kGroups; ++g) s[g] = _mm_setzero_ps();
  for (size_t i = 0; i < n; ++i) {
    const float* pi = in + i * kResponsesPerMode;
    __m128 ui[kGroups];
    for (int g = 0; g < kGroups; ++g) {
      ui[g] = _mm_load_ps(pi + 4 * g);
      s[g] = _mm_add_ps(_mm_mul_ps(ui[g], ui[g]), s[g]);
    }
    for (size_t j = i + 1; j < n; ++j) {
      const __m128 c = _mm_set1_ps(*coeffs++);
      const float* pj = in + j * kResponsesPerMode;
      for (int g = 0; g < kGroups; ++g) {
        const __m128 t = _mm_mul_ps(_mm_mul_ps(_mm_load_ps(pj + 4 * g), ui[g]), c);
        s[g] = _mm_add_ps(_mm_and_ps(t, mask), s[g]);
      }
    }
  }
  for (int g = 0; g < kGroups; ++g) _mm_store_ps(out + 4 * g, _mm_sqrt_ps(s[g]));
}

ORV_SSE __m128 coefficients(__m128 wi, __m128 wj, __m128 a, __m128 b) {
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 r = _mm_div_ps(wi, wj);
  const __m128 omr = _mm_sub_ps(one, r);
  const __m128 p = _mm_mul_ps(omr, omr);
  const __m128 q = _mm_add_ps(p, _mm_mul_ps(r, a));
  const __m128 d = _mm_mul_ps(q, _mm_add_ps(r, one));
  const __m128 s = _mm_mul_ps(_mm_sqrt_ps(r), r);
  return _mm_mul_ps(_mm_div_ps(s, d), b);
}

ORV_SSE void cqcRow(float wi, const float* wj, size_t count, float a, float b, float* c) {
  const __m128 vwi = _mm_set1_ps(wi);
  const __m128 va = _mm_set1_ps(a);
  const __m128 vb = _mm_set1_ps(b);
  size_t k = 0;
  for (; k + 4 <= count; k += 4) {
    _mm_storeu_ps(c + k, coefficients(vwi, _mm_loadu_ps(wj + k), va, vb));
  }
  if (k == count) return;
  // The spare lanes repeat the last pair, so they raise no floating-point flag of their own.
  alignas(16) float tail[4];
  for (size_t t = 0; t < 4; ++t) tail[t] = wj[k + t < count ? k + t : count - 1];
  _mm_store_ps(tail, coefficients(vwi, _mm_load_ps(tail), va, vb));
  for (size_t t = 0; k + t < count; ++t) c[k + t] = tail[t];
}

}  // namespace

const KernelSet sseKernels = {srss, absSum, cqc, cqcRow};

}  // namespace orv::seismic

#endif
