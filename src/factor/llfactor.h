// The supernodal Cholesky factor L of a permuted matrix P A Pᵀ = L Lᵀ, with multi-column
// triangular solves and two read-outs of L's diagonal.
#pragma once

#include <cstdint>
#include <memory>

#include "sparse/ccs_record.h"

struct cholmod_factor_struct;

namespace orv {

// Outcome of the last symbolic or numeric step.
enum class FactorStatus { ok, outOfMemory, tooLarge, notPositiveDefinite, failed };

// Holds the symbolic structure (once analysed, until release()) and, while numericReady() is
// true, the numeric values of L. The matrix handed to symbolic() and numeric() is already in the
// factored ordering (lower triangle, rows ascending); no further permutation is applied, so row
// and column indices of L are those of that matrix.
//
// Right-hand-side blocks are column-major, n rows by nrhs columns, leading dimension n.
class llFactor {
 public:
  llFactor();
  ~llFactor();
  llFactor(const llFactor&) = delete;
  llFactor& operator=(const llFactor&) = delete;

  // Analyses pap unless a structure is already held. Logs the line "Symbolic Analysis ...".
  // Returns hasStructure().
  bool symbolic(const CcsRecord& pap);

  // Runs symbolic() first when needed, then computes the numeric factor of pap unless it is
  // already ready. Logs the line "Supernodal Multifrontal LL^T ..."; a non-positive pivot logs
  // "LL^T Factorization: Matrix is not positive definite.\n" and "Non-positive pivot in column
  // %d\n" (the 0-based column of pap). On failure the numeric values are dropped and the
  // structure kept. Returns numericReady(); status() tells a failure's cause.
  bool numeric(const CcsRecord& pap);

  // Solves L Lᵀ X = B for nrhs columns. B is used as work and holds L⁻¹B afterwards. Returns
  // false without solving when no numeric factor is ready, or, after logging
  // "multifrontal_supernodal_solve_llt: out of memory\n", when work storage cannot be had.
  bool solve(double* X, double* B, int32_t nrhs) const;

  // Forward substitution L Y = B; B is used as work (it holds Y afterwards). T is caller scratch
  // of n * nrhs doubles. Returns numericReady(), doing nothing when it is false. Allocates
  // nothing for one column.
  bool solveL(double* Y, double* B, double* T, int32_t nrhs) const;

  // Backward substitution Lᵀ X = Y; Y is not changed. T as for solveL.
  bool solveLT(double* X, const double* Y, double* T, int32_t nrhs) const;

  // Largest and smallest diagonal entry of L with their rows (first of equal values kept).
  // Starts from max = 0.0, min = the largest double, rows 0, which is what it gives when no
  // numeric factor is ready.
  void diagExtremes(double& min, double& max, int32_t& minRow, int32_t& maxRow) const;

  // Largest diagonal residual over the rows p of L and its row p (first maximum kept; NaN never
  // wins): |1 - A(c,c) / (L Lᵀ)(p,p)|, p = invPerm[c], where column c of a stores its diagonal,
  // and (L Lᵀ)(p,p) itself where it does not. a is the matrix in its original numbering. Returns 0,
  // or -1 with the outputs untouched when the work array cannot be allocated or no numeric factor
  // is ready.
  int diagResidual(const CcsRecord& a, const int32_t* invPerm, double& maxRes, int32_t& row) const;

  // Drops the numeric values and keeps the symbolic structure.
  void releaseNumeric();
  // Drops everything.
  void release();

  bool hasStructure() const;
  bool numericReady() const { return numericReady_; }
  FactorStatus status() const { return status_; }
  // Bytes the numeric factorisation takes once the structure is known: the values of L and the
  // largest update block; 0 without a structure.
  uint64_t numericBytes() const;
  // The column of P A Pᵀ whose pivot was not positive, after status() notPositiveDefinite.
  int32_t pivotColumn() const { return pivotColumn_; }

  // Read-only view of the CHOLMOD factor (64-bit integers, supernodal), or null.
  const cholmod_factor_struct* factor() const;

 private:
  struct Cholmod;
  std::unique_ptr<Cholmod> cholmod_;
  bool numericReady_ = false;
  FactorStatus status_ = FactorStatus::ok;
  int32_t pivotColumn_ = -1;
};

}  // namespace orv
