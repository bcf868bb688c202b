#include "models/export_sink.h"

#include <memory>
#include <string>

namespace orv::models {

namespace {

struct BstrFree {
  void operator()(char* s) const { SysFreeString(s); }
};

void check(int32_t result, symRealSPDMatrixLinSys* object, const char* what) {
  if (result != 0) throw ExportError(std::string(what) + " failed: " + lastError(object));
}

}  // namespace

std::string lastError(symRealSPDMatrixLinSys* object) {
  const std::unique_ptr<char, BstrFree> text(exp_getLastError_v3(object));
  if (!text) return {};
  return std::string(text.get(), SysStringByteLen(text.get()));
}

void ExportSink::add(int row, int col, double value, int whichMatrix) {
  check(exp_incrMatrixElem_v3(object_, row, col, value, whichMatrix), object_,
        "exp_incrMatrixElem_v3");
}

void assembleIntoLibrary(const Model& model, symRealSPDMatrixLinSys** handle, bool withMass) {
  check(exp_initMatrix_v3(handle, model.size(), kStiffness), *handle, "exp_initMatrix_v3");
  if (withMass) check(exp_initMatrix_v3(handle, model.size(), kMass), *handle, "exp_initMatrix_v3");
  ExportSink sink(*handle);
  model.assembleStiffness(sink);
  check(exp_createCCS_v3(*handle, kStiffness), *handle, "exp_createCCS_v3");
  if (withMass) {
    model.assembleMass(sink);
    check(exp_createCCS_v3(*handle, kMass), *handle, "exp_createCCS_v3");
  }
}

}  // namespace orv::models
