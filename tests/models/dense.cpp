#include "dense.h"

#include <stdexcept>
#include <string>

extern "C" {
void dsygv_(const int* itype, const char* jobz, const char* uplo, const int* n, double* a,
            const int* lda, double* b, const int* ldb, double* w, double* work, const int* lwork,
            int* info, std::size_t jobzLength, std::size_t uploLength);
void dsyev_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda, double* w,
            double* work, const int* lwork, int* info, std::size_t jobzLength,
            std::size_t uploLength);
void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info,
             std::size_t uploLength);
void dposv_(const char* uplo, const int* n, const int* nrhs, double* a, const int* lda, double* b,
            const int* ldb, int* info, std::size_t uploLength);
}

namespace orv::models::testing {

void DenseSink::add(int row, int col, double value, int whichMatrix) {
  ++records_[whichMatrix == 0 ? 0 : 1];
  if (row < 0 || col < 0 || row >= n_ || col >= n_) {
    ++outOfRange_;
    return;
  }
  if (row < col) ++upper_;
  std::vector<double>& a = whichMatrix == 0 ? k_ : m_;
  a[row + std::size_t(col) * n_] += value;
  if (row != col) a[col + std::size_t(row) * n_] += value;
}

DenseSink assembleDense(const Model& model) {
  DenseSink sink(model.size());
  model.assemble(sink);
  return sink;
}

std::vector<double> submatrix(const std::vector<double>& a, int n, const std::vector<int>& idx) {
  const std::size_t m = idx.size();
  std::vector<double> s(m * m);
  for (std::size_t c = 0; c < m; ++c) {
    for (std::size_t r = 0; r < m; ++r) s[r + c * m] = a[idx[r] + std::size_t(idx[c]) * n];
  }
  return s;
}

std::vector<double> generalizedEigenvalues(std::vector<double> k, std::vector<double> m, int n) {
  const int itype = 1;
  int info = 0;
  int lwork = -1;
  double query = 0.0;
  std::vector<double> w(n);
  dsygv_(&itype, "N", "L", &n, k.data(), &n, m.data(), &n, w.data(), &query, &lwork, &info, 1, 1);
  lwork = static_cast<int>(query);
  std::vector<double> work(lwork);
  dsygv_(&itype, "N", "L", &n, k.data(), &n, m.data(), &n, w.data(), work.data(), &lwork, &info, 1,
         1);
  if (info != 0) throw std::runtime_error("dsygv failed, info " + std::to_string(info));
  return w;
}

std::vector<double> eigenvalues(std::vector<double> a, int n) {
  int info = 0;
  int lwork = -1;
  double query = 0.0;
  std::vector<double> w(n);
  dsyev_("N", "L", &n, a.data(), &n, w.data(), &query, &lwork, &info, 1, 1);
  lwork = static_cast<int>(query);
  std::vector<double> work(lwork);
  dsyev_("N", "L", &n, a.data(), &n, w.data(), work.data(), &lwork, &info, 1, 1);
  if (info != 0) throw std::runtime_error("dsyev failed, info " + std::to_string(info));
  return w;
}

bool isPositiveDefinite(std::vector<double> a, int n) {
  int info = 0;
  dpotrf_("L", &n, a.data(), &n, &info, 1);
  return info == 0;
}

std::vector<double> solveSpd(std::vector<double> a, int n, std::vector<double> b) {
  const int nrhs = 1;
  int info = 0;
  dposv_("L", &n, &nrhs, a.data(), &n, b.data(), &n, &info, 1);
  if (info != 0) throw std::runtime_error("dposv failed, info " + std::to_string(info));
  return b;
}

std::vector<double> multiply(const std::vector<double>& a, int n, const std::vector<double>& x) {
  std::vector<double> y(n, 0.0);
  for (int c = 0; c < n; ++c) {
    for (int r = 0; r < n; ++r) y[r] += a[r + std::size_t(c) * n] * x[c];
  }
  return y;
}

}  // namespace orv::models::testing
