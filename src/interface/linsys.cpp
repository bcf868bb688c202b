#include "interface/linsys.h"

#include <cstdio>
#include <mutex>

#include "log/failure.h"
#include "log/log.h"
#include "platform/fault_cleanup.h"

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
  if (n != A.n())
    throw orv::Failure(orv::FailureKind::badArgument,
                       "Cannot initialise B with different size than A");
  B.initialise(n, 3 * static_cast<size_t>(n > 0 ? n : 0));
}

const orv::ccsSymMatrix& symRealSPDMatrixLinSys::matrix(int32_t which) const {
  if (which == 0) return A.matrix();
  return B;
}

void symRealSPDMatrixLinSys::incrElement(int32_t which, int32_t row, int32_t column, double value) {
  if (which == 0) {
    A.incrElement(row, column, value);
  } else {
    B.incrElement(row, column, value);
  }
}

void symRealSPDMatrixLinSys::setElement(int32_t which, int32_t row, int32_t column, double value) {
  if (which == 0) {
    A.setElement(row, column, value);
  } else {
    B.setElement(row, column, value);
  }
}

void symRealSPDMatrixLinSys::createCCS(int32_t which) {
  if (which == 0) {
    A.createCCS();
  } else {
    B.createCCS();
  }
}

namespace orv {
namespace {

// Fixed storage: recording a failure must not need memory, since running out of it is one of
// the failures recorded. The one text stored here is "symRealSPDMatrixLinSys not allocated".
struct ProcessError {
  std::mutex mutex;
  char text[64] = "";
};

constinit ProcessError processError;

}  // namespace

BSTR takeProcessError() {
  FaultSafeLock lock(processError.mutex);
  BSTR copy = makeBstr(processError.text);
  processError.text[0] = '\0';
  return copy;
}

void clearProcessError() {
  FaultSafeLock lock(processError.mutex);
  processError.text[0] = '\0';
}

void setProcessError(const char* text) {
  FaultSafeLock lock(processError.mutex);
  std::snprintf(processError.text, sizeof processError.text, "%s", text);
}

symRealSPDMatrixLinSys& requireObject(symRealSPDMatrixLinSys* obj) {
  if (obj == nullptr)
    throw Failure(FailureKind::badArgument, "symRealSPDMatrixLinSys not allocated");
  return *obj;
}

}  // namespace orv
