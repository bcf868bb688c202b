// Dense symmetric eigen-solvers over LAPACK: the standard-form matrix of the eigensystem driver
// with its search, and the packed generalised solver behind exp_LAPACK_DSPGVD_v3.
#pragma once

#include <cstdint>
#include <vector>

#include "factor/factor.h"
#include "sparse/sparse.h"

namespace orv {

// Z = L⁻¹ B′ L⁻ᵀ as a full n x n column-major array (resized), where L is the numeric factor
// and B′ the matrix in the factored ordering. Logs the dense-copy lines of B′ ("Creating dense
// matrix B", "Dense matrix B created"), then "Creating dense matrix Z" and "Dense matrix Z
// created". Needs a second n x n array and 10 n doubles of scratch while it runs.
void createDenseZ(const llFactor& L, std::vector<double>& Z, const ccsSymMatrix& Bp);

// The nev largest eigenvalues of the symmetric n x n matrix Z by DSYEVR (RANGE 'I', the indices
// n - nev + 1 .. n), in ascending order in w[0 .. *m-1]; with wantVectors their orthonormal
// eigenvectors in the columns of vectors (n x nev). Z holds both triangles and is destroyed; w
// holds n doubles. Returns DSYEVR's INFO; n < 1 gives -4, nev outside 1 .. n gives -9 and a
// lower triangle holding NaN or an infinity gives -5, all without calling LAPACK (its bisection
// never ends on such a matrix).
//
// When the index range cannot be resolved (eigenvalues equal to working precision on both sides
// of the cut: DSYEVR finds fewer than nev or reports INFO 2), the search is repeated over the
// whole spectrum and its nev largest pairs are returned; it then needs n x n more doubles when
// vectors are wanted.
int denseEigenSearch(double* Z, double* w, double* vectors, int n, int nev, int* m,
                     bool wantVectors);

// A x = λ B x for the n x n matrices A and B in packed lower storage (n (n + 1) / 2 doubles) by
// DSPGVD with eigenvectors. ap is read only. With bpReady 0, bpSource is first copied into bp;
// otherwise bp already holds B and bpSource is not read. On return bp holds the Cholesky factor
// of B, w the n eigenvalues ascending, z the n x n eigenvectors (column-major, Zᵀ B Z = I).
// Returns DSPGVD's INFO: 0 success, 1 .. n no convergence, > n the leading minor of order
// INFO - n of B is not positive definite; -4 for n < 0 (LAPACK is not called). n = 0 returns 0
// and touches nothing. For n >= 1 a null ap, bp, w or z, or a null bpSource with bpReady 0, gives
// -1 and nothing is read or written. Throws std::bad_alloc when the copy of ap or a workspace
// cannot be had (then bp may already hold the copy of bpSource), and the out-of-memory Failure
// for n > 32766, where DSPGVD's workspace size exceeds its 32-bit integers.
int32_t packedGeneralizedEigen(int32_t n, int32_t bpReady, const double* ap, const double* bpSource,
                               double* bp, double* w, double* z);

}  // namespace orv
