#include <new>

#include "interface/frame.h"
#include "log/log.h"

namespace orv {

void reportError(symRealSPDMatrixLinSys* obj, const char* text) noexcept {
  if (obj == nullptr) {
    static constexpr const char* kNoObject = "symRealSPDMatrixLinSys not allocated";
    setProcessError(kNoObject);
    taucs_printf("ERROR: %s\n\n", kNoObject);
    return;
  }
  try {
    obj->lastError = text;
  } catch (const std::bad_alloc&) {
    // Short enough for the string's own buffer, so storing it needs no memory.
    obj->lastError = "Out of memory";
  }
  taucs_printf("ERROR: %s\n\n", obj->lastError.c_str());
}

}  // namespace orv
