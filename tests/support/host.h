// Fixtures for tests that drive the library through its exports as a host does: the last-error
// text, a handle owner, array descriptors with their storage, and a system with its own log.
#pragma once

#include <ORVSparseSolver/exports.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "test_support.h"

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

// A descriptor with its own storage: rows x columns doubles (column-major), or a vector of rows
// when columns is 0. Room for two bounds, as a two-dimensional descriptor needs.
class Array {
 public:
  Array(uint32_t rows, uint32_t columns, double fill = 0.0)
      : data_(static_cast<size_t>(rows) * (columns == 0 ? 1 : columns), fill),
        storage_(sizeof(SAFEARRAY) + sizeof(SAFEARRAYBOUND)) {
    descriptor_ = reinterpret_cast<SAFEARRAY*>(storage_.data());
    descriptor_->cDims = columns == 0 ? 1 : 2;
    descriptor_->cbElements = sizeof(double);
    descriptor_->pvData = data_.data();
    descriptor_->rgsabound[0].cElements = columns == 0 ? rows : columns;
    descriptor_->rgsabound[columns == 0 ? 0 : 1].cElements = rows;
  }
  Array(const Array&) = delete;
  Array& operator=(const Array&) = delete;

  SAFEARRAY** address() { return &descriptor_; }
  SAFEARRAY& descriptor() { return *descriptor_; }
  SAFEARRAYBOUND* bounds() { return descriptor_->rgsabound; }
  std::vector<double>& data() { return data_; }
  double& operator[](size_t k) { return data_[k]; }

 private:
  std::vector<double> data_;
  std::vector<unsigned char> storage_;
  SAFEARRAY* descriptor_;
};

struct Entry {
  int row;
  int column;
  double value;
};

// One system with its own log file; the log is turned off when the fixture ends.
class LoggedSystem : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(exp_logDestination_v3(nullptr, log.c_str()), 0); }
  void TearDown() override { exp_logDestination_v3(nullptr, ""); }

  // Matrix which (0 = A, 1 = B) of order n, assembled from the records and converted.
  void assemble(int n, std::initializer_list<Entry> entries, int which = 0) {
    ASSERT_EQ(exp_initMatrix_v3(system.address(), n, which), 0);
    for (const Entry& e : entries) {
      ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), e.row, e.column, e.value, which), 0);
    }
    ASSERT_EQ(exp_createCCS_v3(system.get(), which), 0);
  }

  // Everything logged since the previous call.
  std::string newLog() { return tail.fresh(); }

  int setCheck(int code, int enable, double value, int ivalue = 0) {
    return exp_checksSettings_v3(system.get(), &enable, &value, &ivalue, code);
  }

  ScratchFile log{"system.log"};
  FileTail tail{log.path()};
  SystemHandle system;
};

}  // namespace orv::test
