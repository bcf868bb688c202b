// The eigen-solution exports: the smallest eigenpairs of a linear system's pair (A, B), and the
// dense packed solver that needs no handle.
#include <ORVSparseSolver/exports.h>

#include <algorithm>
#include <cstdint>

#include "eigen/eigen.h"
#include "interface/frame.h"
#include "interface/linsys.h"
#include "platform/platform.h"

using orv::Failure;
using orv::FailureKind;
using orv::guardedFrame;
using orv::requireObject;

namespace {

// The data of an optional descriptor, or null when the host passed none; shape checked first.
double* eigenvalueArray(SAFEARRAY** eig, int32_t count) {
  if (eig == nullptr || *eig == nullptr) return nullptr;
  const SAFEARRAY& a = **eig;
  if (a.cDims != 1 || static_cast<int64_t>(a.rgsabound[0].cElements) != count) {
    throw Failure(FailureKind::badArgument, "Dimensions of eig are incorrect");
  }
  if (count > 0 && a.pvData == nullptr)
    throw Failure(FailureKind::badArgument, "eig data not allocated");
  return static_cast<double*>(a.pvData);
}

double* eigenvectorArray(SAFEARRAY** eiv, int32_t count, int32_t n) {
  if (eiv == nullptr || *eiv == nullptr) return nullptr;
  const SAFEARRAY& a = **eiv;
  if (a.cDims != 2 || static_cast<int64_t>(a.rgsabound[0].cElements) != count ||
      static_cast<int64_t>(a.rgsabound[1].cElements) != n) {
    throw Failure(FailureKind::badArgument, "Dimensions of eiv are incorrect");
  }
  if (count > 0 && n > 0 && a.pvData == nullptr)
    throw Failure(FailureKind::badArgument, "eiv data not allocated");
  return static_cast<double*>(a.pvData);
}

int32_t eigenSystem(symRealSPDMatrixLinSys& system, int32_t count, SAFEARRAY** eig, SAFEARRAY** eiv,
                    int32_t* found) {
  if (found == nullptr) throw Failure(FailureKind::badArgument, "Result pointer is null");
  double* values = eigenvalueArray(eig, count);
  double* vectors = eigenvectorArray(eiv, count, system.A.n());
  orv::probeWrite(found, sizeof *found);
  if (count > 0) {
    const auto columns = static_cast<size_t>(count);
    if (values != nullptr) orv::probeWrite(values, sizeof(double) * columns);
    if (vectors != nullptr) {
      const auto rows = static_cast<size_t>(std::max(system.A.n(), 0));
      orv::probeWrite(vectors, sizeof(double) * columns * rows);
    }
  }
  *found = orv::eigenSystem(system.A, system.B, count, values, vectors);
  return 0;
}

// The arrays the dense packed solver will read and write, probed when it is going to use them
// (n within the range its workspace allows, every array given).
void probePacked(int32_t n, int32_t bpReady, const double* ap, const double* bpSource, double* bp,
                 double* w, double* z) {
  if (n <= 0 || n > 32766 || ap == nullptr || bp == nullptr || w == nullptr || z == nullptr ||
      (bpReady == 0 && bpSource == nullptr)) {
    return;
  }
  const auto order = static_cast<size_t>(n);
  const size_t packed = sizeof(double) * order * (order + 1) / 2;
  orv::probeRead(ap, packed);
  if (bpReady == 0) orv::probeRead(bpSource, packed);
  orv::probeWrite(bp, packed);
  orv::probeWrite(w, sizeof(double) * order);
  orv::probeWrite(z, sizeof(double) * order * order);
}

}  // namespace

extern "C" {

ORV_API int32_t ORV_CALL exp_eigenSystem_v3(symRealSPDMatrixLinSys* obj, int32_t count,
                                            SAFEARRAY** eig, SAFEARRAY** eiv, int32_t* found) {
  return guardedFrame(obj, [&] { return eigenSystem(requireObject(obj), count, eig, eiv, found); });
}

ORV_API int32_t ORV_CALL exp_LAPACK_DSPGVD_v3(int32_t n, int32_t bpReady, const double* ap,
                                              const double* bpSource, double* bp, double* w,
                                              double* z) {
  return orv::silentFrame(
      [&] {
        probePacked(n, bpReady, ap, bpSource, bp, w, z);
        return orv::packedGeneralizedEigen(n, bpReady, ap, bpSource, bp, w, z);
      },
      orv::FpuGuard::Mode::mask);
}

}  // extern "C"
