// The linear-system exports. Each hands its work to the frame its contract asks for.
#include <ORVSparseSolver/exports.h>

#include "interface/frame.h"
#include "interface/linsys.h"
#include "log/log.h"

using orv::barrierFrame;
using orv::guardedFrame;
using orv::requireObject;

namespace {

// Creates the object when the handle holds none; `created` is what a failure is reported on.
int32_t initMatrix(symRealSPDMatrixLinSys** handle, symRealSPDMatrixLinSys*& created, int32_t n,
                   int32_t which) {
  if (handle == nullptr) throw "Handle pointer is null";
  if (*handle == nullptr) {
    created = new symRealSPDMatrixLinSys;
    *handle = created;
  }
  (*handle)->initMatrix(n, which);
  return 0;
}

}  // namespace

extern "C" {

ORV_API int32_t ORV_CALL exp_initMatrix_v3(symRealSPDMatrixLinSys** handle, int32_t n,
                                           int32_t whichMatrix) {
  symRealSPDMatrixLinSys* obj = handle != nullptr ? *handle : nullptr;
  return barrierFrame(obj, [&] { return initMatrix(handle, obj, n, whichMatrix); });
}

ORV_API void ORV_CALL exp_deleteMatrix_v3(symRealSPDMatrixLinSys** handle) {
  if (handle == nullptr) return;
  delete *handle;
  *handle = nullptr;
}

ORV_API int32_t ORV_CALL exp_logDestination_v3(symRealSPDMatrixLinSys* obj, const char* fileName) {
  return barrierFrame(obj, [&] {
    if (fileName == nullptr) throw "Log file name is null";
    return orv::setLogDestination(fileName, orv::versionBanner());
  });
}

ORV_API BSTR ORV_CALL exp_getLastError_v3(symRealSPDMatrixLinSys* obj) {
  // Allocation is the only thing that can fail here, and no exception may leave the library.
  try {
    std::string text;
    if (obj != nullptr) text.swap(obj->lastError);
    std::string pending = orv::takeProcessError();
    if (obj == nullptr) text.swap(pending);
    return orv::makeBstr(text);
  } catch (...) {
    return nullptr;
  }
}

ORV_API int32_t ORV_CALL exp_incrMatrixElem_v3(symRealSPDMatrixLinSys* obj, int32_t row,
                                               int32_t column, double value, int32_t whichMatrix) {
  return barrierFrame(obj, [&] {
    requireObject(obj).matrix(whichMatrix).incrElement(row, column, value);
    return 0;
  });
}

ORV_API int32_t ORV_CALL exp_setMatrixElem_v3(symRealSPDMatrixLinSys* obj, int32_t row,
                                              int32_t column, double value, int32_t whichMatrix) {
  return barrierFrame(obj, [&] {
    requireObject(obj).matrix(whichMatrix).setElement(row, column, value);
    return 0;
  });
}

ORV_API int32_t ORV_CALL exp_createCCS_v3(symRealSPDMatrixLinSys* obj, int32_t whichMatrix) {
  return barrierFrame(obj, [&] {
    requireObject(obj).matrix(whichMatrix).createCCS();
    return 0;
  });
}

ORV_API int32_t ORV_CALL exp_multVector_v3(symRealSPDMatrixLinSys* obj, const double* x, double* y,
                                           int32_t whichMatrix) {
  return guardedFrame(obj, [&] {
    const orv::ccsSymMatrix& m = requireObject(obj).matrix(whichMatrix);
    if (x == nullptr || y == nullptr) throw "Vector not allocated";
    m.multiply(x, y);
    return 0;
  });
}

ORV_API int32_t ORV_CALL exp_getMaxDiag_v3(symRealSPDMatrixLinSys* obj, double* maxDiag) {
  return guardedFrame(obj, [&] {
    symRealSPDMatrixLinSys& system = requireObject(obj);
    if (maxDiag == nullptr) throw "Result pointer is null";
    *maxDiag = system.A.maxDiag();
    return 0;
  });
}

ORV_API int32_t ORV_CALL exp_writeMatrix_v3(symRealSPDMatrixLinSys* obj, const char* fileName,
                                            int32_t whichMatrix) {
  return barrierFrame(obj,
                      [&] { return requireObject(obj).matrix(whichMatrix).writeIjv(fileName); });
}

}  // extern "C"
