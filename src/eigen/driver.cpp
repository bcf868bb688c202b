// The eigensystem driver. It never works on A x = λ B x directly: with P A Pᵀ = L Lᵀ it seeks the
// largest eigenvalues μ = 1/λ of S = L⁻¹ (P B Pᵀ) L⁻ᵀ, by an iterative route when few are wanted
// and densely otherwise or when the iterative routes fail, and maps them back.
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "eigen/eigen.h"

namespace orv {

namespace {

// Lanczos pays off while the wanted share of the spectrum is small.
constexpr double kIterativeShare = 0.15;
// Eigenvectors per block of the back-transformation: the factor is read once per block, and 32
// columns are the widest block it sweeps as two halves on two threads (measured 1.3 times faster
// than blocks of 64 for 50 vectors of a 360 MB factor).
constexpr int32_t kBackTransformColumns = 32;
// Larger eigenvalues stand for μ lost in rounding: B is (numerically) singular there.
constexpr double kLargestEigenvalue = 1e12;

void requirePair(const ccsSymSPDMatrix& A, const ccsSymMatrix& B) {
  if (!B.isCCS() || B.ccs() == nullptr)
    throw Failure(FailureKind::badState, "Matrix B is not assembled");
  if (B.n() != A.n()) throw Failure(FailureKind::badArgument, "Matrices A and B differ in size");
}

// Descending order with NaN after everything, so that sorting stays well defined.
bool greaterMu(const std::pair<double, int32_t>& a, const std::pair<double, int32_t>& b) {
  const double low = -std::numeric_limits<double>::infinity();
  const double x = std::isnan(a.first) ? low : a.first;
  const double y = std::isnan(b.first) ? low : b.first;
  return x > y;
}

// One iterative route; no value when its result is not taken (see EigenRoutes).
std::optional<int32_t> iterativeRoute(const ccsSymSPDMatrix& A, const ccsSymMatrix& Bp, int32_t nev,
                                      double* values, double* vectors, const IterativeRoute& route,
                                      bool everyPair, int64_t* sweptVectors) {
  taucs_printf("Attempting search of selected eigenvalues only\n");
  std::vector<double> ritz(vectors != nullptr ? static_cast<size_t>(A.n()) * nev : 0);
  const int32_t nconv =
      route(A.L(), Bp, nev, values, vectors != nullptr ? ritz.data() : nullptr, sweptVectors);
  if (nconv < 1 || (everyPair && nconv < nev)) {
    taucs_printf("Search of selected eigenvalues failed\n");
    return std::nullopt;
  }
  return backTransform(A.L(), A.invPerm(), nconv, nev, values, values, ritz.data(), vectors);
}

int32_t denseRoute(const ccsSymSPDMatrix& A, const ccsSymMatrix& Bp, int32_t nev, double* values,
                   double* vectors) {
  taucs_printf("Attempting dense search method\n");
  const int32_t n = A.n();
  // The dense matrix, its eigenvectors and the eigen-solver's workspace.
  const auto order = static_cast<uint64_t>(n);
  requireMemory("Eigensystem calculation",
                sizeof(double) * (order * order + order * (static_cast<uint64_t>(nev) + 27)));
  std::vector<double> w(static_cast<size_t>(n));
  std::vector<double> u(vectors != nullptr ? static_cast<size_t>(n) * static_cast<size_t>(nev) : 1);
  int m = nev;
  int info = 0;
  {
    std::vector<double> z;
    createDenseZ(A.L(), z, Bp);
    info = denseEigenSearch(z.data(), w.data(), u.data(), n, nev, &m, vectors != nullptr);
  }
  if (info != 0) {
    taucs_printf("Dense search method failed\n");
    throw Failure(FailureKind::dependency, "Can't calculate eigensystem");
  }
  return backTransform(A.L(), A.invPerm(), m, nev, w.data(), values, u.data(), vectors);
}

}  // namespace

int32_t eigenSystemOfPair(ccsSymSPDMatrix& A, const ccsSymMatrix& B, int32_t nev, double* values,
                          double* vectors, const EigenRoutes& routes) {
  requirePair(A, B);
  if (!A.numericReady()) A.factor("");
  A.timer().startPhase("Eigensystem calculation");
  taucs_printf("Searching %d smallest eigenvalues%s\n", nev,
               vectors != nullptr ? " and related eigenvectors" : "");
  int32_t found = 0;
  if (nev > 0) {
    ccsSymMatrix Bp('B');
    Bp.adoptCCS(std::make_unique<CcsRecord>(permuteSymmetric(B.requireCcs(), A.invPerm())));
    std::vector<double> scratch;
    if (values == nullptr) {
      scratch.resize(static_cast<size_t>(nev));
      values = scratch.data();
    }
    std::optional<int32_t> result;
    if (kIterativeShare * static_cast<double>(A.n()) >= static_cast<double>(nev)) {
      if (routes.block && routes.blockPays != nullptr && routes.blockPays(A.L(), A.n(), nev)) {
        result =
            iterativeRoute(A, Bp, nev, values, vectors, routes.block, true, routes.sweptVectors);
      }
      if (!result && routes.arpack) {
        result =
            iterativeRoute(A, Bp, nev, values, vectors, routes.arpack, false, routes.sweptVectors);
      }
    }
    found = result ? *result : denseRoute(A, Bp, nev, values, vectors);
  }
  A.timer().completePhase("Eigensystem calculation");
  return found;
}

int32_t backTransform(const llFactor& L, const std::vector<int32_t>& invPerm, int32_t nconv,
                      int32_t nev, const double* mu, double* values, const double* u,
                      double* vectors) {
  taucs_printf("Back transforming %d eigenvalues\n", nconv);
  std::vector<std::pair<double, int32_t>> pairs(static_cast<size_t>(std::max(nconv, 0)));
  for (int32_t k = 0; k < nconv; ++k) pairs[k] = {mu[k], k};
  std::sort(pairs.begin(), pairs.end(), greaterMu);

  int32_t valid = std::min(nev, nconv);
  for (int32_t i = 0; i < valid; ++i) {
    const double lambda = 1.0 / pairs[i].first;
    if (!(lambda > 0.0 && lambda < kLargestEigenvalue)) {
      valid = i;
      break;
    }
    values[i] = lambda;
  }

  if (vectors != nullptr && valid > 0) {
    const auto n = static_cast<int32_t>(invPerm.size());
    const size_t ld = invPerm.size();
    const int32_t width = std::min(valid, kBackTransformColumns);
    std::vector<double> t(ld * static_cast<size_t>(width));
    std::vector<double> scratch(t.size());
    for (int32_t first = 0; first < valid; first += width) {
      const int32_t columns = std::min(width, valid - first);
      for (int32_t c = 0; c < columns; ++c) {
        const double* column = u + static_cast<size_t>(pairs[first + c].second) * ld;
        std::copy_n(column, ld, t.data() + static_cast<size_t>(c) * ld);
      }
      L.solveLT(t.data(), t.data(), scratch.data(), columns);
      for (int32_t c = 0; c < columns; ++c) {
        gatherByPerm(n, t.data() + static_cast<size_t>(c) * ld,
                     vectors + static_cast<size_t>(first + c) * ld, invPerm.data());
      }
    }
  }
  taucs_printf("Back-transformation completed: %d eigenvalues valid\n", valid);
  return valid;
}

int32_t eigenSystem(ccsSymSPDMatrix& A, const ccsSymMatrix& B, int32_t count, double* values,
                    double* vectors, const EigenRoutes& routes) {
  requirePair(A, B);
  const int32_t nev = std::max(0, std::min(count, B.countNonzeroDiagonal()));
  return eigenSystemOfPair(A, B, nev, values, vectors, routes);
}

}  // namespace orv
