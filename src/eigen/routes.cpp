// The iterative routes of the eigensystem driver and the choice between them.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "eigen/block_lanczos.h"
#include "eigen/eigen.h"
#include "eigen/lanczos.h"

namespace orv {

namespace {

// Below this many pairs one vector at a time converges in few enough applications that blocks
// do not pay for their extra sweeps.
constexpr int32_t kBlockMinimumPairs = 8;
// A factor that stays in cache is read as fast one column at a time as in blocks.
constexpr uint64_t kCachedFactorBytes = uint64_t{16} << 20;

// S one vector at a time, counting the vectors.
struct CountingLPBPTLT {
  LPBPTLT op;
  int64_t applications = 0;

  int32_t rows() const { return op.rows(); }
  void perform_op(const double* x, double* y) {
    ++applications;
    op.multOPx(x, y);
  }
};

// The block route's storage, the Ritz vectors included.
uint64_t blockRouteBytes(const BlockLanczosShape& shape, int32_t n, int32_t nev) {
  return sizeof(double) *
         (blockLanczosWorkDoubles(shape, n) + BlockLPBPTLT::workDoubles(n, shape.block) +
          static_cast<uint64_t>(n) * nev);
}

}  // namespace

bool chooseBlockRoute(const llFactor& L, int32_t n, int32_t nev) {
  return nev >= kBlockMinimumPairs && L.numericBytes() > kCachedFactorBytes &&
         memoryFits(blockRouteBytes(blockLanczosShape(nev, n), n, nev));
}

EigenRoutes defaultRoutes() {
  EigenRoutes routes;
  const char* arpackOnly = std::getenv("ORV_EIGEN_ARPACK");
  if (arpackOnly != nullptr && *arpackOnly != '\0' && std::strcmp(arpackOnly, "0") != 0) {
    routes.block = nullptr;
  }
  return routes;
}

int32_t blockLanczosRoute(const llFactor& L, const ccsSymMatrix& Bp, int32_t nev, double* mu,
                          double* u, int64_t* sweptVectors) {
  const int32_t n = Bp.n();
  const BlockLanczosShape shape = blockLanczosShape(nev, n);
  if (shape.block == 0) return 0;
  requireMemory("Eigensystem calculation", blockRouteBytes(shape, n, u != nullptr ? nev : 0));
  BlockLPBPTLT op(Bp, L, shape.block);
  return blockLanczos(op, nev, shape, mu, u, sweptVectors);
}

int32_t arpackRoute(const llFactor& L, const ccsSymMatrix& Bp, int32_t nev, double* mu, double* u,
                    int64_t* sweptVectors) {
  const size_t n = static_cast<size_t>(Bp.n());
  // The Lanczos basis of ncv = 2 nev + 1 vectors, ARPACK's work array of ncv (ncv + 8) and the
  // Ritz vectors.
  const uint64_t ncv = std::min<uint64_t>(2 * static_cast<uint64_t>(nev) + 1, n);
  requireMemory("Eigensystem calculation",
                sizeof(double) * (n * (ncv + 3) + ncv * (ncv + 8) +
                                  (u != nullptr ? n * static_cast<uint64_t>(nev) : 0)));
  std::vector<double> workB(n);
  std::vector<double> workSolve(n);
  CountingLPBPTLT op{{workB.data(), workSolve.data(), &Bp, &L}};
  Lanczos<CountingLPBPTLT> lanczos(nev, op);
  const int32_t nconv = u != nullptr ? lanczos.eigenValVectors(u, mu) : lanczos.eigenValues(mu);
  if (sweptVectors != nullptr) *sweptVectors += op.applications;
  return nconv;
}

}  // namespace orv
