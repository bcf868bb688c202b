#include "interface/linsys.h"

#include <mutex>

#include "log/log.h"

symRealSPDMatrixLinSys::~symRealSPDMatrixLinSys() {
  A.release();
  B.release();
  lastError.clear();
  orv::setLogDestination("", "");
}

void symRealSPDMatrixLinSys::initMatrix(int32_t n, int32_t which) {
  if (which == 0) {
    orv::taucs_printf("***********************************************************************\n");
    B.release();
    A.initialise(n, 10 * static_cast<size_t>(n > 0 ? n : 0));
    return;
  }
  if (n != A.n()) throw "Cannot initialise B with different size than A";
  B.initialise(n, 3 * static_cast<size_t>(n > 0 ? n : 0));
}

orv::ccsSymMatrix& symRealSPDMatrixLinSys::matrix(int32_t which) {
  if (which == 0) return A;
  return B;
}

namespace orv {
namespace {

struct ProcessError {
  std::mutex mutex;
  std::string text;
};

ProcessError& processError() {
  static auto* instance = new ProcessError;  // outlives every object destroyed at exit
  return *instance;
}

}  // namespace

std::string takeProcessError() {
  ProcessError& e = processError();
  std::lock_guard<std::mutex> lock(e.mutex);
  std::string text;
  text.swap(e.text);
  return text;
}

void setProcessError(const char* text) {
  ProcessError& e = processError();
  std::lock_guard<std::mutex> lock(e.mutex);
  e.text = text;
}

symRealSPDMatrixLinSys& requireObject(symRealSPDMatrixLinSys* obj) {
  if (obj == nullptr) throw "symRealSPDMatrixLinSys not allocated";
  return *obj;
}

}  // namespace orv
