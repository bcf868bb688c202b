#include "library.h"

#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>

namespace orv::cli {

namespace {

struct BstrFree {
  void operator()(char* text) const { SysFreeString(text); }
};

std::string lastErrorText(symRealSPDMatrixLinSys* system) {
  const std::unique_ptr<char, BstrFree> text(exp_getLastError_v3(system));
  if (!text) return "out of memory";
  return std::string(text.get(), SysStringByteLen(text.get()));
}

}  // namespace

ArrayDescriptor::ArrayDescriptor(double* data, uint32_t rows, uint32_t columns)
    : descriptor_(new (storage_) SAFEARRAY{}) {
  descriptor_->cDims = columns == 0 ? 1 : 2;
  descriptor_->cbElements = sizeof(double);
  descriptor_->pvData = data;
  descriptor_->rgsabound[0].cElements = columns == 0 ? rows : columns;
  if (columns != 0) {
    const SAFEARRAYBOUND rowBound{rows, 0};
    std::memcpy(storage_ + offsetof(SAFEARRAY, rgsabound) + sizeof(SAFEARRAYBOUND), &rowBound,
                sizeof rowBound);
  }
}

void LinearSystem::check(int32_t result, const char* what) const {
  if (result != 0) throw LibraryError(std::string(what) + " failed: " + lastErrorText(handle_));
}

void LinearSystem::assemble(int n, std::span<const models::Triplet> lower, int whichMatrix) {
  check(exp_initMatrix_v3(&handle_, n, whichMatrix), "exp_initMatrix_v3");
  for (const models::Triplet& t : lower) {
    check(exp_incrMatrixElem_v3(handle_, t.row, t.col, t.value, whichMatrix),
          "exp_incrMatrixElem_v3");
  }
  check(exp_createCCS_v3(handle_, whichMatrix), "exp_createCCS_v3");
  if (whichMatrix == models::kStiffness) n_ = n;
}

void LinearSystem::assemble(const models::Model& model) {
  try {
    models::assembleIntoLibrary(model, &handle_, true);
  } catch (const models::ExportError& e) {
    throw LibraryError(e.what());
  }
  n_ = model.size();
}

void LinearSystem::enableChecks(unsigned codes) {
  for (const unsigned code : kCheckCodes) {
    int32_t enable = -1;
    double value = 0.0;
    int32_t ivalue = 0;
    const auto c = static_cast<int32_t>(code);
    check(exp_checksSettings_v3(handle_, &enable, &value, &ivalue, c), "exp_checksSettings_v3");
    enable = (codes & code) != 0 ? 1 : 0;
    check(exp_checksSettings_v3(handle_, &enable, &value, &ivalue, c), "exp_checksSettings_v3");
  }
}

void LinearSystem::factor(const std::string& ordering) {
  check(exp_factor_v3(handle_, ordering.c_str()), "exp_factor_v3");
}

std::vector<double> LinearSystem::solve(std::span<const double> b, int columns) {
  std::vector<double> rhs(b.begin(), b.end());
  std::vector<double> x(rhs.size(), 0.0);
  const auto rows = static_cast<uint32_t>(n_);
  const auto cols = static_cast<uint32_t>(columns);
  ArrayDescriptor xd(x.data(), rows, cols);
  ArrayDescriptor bd(rhs.data(), rows, cols);
  check(exp_solve_v3(handle_, xd.address(), bd.address()), "exp_solve_v3");
  return x;
}

Eigenpairs LinearSystem::eigenpairs(int count) {
  Eigenpairs result;
  result.values.assign(static_cast<std::size_t>(count), 0.0);
  result.vectors.assign(static_cast<std::size_t>(count) * static_cast<std::size_t>(n_), 0.0);
  ArrayDescriptor values(result.values.data(), static_cast<uint32_t>(count), 0);
  ArrayDescriptor vectors(result.vectors.data(), static_cast<uint32_t>(n_),
                          static_cast<uint32_t>(count));
  int32_t found = 0;
  check(exp_eigenSystem_v3(handle_, count, values.address(), vectors.address(), &found),
        "exp_eigenSystem_v3");
  result.found = found;
  return result;
}

std::vector<double> LinearSystem::multiply(std::span<const double> x, int whichMatrix) const {
  std::vector<double> y(x.size(), 0.0);
  check(exp_multVector_v3(handle_, x.data(), y.data(), whichMatrix), "exp_multVector_v3");
  return y;
}

std::string libraryBanner() {
  std::string path = (std::filesystem::temp_directory_path() / "orvsolve-XXXXXX").string();
  const int fd = mkstemp(path.data());
  if (fd < 0) return {};
  close(fd);
  std::string banner;
  if (exp_logDestination_v3(nullptr, path.c_str()) == 0) {
    exp_logDestination_v3(nullptr, "");
    std::ifstream in(path);
    std::getline(in, banner);
  }
  std::remove(path.c_str());
  return banner;
}

}  // namespace orv::cli
