// The linear-system exports. Each hands its work to the frame its contract asks for.
#include <ORVSparseSolver/exports.h>

#include "interface/frame.h"
#include "interface/linsys.h"
#include "log/log.h"

using orv::barrierFrame;
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

}  // extern "C"
