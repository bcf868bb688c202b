// Small conveniences for tests that drive the library through its exports.
#pragma once

#include <ORVSparseSolver/exports.h>

#include <string>

namespace orv::test {

// The last-error text as a string (the BSTR is freed); "<null>" if the library returned none.
inline std::string lastError(symRealSPDMatrixLinSys* obj) {
  BSTR text = exp_getLastError_v3(obj);
  if (text == nullptr) return "<null>";
  std::string copy(text, SysStringByteLen(text));
  SysFreeString(text);
  return copy;
}

// Owns a linear-system handle for the length of a test.
class SystemHandle {
 public:
  SystemHandle() = default;
  ~SystemHandle() { exp_deleteMatrix_v3(&handle_); }
  SystemHandle(const SystemHandle&) = delete;
  SystemHandle& operator=(const SystemHandle&) = delete;

  symRealSPDMatrixLinSys** address() { return &handle_; }
  symRealSPDMatrixLinSys* get() const { return handle_; }

 private:
  symRealSPDMatrixLinSys* handle_ = nullptr;
};

}  // namespace orv::test
