// The linear-system exports. Each hands its work to the frame its contract asks for.
#include <ORVSparseSolver/exports.h>

#include "interface/frame.h"
#include "interface/linsys.h"
#include "log/log.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

using orv::barrierFrame;
using orv::Failure;
using orv::FailureKind;
using orv::guardedFrame;
using orv::requireObject;

namespace {

// Creates the object when the handle holds none; `created` is what a failure is reported on.
int32_t initMatrix(symRealSPDMatrixLinSys** handle, symRealSPDMatrixLinSys*& created, int32_t n,
                   int32_t which) {
  if (handle == nullptr) throw Failure(FailureKind::badArgument, "Handle pointer is null");
  orv::probeWrite(handle, sizeof(void*));  // the host's variable holds a pointer
  created = *handle;
  if (*handle == nullptr) {
    created = new symRealSPDMatrixLinSys;
    *handle = created;
  }
  (*handle)->initMatrix(n, which);
  return 0;
}

// The column-major block a descriptor holds, checked against the other's shape and A's order.
struct SolveBlocks {
  double* x;
  const double* rhs;
  int32_t nrhs;
};

SolveBlocks solveBlocks(SAFEARRAY** X, SAFEARRAY** RHS, int32_t n) {
  if (X == nullptr || *X == nullptr) throw Failure(FailureKind::badArgument, "X not allocated");
  if (RHS == nullptr || *RHS == nullptr)
    throw Failure(FailureKind::badArgument, "RHS not allocated");
  const SAFEARRAY& x = **X;
  const SAFEARRAY& b = **RHS;
  if (x.cDims != b.cDims)
    throw Failure(FailureKind::badArgument, "X and RHS dimensions not consistent");
  const uint32_t order = n > 0 ? static_cast<uint32_t>(n) : 0;
  if (x.cDims == 1) {
    if (b.rgsabound[0].cElements != order || x.rgsabound[0].cElements != order) {
      throw Failure(FailureKind::badArgument, "X and/or RHS dimensions not equal to N");
    }
    return {static_cast<double*>(x.pvData), static_cast<const double*>(b.pvData), 1};
  }
  if (x.cDims == 2) {
    if (b.rgsabound[0].cElements != x.rgsabound[0].cElements) {
      throw Failure(FailureKind::badArgument, "X and RHS have different number of columns");
    }
    if (b.rgsabound[1].cElements != order || x.rgsabound[1].cElements != order) {
      throw Failure(FailureKind::badArgument, "X and/or RHS length not equal to N");
    }
    if (x.rgsabound[0].cElements > INT32_MAX) throw Failure::outOfMemory();
    return {static_cast<double*>(x.pvData), static_cast<const double*>(b.pvData),
            static_cast<int32_t>(x.rgsabound[0].cElements)};
  }
  throw Failure(FailureKind::badArgument, "X dimensions are not correct");
}

int32_t solve(symRealSPDMatrixLinSys& system, SAFEARRAY** X, SAFEARRAY** RHS) {
  const SolveBlocks blocks = solveBlocks(X, RHS, system.A.n());
  if (blocks.nrhs > 0 && (blocks.x == nullptr || blocks.rhs == nullptr)) {
    throw Failure(FailureKind::badArgument, "X and/or RHS data not allocated");
  }
  // An order below 0 is accepted and holds no rows.
  const size_t order = static_cast<size_t>(std::max(system.A.n(), 0));
  const size_t bytes = sizeof(double) * order * static_cast<size_t>(blocks.nrhs);
  orv::probeRead(blocks.rhs, bytes);
  orv::probeWrite(blocks.x, bytes);
  system.A.solve(blocks.x, blocks.rhs, blocks.nrhs);
  return 0;
}

// A text is emptied only once its copy exists, so with memory exhausted it can be fetched again.
BSTR takeLastError(symRealSPDMatrixLinSys* obj) {
  if (obj == nullptr) return orv::takeProcessError();
  // An address that is not an object's faults here, before the copy is allocated.
  orv::probeWrite(obj, sizeof *obj);
  BSTR text = orv::makeBstr(obj->lastError);
  obj->lastError.clear();
  orv::clearProcessError();
  return text;
}

}  // namespace

extern "C" {

ORV_API int32_t ORV_CALL exp_initMatrix_v3(symRealSPDMatrixLinSys** handle, int32_t n,
                                           int32_t whichMatrix) {
  symRealSPDMatrixLinSys* obj = nullptr;
  return barrierFrame(obj, [&] { return initMatrix(handle, obj, n, whichMatrix); });
}

ORV_API void ORV_CALL exp_deleteMatrix_v3(symRealSPDMatrixLinSys** handle) {
  symRealSPDMatrixLinSys* const noObject = nullptr;
  barrierFrame(noObject, [&] {
    // The variable is cleared before the object goes, so that it holds 0 after a fault too.
    if (handle != nullptr) delete std::exchange(*handle, nullptr);
    return 0;
  });
}

ORV_API int32_t ORV_CALL exp_logDestination_v3(symRealSPDMatrixLinSys* obj, const char* fileName) {
  return barrierFrame(obj, [&] {
    if (fileName == nullptr) throw Failure(FailureKind::badArgument, "Log file name is null");
    // The host's text first: a fault reading it must find nothing allocated yet.
    const std::string name = orv::hostString(fileName);
    return orv::setLogDestination(name, orv::versionBanner());
  });
}

ORV_API BSTR ORV_CALL exp_getLastError_v3(symRealSPDMatrixLinSys* obj) {
  // Null when memory is exhausted or obj is not an object's address.
  BSTR text = nullptr;
  orv::silentFrame([&] {
    text = takeLastError(obj);
    return 0;
  });
  return text;
}

ORV_API int32_t ORV_CALL exp_incrMatrixElem_v3(symRealSPDMatrixLinSys* obj, int32_t row,
                                               int32_t column, double value, int32_t whichMatrix) {
  return barrierFrame(obj, [&] {
    requireObject(obj).incrElement(whichMatrix, row, column, value);
    return 0;
  });
}

ORV_API int32_t ORV_CALL exp_setMatrixElem_v3(symRealSPDMatrixLinSys* obj, int32_t row,
                                              int32_t column, double value, int32_t whichMatrix) {
  return barrierFrame(obj, [&] {
    requireObject(obj).setElement(whichMatrix, row, column, value);
    return 0;
  });
}

ORV_API int32_t ORV_CALL exp_createCCS_v3(symRealSPDMatrixLinSys* obj, int32_t whichMatrix) {
  return barrierFrame(obj, [&] {
    requireObject(obj).createCCS(whichMatrix);
    return 0;
  });
}

ORV_API int32_t ORV_CALL exp_multVector_v3(symRealSPDMatrixLinSys* obj, const double* x, double* y,
                                           int32_t whichMatrix) {
  return guardedFrame(obj, [&] {
    const orv::ccsSymMatrix& m = requireObject(obj).matrix(whichMatrix);
    if (x == nullptr || y == nullptr)
      throw Failure(FailureKind::badArgument, "Vector not allocated");
    const size_t bytes = sizeof(double) * static_cast<size_t>(std::max(m.n(), 0));
    orv::probeRead(x, bytes);
    orv::probeWrite(y, bytes);
    m.multiply(x, y);
    return 0;
  });
}

ORV_API int32_t ORV_CALL exp_getMaxDiag_v3(symRealSPDMatrixLinSys* obj, double* maxDiag) {
  return guardedFrame(obj, [&] {
    symRealSPDMatrixLinSys& system = requireObject(obj);
    if (maxDiag == nullptr) throw Failure(FailureKind::badArgument, "Result pointer is null");
    orv::probeWrite(maxDiag, sizeof *maxDiag);
    *maxDiag = system.A.maxDiag();
    return 0;
  });
}

ORV_API int32_t ORV_CALL exp_writeMatrix_v3(symRealSPDMatrixLinSys* obj, const char* fileName,
                                            int32_t whichMatrix) {
  return barrierFrame(obj, [&] {
    const orv::ccsSymMatrix& m = requireObject(obj).matrix(whichMatrix);
    if (fileName == nullptr) return m.writeIjv(nullptr);
    return m.writeIjv(orv::hostString(fileName).c_str());
  });
}

ORV_API int32_t ORV_CALL exp_factor_v3(symRealSPDMatrixLinSys* obj, const char* orderingMethod) {
  return guardedFrame(obj, [&] {
    symRealSPDMatrixLinSys& system = requireObject(obj);
    if (orderingMethod == nullptr) {
      system.A.factor(nullptr);
    } else {
      system.A.factor(orv::hostString(orderingMethod).c_str());
    }
    return 0;
  });
}

ORV_API int32_t ORV_CALL exp_checksSettings_v3(symRealSPDMatrixLinSys* obj, int32_t* enable,
                                               double* value, int32_t* ivalue, int32_t code) {
  return barrierFrame(obj, [&] {
    symRealSPDMatrixLinSys& system = requireObject(obj);
    // Read only: a setting the host sets may live in read-only memory. Nothing is held here, so
    // a fault writing a reported value back leaves nothing behind either.
    if (enable != nullptr) orv::probeRead(enable, sizeof *enable);
    if (value != nullptr) orv::probeRead(value, sizeof *value);
    if (ivalue != nullptr) orv::probeRead(ivalue, sizeof *ivalue);
    system.A.checksSettings(enable, value, ivalue, code);
    return 0;
  });
}

ORV_API int32_t ORV_CALL exp_solve_v3(symRealSPDMatrixLinSys* obj, SAFEARRAY** X, SAFEARRAY** RHS) {
  return guardedFrame(obj, [&] { return solve(requireObject(obj), X, RHS); });
}

}  // extern "C"
