#include "seismic/kernels.h"

namespace orv::seismic {

const KernelSet* kernelsFor(SimdPath path) {
  switch (path) {
    case SimdPath::scalar:
      return &scalarKernels;
#ifdef ORV_SEISMIC_X86
    case SimdPath::sse:
      return __builtin_cpu_supports("sse2") ? &sseKernels : nullptr;
    case SimdPath::avx2:
      // Also false when the operating system does not save the 256-bit registers.
      return __builtin_cpu_supports("avx2") ? &avx2Kernels : nullptr;
#endif
    default:
      return nullptr;
  }
}

SimdPath activePath() {
  static const SimdPath path = kernelsFor(SimdPath::avx2) != nullptr  ? SimdPath::avx2
                               : kernelsFor(SimdPath::sse) != nullptr ? SimdPath::sse
                                                                      : SimdPath::scalar;
  return path;
}

const KernelSet& activeKernels() {
  static const KernelSet& kernels = *kernelsFor(activePath());
  return kernels;
}

}  // namespace orv::seismic
