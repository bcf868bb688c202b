// The library as a host program sees it: one linear system behind a handle, array descriptors
// built by hand, and every failed export turned into an exception carrying the library's text.
#pragma once

#include <ORVSparseSolver/exports.h>

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "models/export_sink.h"
#include "models/models.h"

namespace orv::cli {

// An export returned -1; what() is "<export> failed: <text of exp_getLastError_v3>".
class LibraryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A SAFEARRAY descriptor of doubles over storage the caller owns: a vector of rows values
// (columns == 0) or a column-major rows x columns block, laid out as the OLE runtime lays it out
// (the second bound record follows the first).
class ArrayDescriptor {
 public:
  ArrayDescriptor(double* data, uint32_t rows, uint32_t columns);
  ArrayDescriptor(const ArrayDescriptor&) = delete;
  ArrayDescriptor& operator=(const ArrayDescriptor&) = delete;

  SAFEARRAY** address() { return &descriptor_; }

 private:
  alignas(SAFEARRAY) unsigned char storage_[sizeof(SAFEARRAY) + sizeof(SAFEARRAYBOUND)] = {};
  SAFEARRAY* descriptor_;
};

struct Eigenpairs {
  int found = 0;
  std::vector<double> values;   // count entries, the first found valid, ascending
  std::vector<double> vectors;  // n x count, column-major, column k for values[k]
};

// Owns a linear-system handle and calls the exports on it.
class LinearSystem {
 public:
  LinearSystem() = default;
  ~LinearSystem() { exp_deleteMatrix_v3(&handle_); }
  LinearSystem(const LinearSystem&) = delete;
  LinearSystem& operator=(const LinearSystem&) = delete;

  symRealSPDMatrixLinSys* get() const { return handle_; }
  int size() const { return n_; }

  // Initialises A (whichMatrix 0) or B to n, appends the lower-triangle records one by one and
  // converts the matrix to compressed-column form.
  void assemble(int n, std::span<const models::Triplet> lower, int whichMatrix);
  // A and B of a generated model, element by element.
  void assemble(const models::Model& model);

  // Enables exactly the checks whose codes are set in codes (1, 2, 4, 8, 16), each with the
  // parameters it already has.
  void enableChecks(unsigned codes);
  void factor(const std::string& ordering);
  // Solves A X = B for the columns of b (n x columns, column-major) in one call.
  std::vector<double> solve(std::span<const double> b, int columns);
  Eigenpairs eigenpairs(int count);
  std::vector<double> multiply(std::span<const double> x, int whichMatrix) const;

 private:
  void check(int32_t result, const char* what) const;

  symRealSPDMatrixLinSys* handle_ = nullptr;
  int n_ = 0;
};

// The check codes in the order the library applies them.
inline constexpr unsigned kCheckCodes[] = {1, 2, 4, 8, 16};
// The checks enabled on a fresh object.
inline constexpr unsigned kDefaultChecks = 1 | 8;

// The banner the library writes at the top of a log, read through a throw-away log file.
std::string libraryBanner();

}  // namespace orv::cli
