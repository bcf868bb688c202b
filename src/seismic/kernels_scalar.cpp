#include <bit>
#include <cmath>

#include "seismic/kernels.h"
#include "seismic/seismic.h"

namespace orv::seismic {
namespace {

constexpr int kLanes = kResponsesPerMode;

// |x| as a bit operation, so that -0 and NaN lose their sign exactly like the vector mask.
float clearSign(float x) { return std::bit_cast<float>(std::bit_cast<uint32_t>(x) & 0x7FFFFFFFu); }

void srss(int32_t numModes, const float* in, float* out) {
  for (int32_t i = 0; i < numModes; ++i) {
    const float* u = in + static_cast<size_t>(i) * kLanes;
    for (int l = 0; l < kLanes; ++l) out[l] = u[l] * u[l] + out[l];
  }
  for (int l = 0; l < kLanes; ++l) out[l] = std::sqrt(out[l]);
}

void absSum(int32_t numModes, const float* in, float* out) {
  for (int32_t i = 0; i < numModes; ++i) {
    const float* u = in + static_cast<size_t>(i) * kLanes;
    for (int l = 0; l < kLanes; ++l) out[l] = clearSign(u[l]) + out[l];
  }
}

void cqc(int32_t numModes, const float* coeffs, const float* in, float* out) {
  for (int l = 0; l < kLanes; ++l) out[l] = 0.0f;
  const size_t n = static_cast<size_t>(numModes);
  for (size_t i = 0; i < n; ++i) {
    const float* ui = in + i * kLanes;
    for (int l = 0; l < kLanes; ++l) out[l] = ui[l] * ui[l] + out[l];
    for (size_t j = i + 1; j < n; ++j) {
      const float c = *coeffs++;
      const float* uj = in + j * kLanes;
      for (int l = 0; l < kLanes; ++l) out[l] = clearSign((uj[l] * ui[l]) * c) + out[l];
    }
  }
  for (int l = 0; l < kLanes; ++l) out[l] = std::sqrt(out[l]);
}

void cqcRow(float wi, const float* wj, size_t count, float a, float b, float* c) {
  for (size_t k = 0; k < count; ++k) {
    const float r = wi / wj[k];
    const float p = (1.0f - r) * (1.0f - r);
    const float q = p + r * a;
    const float d = q * (r + 1.0f);
    const float s = std::sqrt(r) * r;
    c[k] = (s / d) * b;
  }
}

}  // namespace

const KernelSet scalarKernels = {srss, absSum, cqc, cqcRow};

}  // namespace orv::seismic
