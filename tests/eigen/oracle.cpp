#include "oracle.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "models/matrix_market.h"

namespace orv::test {

namespace {

std::string matrixPath(const std::string& name) {
  return std::string(ORV_MATRICES_DIR) + "/" + name;
}

}  // namespace

Lower readMatrix(const std::string& name) {
  const models::SymmetricMatrix s = models::readSymmetric(matrixPath(name));
  return {s.n, s.lower};
}

Pair readPair(const std::string& stiffness, const std::string& mass) {
  return {readMatrix(stiffness), readMatrix(mass)};
}

Pair modelPair(const models::Model& model) {
  models::TripletSink sink;
  model.assemble(sink);
  const int n = model.size();
  return {{n, sink.entries(models::kStiffness)}, {n, sink.entries(models::kMass)}};
}

std::vector<double> readColumn(const std::string& name) {
  return models::readArray(matrixPath(name)).values;
}

std::vector<double> dense(const Lower& a) {
  const size_t n = static_cast<size_t>(a.n);
  std::vector<double> full(n * n, 0.0);
  for (const models::Triplet& e : a.entries) {
    const size_t i = static_cast<size_t>(e.row);
    const size_t j = static_cast<size_t>(e.col);
    full[i + j * n] += e.value;
    if (i != j) full[j + i * n] += e.value;
  }
  return full;
}

std::vector<double> smallestEigenvalues(const Pair& pair, int count) {
  const int n = pair.k.n;
  std::vector<double> m = dense(pair.m);
  std::vector<double> k = dense(pair.k);
  std::vector<double> mu(static_cast<size_t>(n));
  const int itype = 1;
  const char jobz = 'N';
  const char uplo = 'L';
  int lwork = -1;
  int liwork = -1;
  double workQuery = 0.0;
  int iworkQuery = 0;
  int info = 0;
  dsygvd_(&itype, &jobz, &uplo, &n, m.data(), &n, k.data(), &n, mu.data(), &workQuery, &lwork,
          &iworkQuery, &liwork, &info, 1, 1);
  lwork = static_cast<int>(workQuery);
  liwork = iworkQuery;
  std::vector<double> work(static_cast<size_t>(lwork));
  std::vector<int> iwork(static_cast<size_t>(liwork));
  dsygvd_(&itype, &jobz, &uplo, &n, m.data(), &n, k.data(), &n, mu.data(), work.data(), &lwork,
          iwork.data(), &liwork, &info, 1, 1);
  if (info != 0) throw std::runtime_error("dsygvd failed with INFO " + std::to_string(info));
  std::vector<double> lambda;
  for (int i = n - 1; i >= 0 && static_cast<int>(lambda.size()) < count; --i) {
    lambda.push_back(1.0 / mu[static_cast<size_t>(i)]);
  }
  return lambda;
}

std::vector<double> multiply(const std::vector<double>& a, int n, const double* x) {
  std::vector<double> y(static_cast<size_t>(n), 0.0);
  for (int j = 0; j < n; ++j) {
    const double* column = a.data() + static_cast<size_t>(j) * static_cast<size_t>(n);
    for (int i = 0; i < n; ++i) y[static_cast<size_t>(i)] += column[i] * x[j];
  }
  return y;
}

double dot(const double* x, const double* y, int n) {
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += x[i] * y[i];
  return sum;
}

Normalisation normalisation(const Pair& pair, const double* x, const double* lambda, int count) {
  const int n = pair.k.n;
  const std::vector<double> k = dense(pair.k);
  const std::vector<double> m = dense(pair.m);
  Normalisation result{0.0, 0.0};
  for (int i = 0; i < count; ++i) {
    const double* xi = x + static_cast<size_t>(i) * static_cast<size_t>(n);
    const std::vector<double> kx = multiply(k, n, xi);
    const std::vector<double> mx = multiply(m, n, xi);
    result.mScaling = std::max(result.mScaling, std::fabs(dot(xi, mx.data(), n) * lambda[i] - 1.0));
    for (int j = 0; j < count; ++j) {
      const double* xj = x + static_cast<size_t>(j) * static_cast<size_t>(n);
      const double expected = i == j ? 1.0 : 0.0;
      result.kOrthonormality =
          std::max(result.kOrthonormality, std::fabs(dot(xj, kx.data(), n) - expected));
    }
  }
  return result;
}

}  // namespace orv::test
