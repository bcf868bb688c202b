// The per-instruction-set kernels behind the combination objects. The scalar set is the
// reference: every other set must give the same bits for every input, NaN payloads aside.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define ORV_SEISMIC_X86 1
#endif

namespace orv::seismic {

struct KernelSet {
  // out_l = sqrt(out_l + sum_i u_il^2), modes in ascending order; numModes <= 0 sums nothing.
  void (*srss)(int32_t numModes, const float* in, float* out);
  // out_l = out_l + sum_i |u_il|.
  void (*absSum)(int32_t numModes, const float* in, float* out);
  // CQC over the packed table coeffs of numModes >= 0 modes; out is overwritten.
  void (*cqc)(int32_t numModes, const float* coeffs, const float* in, float* out);
  // c[k] = coefficient of the pair (wi, wj[k]) for k < count, given a ~ 4 xi^2 and b ~ 16 xi^2.
  void (*cqcRow)(float wi, const float* wj, size_t count, float a, float b, float* c);
};

enum class SimdPath { scalar, sse, avx2 };

// The kernels of one path, or null when this build or this processor cannot run it.
const KernelSet* kernelsFor(SimdPath path);

// The widest path the processor runs, chosen on first use.
SimdPath activePath();
const KernelSet& activeKernels();

extern const KernelSet scalarKernels;
#ifdef ORV_SEISMIC_X86
extern const KernelSet sseKernels;
extern const KernelSet avx2Kernels;
#endif

}  // namespace orv::seismic
