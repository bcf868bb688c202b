#include "interface/frame.h"
#include "log/log.h"

namespace orv {

void reportError(symRealSPDMatrixLinSys* obj, const char* text) {
  if (obj == nullptr) {
    static constexpr const char* kNoObject = "symRealSPDMatrixLinSys not allocated";
    setProcessError(kNoObject);
    taucs_printf("ERROR: %s\n\n", kNoObject);
    return;
  }
  obj->lastError = text;
  taucs_printf("ERROR: %s\n\n", obj->lastError.c_str());
}

}  // namespace orv
