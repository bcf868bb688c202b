#include "dense.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <stdexcept>

#include "models/matrix_market.h"
#include "test_support.h"

extern "C" {
void dsygvd_(const int* itype, const char* jobz, const char* uplo, const int* n, double* a,
             const int* lda, double* b, const int* ldb, double* w, double* work, const int* lwork,
             int* iwork, const int* liwork, int* info, std::size_t jobzLength,
             std::size_t uploLength);
void dsyev_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda, double* w,
            double* work, const int* lwork, int* info, std::size_t jobzLength,
            std::size_t uploLength);
void dposv_(const char* uplo, const int* n, const int* nrhs, double* a, const int* lda, double* b,
            const int* ldb, int* info, std::size_t uploLength);
}

namespace orv::test {

namespace {

void require(int info, const char* routine) {
  if (info != 0) {
    throw std::runtime_error(std::string(routine) + " failed, info " + std::to_string(info));
  }
}

// dsygvd of (a, b) with a workspace query first; a is overwritten by the vectors when asked for.
std::vector<double> sygvd(std::vector<double>& a, std::vector<double>& b, int n, bool vectors) {
  const int itype = 1;
  const char* job = vectors ? "V" : "N";
  std::vector<double> w(static_cast<std::size_t>(n));
  double workSize = 0.0;
  int iworkSize = 0;
  int query = -1;
  int info = 0;
  dsygvd_(&itype, job, "L", &n, a.data(), &n, b.data(), &n, w.data(), &workSize, &query, &iworkSize,
          &query, &info, 1, 1);
  int lwork = static_cast<int>(workSize);
  int liwork = iworkSize;
  std::vector<double> work(static_cast<std::size_t>(lwork));
  std::vector<int> iwork(static_cast<std::size_t>(liwork));
  dsygvd_(&itype, job, "L", &n, a.data(), &n, b.data(), &n, w.data(), work.data(), &lwork,
          iwork.data(), &liwork, &info, 1, 1);
  require(info, "dsygvd");
  return w;
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

Lower secondDifference(int n) {
  Lower a{n, {}};
  for (int i = 0; i < n; ++i) {
    a.entries.push_back({i, i, 2.0});
    if (i + 1 < n) a.entries.push_back({i + 1, i, -1.0});
  }
  return a;
}

double secondDifferenceEigenvalue(int k, int n) {
  return 2.0 - 2.0 * std::cos(k * std::numbers::pi / (n + 1));
}

Lower diagonal(const std::vector<double>& d) {
  Lower a{static_cast<int>(d.size()), {}};
  for (int i = 0; i < a.n; ++i) a.entries.push_back({i, i, d[static_cast<std::size_t>(i)]});
  return a;
}

Lower gridLaplacian(int nx, int ny, int nz, double shift) {
  Lower a{nx * ny * nz, {}};
  const auto index = [&](int x, int y, int z) { return x + nx * (y + ny * z); };
  for (int z = 0; z < nz; ++z) {
    for (int y = 0; y < ny; ++y) {
      for (int x = 0; x < nx; ++x) {
        const int v = index(x, y, z);
        a.entries.push_back({v, v, 6.0 + shift});
        if (x + 1 < nx) a.entries.push_back({index(x + 1, y, z), v, -1.0});
        if (y + 1 < ny) a.entries.push_back({index(x, y + 1, z), v, -1.0});
        if (z + 1 < nz) a.entries.push_back({index(x, y, z + 1), v, -1.0});
      }
    }
  }
  return a;
}

Lower randomSpd(int n, int degree, double margin, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::uniform_int_distribution<int> row(0, n - 1);
  Lower a{n, {}};
  std::vector<double> rowSum(static_cast<std::size_t>(n), 0.0);
  for (int j = 0; j < n; ++j) {
    for (int k = 0; k < degree; ++k) {
      const int i = row(generator);
      if (i == j) continue;
      const double v = uniform(generator);
      a.entries.push_back({std::max(i, j), std::min(i, j), v});
      rowSum[i] += std::fabs(v);
      rowSum[j] += std::fabs(v);
    }
  }
  for (int j = 0; j < n; ++j) a.entries.push_back({j, j, rowSum[j] * (1.0 + margin) + margin});
  return a;
}

std::vector<double> dense(const Lower& a) {
  const auto n = static_cast<std::size_t>(a.n);
  std::vector<double> full(n * n, 0.0);
  for (const models::Triplet& e : a.entries) {
    const auto i = static_cast<std::size_t>(e.row);
    const auto j = static_cast<std::size_t>(e.col);
    full[i + j * n] += e.value;
    if (i != j) full[j + i * n] += e.value;
  }
  return full;
}

std::vector<double> multiply(const std::vector<double>& a, int n, const double* x) {
  const auto size = static_cast<std::size_t>(n);
  std::vector<double> y(size, 0.0);
  for (std::size_t j = 0; j < size; ++j) {
    for (std::size_t i = 0; i < size; ++i) y[i] += a[i + j * size] * x[j];
  }
  return y;
}

double dot(const double* x, const double* y, int n) {
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += x[i] * y[i];
  return sum;
}

std::vector<double> solveSpd(std::vector<double> a, int n, std::vector<double> b) {
  const int nrhs = static_cast<int>(b.size() / static_cast<std::size_t>(n));
  int info = 0;
  dposv_("L", &n, &nrhs, a.data(), &n, b.data(), &n, &info, 1);
  require(info, "dposv");
  return b;
}

std::vector<double> eigenvalues(std::vector<double> a, int n) {
  int info = 0;
  int lwork = -1;
  double query = 0.0;
  std::vector<double> w(static_cast<std::size_t>(n));
  dsyev_("N", "L", &n, a.data(), &n, w.data(), &query, &lwork, &info, 1, 1);
  lwork = static_cast<int>(query);
  std::vector<double> work(static_cast<std::size_t>(lwork));
  dsyev_("N", "L", &n, a.data(), &n, w.data(), work.data(), &lwork, &info, 1, 1);
  require(info, "dsyev");
  return w;
}

DenseEigen generalizedEigen(std::vector<double> k, std::vector<double> m, int n, bool vectors) {
  DenseEigen result{sygvd(k, m, n, vectors), {}};
  if (vectors) result.vectors = std::move(k);
  return result;
}

std::vector<double> smallestEigenvalues(const Pair& pair, int count) {
  std::vector<double> m = dense(pair.m);
  std::vector<double> k = dense(pair.k);
  const std::vector<double> mu = sygvd(m, k, pair.k.n, false);
  std::vector<double> lambda;
  for (auto it = mu.rbegin(); it != mu.rend() && static_cast<int>(lambda.size()) < count; ++it) {
    lambda.push_back(1.0 / *it);
  }
  return lambda;
}

Normalisation normalisation(const Pair& pair, const double* x, const double* lambda, int count) {
  const int n = pair.k.n;
  const std::vector<double> k = dense(pair.k);
  const std::vector<double> m = dense(pair.m);
  Normalisation result{0.0, 0.0};
  for (int i = 0; i < count; ++i) {
    const double* xi = x + static_cast<std::size_t>(i) * static_cast<std::size_t>(n);
    const std::vector<double> kx = multiply(k, n, xi);
    const std::vector<double> mx = multiply(m, n, xi);
    result.mScaling = std::max(result.mScaling, std::fabs(dot(xi, mx.data(), n) * lambda[i] - 1.0));
    for (int j = 0; j < count; ++j) {
      const double* xj = x + static_cast<std::size_t>(j) * static_cast<std::size_t>(n);
      result.kOrthonormality =
          std::max(result.kOrthonormality, std::fabs(dot(xj, kx.data(), n) - (i == j ? 1.0 : 0.0)));
    }
  }
  return result;
}

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

DenseSink assembleDense(const models::Model& model) {
  DenseSink sink(model.size());
  model.assemble(sink);
  return sink;
}

}  // namespace orv::test
