// A linear system driven through the exports, with its log captured for the checks' lines.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "export_helpers.h"
#include "test_support.h"

namespace orv::test {

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

  // A converted with the given lower-triangle entries.
  void assembleA(int n, std::initializer_list<Entry> entries) {
    ASSERT_EQ(exp_initMatrix_v3(system.address(), n, 0), 0);
    for (const Entry& e : entries) {
      ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), e.row, e.column, e.value, 0), 0);
    }
    ASSERT_EQ(exp_createCCS_v3(system.get(), 0), 0);
  }

  // Everything logged since the last call.
  std::string newLog() {
    const std::string text = readFile(log.path());
    std::string fresh = text.substr(std::min(seen, text.size()));
    seen = text.size();
    return fresh;
  }

  int setCheck(int code, int enable, double value, int ivalue = 0) {
    return exp_checksSettings_v3(system.get(), &enable, &value, &ivalue, code);
  }

  ScratchFile log{"pipeline.log"};
  SystemHandle system;
  size_t seen = 0;
};

// A descriptor with its own storage: rows x columns doubles, or a vector when columns is 0.
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
    bounds()[1].cElements = rows;
  }
  Array(const Array&) = delete;
  Array& operator=(const Array&) = delete;

  SAFEARRAY** address() { return &descriptor_; }
  SAFEARRAY& descriptor() { return *descriptor_; }
  std::vector<double>& data() { return data_; }
  double& operator[](size_t k) { return data_[k]; }

 private:
  SAFEARRAYBOUND* bounds() { return descriptor_->rgsabound; }

  std::vector<double> data_;
  std::vector<unsigned char> storage_;
  SAFEARRAY* descriptor_;
};

}  // namespace orv::test
