// The standard-form operator S = L⁻¹ (P B Pᵀ) L⁻ᵀ of A x = λ B x, where P A Pᵀ = L Lᵀ.
#pragma once

#include <cstdint>
#include <vector>

#include "eigen/block_lanczos.h"
#include "factor/factor.h"
#include "sparse/sparse.h"

namespace orv {

// Applies S without forming it: the largest eigenvalues μ of S are the reciprocals of the
// smallest λ, and its eigenvectors u give x = Pᵀ L⁻ᵀ u. Vectors live in the factored ordering.
//
// A plain aggregate that owns nothing. While in use: workB and workSolve hold n doubles each,
// distinct from each other and from the vectors of a product; matB is B′ = P B Pᵀ in
// compressed-column form of order n; llFactor holds A's numeric factor. The shared work vectors
// make one object usable by one product at a time.
struct LPBPTLT {
  double* workB;
  double* workSolve;
  const ccsSymMatrix* matB;
  const orv::llFactor* llFactor;

  // y = S x; x unchanged, y's previous contents irrelevant. Allocates nothing.
  void multOPx(const double* x, double* y) const {
    llFactor->solveLT(y, x, workSolve, 1);
    matB->multiply(y, workB);
    llFactor->solveL(y, workB, workSolve, 1);
  }

  int32_t rows() const { return matB->n(); }
  void perform_op(const double* x, double* y) const { multOPx(x, y); }
};

// S on blocks of vectors: each application reads L twice and B′ once for all its columns.
// Owns its work blocks, sized for at most `columns` columns (at most the product's
// ccsSymMatrix::kProductColumns, so that B′ is read once).
class BlockLPBPTLT : public BlockOperator {
 public:
  BlockLPBPTLT(const ccsSymMatrix& matB, const llFactor& L, int32_t columns);

  int32_t rows() const override { return matB_.n(); }
  void apply(const double* X, double* Y, int32_t columns) override;

  // Doubles of work the operator holds for n rows and `columns` columns.
  static uint64_t workDoubles(int32_t n, int32_t columns);

 private:
  const ccsSymMatrix& matB_;
  const llFactor& L_;
  std::vector<double> product_;
  std::vector<double> work_;  // the sweeps' work, then the product's
};

}  // namespace orv
