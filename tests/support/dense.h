// Independent facts for the tests: symmetric matrices by the records of their lower triangle (read
// from the real matrices folder or made by the models library), held densely, and what dense
// LAPACK computes for them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "models/model.h"
#include "models/sink.h"

namespace orv::test {

// A symmetric matrix of order n by the records of its lower triangle (duplicates not summed).
struct Lower {
  int n = 0;
  std::vector<models::Triplet> entries;
};

// A stiffness and mass pair of one order.
struct Pair {
  Lower k;
  Lower m;
};

// A Matrix Market file of the real matrices folder, by its name there.
Lower readMatrix(const std::string& name);
Pair readPair(const std::string& stiffness, const std::string& mass);
// The stiffness and mass records of a generated model.
Pair modelPair(const models::Model& model);
// The second-difference matrix tridiag(-1, 2, -1) of order n, and its eigenvalue k (1-based,
// ascending): 2 - 2 cos(k π / (n + 1)).
Lower secondDifference(int n);
double secondDifferenceEigenvalue(int k, int n);
Lower diagonal(const std::vector<double>& d);
// 7-point Laplacian of an nx × ny × nz grid plus shift on the diagonal.
Lower gridLaplacian(int nx, int ny, int nz, double shift);
// Random sparse SPD matrix: about `degree` random off-diagonal entries per column in [-1, 1], the
// diagonal the absolute row sum times (1 + margin) plus margin.
Lower randomSpd(int n, int degree, double margin, unsigned seed);

// The full symmetric matrix, column-major n x n (records above the diagonal read as their pair).
std::vector<double> dense(const Lower& a);
// y = A x for a dense column-major n x n matrix.
std::vector<double> multiply(const std::vector<double>& a, int n, const double* x);
double dot(const double* x, const double* y, int n);

// The solution of A X = B (B column-major, n rows) for positive definite A, by dposv; throws when
// A is not positive definite.
std::vector<double> solveSpd(std::vector<double> a, int n, std::vector<double> b);
// Eigenvalues of the symmetric a, ascending (dsyev).
std::vector<double> eigenvalues(std::vector<double> a, int n);

// All eigenpairs of K x = λ M x, M positive definite, by dsygvd: λ ascending, vectors scaled to
// xᵀ M x = 1 (empty unless asked for).
struct DenseEigen {
  std::vector<double> values;
  std::vector<double> vectors;
};
DenseEigen generalizedEigen(std::vector<double> k, std::vector<double> m, int n, bool vectors);
// The count smallest λ of K x = λ M x, ascending, K positive definite and M only semidefinite:
// dsygvd solves M y = μ K y, accurate relative to the largest μ = 1 / λ.
std::vector<double> smallestEigenvalues(const Pair& pair, int count);

// Largest |xᵢᵀ K xⱼ − δᵢⱼ| and largest |xᵢᵀ M xᵢ λᵢ − 1| over the columns of x (n x count): the
// library's eigenvector scaling.
struct Normalisation {
  double kOrthonormality;
  double mScaling;
};
Normalisation normalisation(const Pair& pair, const double* x, const double* lambda, int count);

// A sink that assembles a model into full symmetric K and M and counts the records that break
// the sink contract (above the diagonal, out of range).
class DenseSink : public models::AssemblySink {
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
DenseSink assembleDense(const models::Model& model);

}  // namespace orv::test
