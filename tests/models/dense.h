// Dense oracles for the model tests: a sink that builds full symmetric matrices, and LAPACK.
#pragma once

#include <cstddef>
#include <vector>

#include "models/model.h"
#include "models/sink.h"

namespace orv::models::testing {

// Full symmetric K and M, column-major n x n, plus counts of records that break the contract.
class DenseSink : public AssemblySink {
 public:
  explicit DenseSink(int n) : n_(n), k_(std::size_t(n) * n, 0.0), m_(std::size_t(n) * n, 0.0) {}
  void add(int row, int col, double value, int whichMatrix) override;

  int n() const { return n_; }
  const std::vector<double>& matrix(int whichMatrix) const { return whichMatrix == 0 ? k_ : m_; }
  double at(int row, int col, int whichMatrix) const { return matrix(whichMatrix)[row + col * n_]; }
  std::size_t records(int whichMatrix) const { return records_[whichMatrix == 0 ? 0 : 1]; }
  std::size_t upperRecords() const { return upper_; }
  std::size_t outOfRangeRecords() const { return outOfRange_; }

 private:
  int n_;
  std::vector<double> k_;
  std::vector<double> m_;
  std::size_t records_[2] = {0, 0};
  std::size_t upper_ = 0;
  std::size_t outOfRange_ = 0;
};

DenseSink assembleDense(const Model& model);

// Rows and columns idx of the n x n column-major matrix a.
std::vector<double> submatrix(const std::vector<double>& a, int n, const std::vector<int>& idx);
// Eigenvalues of K x = lambda M x, ascending (dsygv). Throws when M is not positive definite.
std::vector<double> generalizedEigenvalues(std::vector<double> k, std::vector<double> m, int n);
// Eigenvalues of the symmetric a, ascending (dsyev).
std::vector<double> eigenvalues(std::vector<double> a, int n);
// True when the Cholesky factorisation of a succeeds (dpotrf).
bool isPositiveDefinite(std::vector<double> a, int n);
// Solution of a x = b for positive definite a (dposv). Throws on failure.
std::vector<double> solveSpd(std::vector<double> a, int n, std::vector<double> b);
// y = a x.
std::vector<double> multiply(const std::vector<double>& a, int n, const std::vector<double>& x);

}  // namespace orv::models::testing
