#include "eigen/dense.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "eigen/lapack.h"
#include "log/failure.h"

namespace orv {

namespace {

// Right-hand sides per forward substitution: enough for level-3 BLAS, little scratch.
constexpr int32_t kBlockColumns = 10;

// Swaps tiles so that both sides of the diagonal stay in cache.
void transposeInPlace(std::vector<double>& t, size_t n) {
  constexpr size_t kTile = 64;
  for (size_t j0 = 0; j0 < n; j0 += kTile) {
    const size_t j1 = std::min(j0 + kTile, n);
    for (size_t i0 = j0; i0 < n; i0 += kTile) {
      const size_t i1 = std::min(i0 + kTile, n);
      for (size_t j = j0; j < j1; ++j) {
        for (size_t i = std::max(i0, j + 1); i < i1; ++i) std::swap(t[i + j * n], t[j + i * n]);
      }
    }
  }
}

// out = L⁻¹ in, block by block; in is consumed.
void forwardSolveColumns(const llFactor& L, double* out, double* in, double* scratch, int32_t n) {
  const size_t ld = static_cast<size_t>(n);
  for (int32_t j0 = 0; j0 < n; j0 += kBlockColumns) {
    const int32_t nb = std::min(kBlockColumns, n - j0);
    const size_t offset = static_cast<size_t>(j0) * ld;
    L.solveL(out + offset, in + offset, scratch, nb);
  }
}

// A LAPACK workspace size reported as a double, as an allocation count.
int workspaceSize(double reported) {
  if (reported > static_cast<double>(INT_MAX)) throw Failure::outOfMemory();
  if (!(reported >= 1.0)) return 1;
  return static_cast<int>(reported);
}

// DSYEVR on the lower triangle of the n x n matrix z (destroyed) for the eigenvalues il .. n
// (range 'I') or all of them (range 'A'), with a workspace query first. vectors has room for the
// eigenvectors when they are wanted.
int syevr(bool wantVectors, char range, int il, double* z, double* w, double* vectors, int n,
          int* m) {
  const char jobz = wantVectors ? 'V' : 'N';
  const char uplo = 'L';
  const double unused = 0.0;
  const double abstol = 0.0;
  const int iu = n;
  std::vector<int> isuppz(2 * static_cast<size_t>(n - il + 1));
  double workQuery = 0.0;
  int iworkQuery = 0;
  int query = -1;
  int info = 0;
  dsyevr_(&jobz, &range, &uplo, &n, z, &n, &unused, &unused, &il, &iu, &abstol, m, w, vectors, &n,
          isuppz.data(), &workQuery, &query, &iworkQuery, &query, &info, 1, 1, 1);
  if (info != 0) return info;
  const int lwork = workspaceSize(workQuery);
  const int liwork = std::max(iworkQuery, 1);
  std::vector<double> work(static_cast<size_t>(lwork));
  std::vector<int> iwork(static_cast<size_t>(liwork));
  dsyevr_(&jobz, &range, &uplo, &n, z, &n, &unused, &unused, &il, &iu, &abstol, m, w, vectors, &n,
          isuppz.data(), work.data(), &lwork, iwork.data(), &liwork, &info, 1, 1, 1);
  return info;
}

}  // namespace

void createDenseZ(const llFactor& L, std::vector<double>& Z, const ccsSymMatrix& Bp) {
  Z.clear();
  Bp.toDense(Z);
  taucs_printf("Creating dense matrix Z\n");
  const int32_t n = Bp.n();
  const size_t un = static_cast<size_t>(n);
  std::vector<double> scratch(static_cast<size_t>(kBlockColumns) * un);
  std::vector<double> t(un * un);
  forwardSolveColumns(L, t.data(), Z.data(), scratch.data(), n);
  transposeInPlace(t, un);
  forwardSolveColumns(L, Z.data(), t.data(), scratch.data(), n);
  taucs_printf("Dense matrix Z created\n");
}

int denseEigenSearch(double* Z, double* w, double* vectors, int n, int nev, int* m,
                     bool wantVectors) {
  if (n < 1) return -4;
  if (nev < 1 || nev > n) return -9;
  const size_t un = static_cast<size_t>(n);
  for (size_t j = 0; j < un; ++j) {
    for (size_t i = j; i < un; ++i) {
      if (!std::isfinite(Z[i + j * un])) return -5;
    }
  }
  std::vector<double> diagonal(un);
  for (size_t i = 0; i < un; ++i) diagonal[i] = Z[i + i * un];
  const int info = syevr(wantVectors, 'I', n - nev + 1, Z, w, vectors, n, m);
  if (info == 0 && *m == nev) return 0;

  // Eigenvalues equal to working precision across the index n - nev + 1 cannot be told apart by
  // the bisection behind RANGE = 'I': DSYEVR then finds fewer than asked (INFO 0) or gives up
  // (INFO 2). The whole spectrum has no such cut. The strict upper triangle is untouched by the
  // first call and restores the lower one.
  for (size_t j = 0; j < un; ++j) {
    Z[j + j * un] = diagonal[j];
    for (size_t i = j + 1; i < un; ++i) Z[i + j * un] = Z[j + i * un];
  }
  std::vector<double> all(wantVectors ? un * un : 1);
  int found = 0;
  const int infoAll = syevr(wantVectors, 'A', 1, Z, w, all.data(), n, &found);
  if (infoAll != 0) return infoAll;
  const size_t first = un - static_cast<size_t>(nev);
  std::memmove(w, w + first, static_cast<size_t>(nev) * sizeof(double));
  if (wantVectors) std::copy(all.begin() + static_cast<ptrdiff_t>(first * un), all.end(), vectors);
  *m = nev;
  return 0;
}

int32_t packedGeneralizedEigen(int32_t n, int32_t bpReady, const double* ap, const double* bpSource,
                               double* bp, double* w, double* z) {
  if (n < 0) return -4;
  if (n == 0) return 0;
  if (ap == nullptr || bp == nullptr || w == nullptr || z == nullptr) return -1;
  if (bpReady == 0 && bpSource == nullptr) return -1;
  // DSPGVD computes its workspace size 1 + 6 n + 2 n² in 32-bit integers; beyond that range the
  // size it reports would be wrapped and its checks would accept too small a workspace.
  const int64_t n64 = n;
  if (1 + 6 * n64 + 2 * n64 * n64 > INT_MAX) throw Failure::outOfMemory();
  const size_t packed = static_cast<size_t>(n) * (static_cast<size_t>(n) + 1) / 2;
  std::vector<double> a(ap, ap + packed);
  if (bpReady == 0 && bpSource != bp) std::copy_n(bpSource, packed, bp);

  const int itype = 1;
  const char jobz = 'V';
  const char uplo = 'L';
  double workQuery = 0.0;
  int iworkQuery = 0;
  int query = -1;
  int info = 0;
  dspgvd_(&itype, &jobz, &uplo, &n, a.data(), bp, w, z, &n, &workQuery, &query, &iworkQuery, &query,
          &info, 1, 1);
  if (info != 0) return info;
  const int lwork = workspaceSize(workQuery);
  const int liwork = std::max(iworkQuery, 1);
  std::vector<double> work(static_cast<size_t>(lwork));
  std::vector<int> iwork(static_cast<size_t>(liwork));
  dspgvd_(&itype, &jobz, &uplo, &n, a.data(), bp, w, z, &n, work.data(), &lwork, iwork.data(),
          &liwork, &info, 1, 1);
  return info;
}

}  // namespace orv
