// Smallest eigenpairs of the generalised problem A x = λ B x, A positive definite, B symmetric
// (possibly singular): the driver with its iterative routes (block Lanczos, ARPACK's Lanczos) and
// dense fallback, the standard-form operator and the dense LAPACK solvers.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "eigen/dense.h"
#include "eigen/lpbptlt.h"
#include "factor/factor.h"
#include "sparse/sparse.h"

namespace orv {

// An iterative search of the standard form: the nev largest eigenvalues μ of S = L⁻¹ B′ L⁻ᵀ (B′
// the matrix in the factored ordering) into mu, in any order, and when u is not null their unit
// eigenvectors into its columns (n x nev). Returns the number of converged pairs written, 0 to
// nev; adds the vectors it applied S to to *sweptVectors when that is not null.
using IterativeRoute = std::function<int32_t(const llFactor& L, const ccsSymMatrix& Bp, int32_t nev,
                                             double* mu, double* u, int64_t* sweptVectors)>;

// The block Lanczos search (blocks of 4 to 16 vectors, thick restarts): every pair or 0.
int32_t blockLanczosRoute(const llFactor& L, const ccsSymMatrix& Bp, int32_t nev, double* mu,
                          double* u, int64_t* sweptVectors);
// ARPACK's implicitly restarted Lanczos, one vector at a time: what converged by its restart limit.
int32_t arpackRoute(const llFactor& L, const ccsSymMatrix& Bp, int32_t nev, double* mu, double* u,
                    int64_t* sweptVectors);

// Whether the block route pays for nev pairs with A's factor of order n: many pairs, a factor
// beyond cache, and room for the block route's larger basis (ARPACK's needs less).
bool chooseBlockRoute(const llFactor& L, int32_t n, int32_t nev);

// The iterative routes of a search, in the order they are tried; an empty one is skipped. The
// block route is taken only where blockPays says so and its result only when every pair
// converged; the ARPACK route's result when at least one did.
struct EigenRoutes {
  IterativeRoute block = blockLanczosRoute;
  IterativeRoute arpack = arpackRoute;
  bool (*blockPays)(const llFactor& L, int32_t n, int32_t nev) = chooseBlockRoute;
  int64_t* sweptVectors = nullptr;  // when not null, receives the routes' operator applications
};

// The routes of a plain call: both, or only ARPACK's when the environment variable
// ORV_EIGEN_ARPACK is set to anything but "" or "0".
EigenRoutes defaultRoutes();

// The count smallest eigenvalues λ of A x = λ B x in ascending order and, when vectors is not
// null, their eigenvectors in the columns of vectors (n x count, column-major, the host's
// numbering), normalised so that xᵢᵀ A xⱼ = δᵢⱼ and hence xᵢᵀ B xᵢ = 1/λᵢ. Returns found, the
// number of valid pairs written at positions 0 .. found-1.
//
// The search is capped at nev = min(count, number of diagonal entries of B stored with a value
// other than 0.0); a negative count counts as 0. values may be null: the eigenvalues are then
// computed into scratch and only found (and the vectors) are returned. See eigenSystemOfPair for
// the rest.
//
// Throws the Failure "Matrix B is not assembled" when B is not in compressed-column form and
// "Matrices A and B differ in size" when their orders differ, both before any work.
int32_t eigenSystem(ccsSymSPDMatrix& A, const ccsSymMatrix& B, int32_t count, double* values,
                    double* vectors, const EigenRoutes& routes = defaultRoutes());

// The nev smallest eigenpairs, nev <= number of non-zero diagonal entries of B; B in
// compressed-column form of A's order.
//
// Factorises A first when it holds no numeric factor (default ordering; its failures end the
// call with their own texts), then runs the phase "Eigensystem calculation" of A, logging
// "Searching <nev> smallest eigenvalues[ and related eigenvectors]". With nev <= 0 it stops there
// and returns 0. Otherwise it builds B′ = P B Pᵀ and, when 0.15 n >= nev, tries the iterative
// routes in turn, each logging "Attempting search of selected eigenvalues only" and, when its
// result is not taken, "Search of selected eigenvalues failed". When none is taken, or 0.15 n <
// nev, the dense route runs ("Attempting dense search method"; DSYEVR failing logs "Dense search
// method failed" and throws "Can't calculate eigensystem"). An ARPACK run that converges for
// fewer than nev eigenvalues is accepted as it is.
//
// On an iterative route values[found .. nconv-1] keep the eigenvalues μ of the standard form that
// the iteration produced; on the dense route positions from found on are left as they were.
// Memory that runs out, for B′ or for work storage, reads "Out of memory". A stays factored; A and
// B are otherwise unchanged.
int32_t eigenSystemOfPair(ccsSymSPDMatrix& A, const ccsSymMatrix& B, int32_t nev, double* values,
                          double* vectors, const EigenRoutes& routes = defaultRoutes());

// Turns nconv eigenpairs (μ, u) of S = L⁻¹ B′ L⁻ᵀ into eigenpairs (λ = 1/μ, x = Pᵀ L⁻ᵀ u). mu holds
// the μ in any order, u (read only when vectors is not null) the matching unit eigenvectors as
// columns of n doubles. The pairs are sorted by μ descending; the valid eigenvalues are the
// leading run of at most min(nev, nconv) with 0 < λ < 1e12 (a NaN ends it too), written to
// values[0 ..], their vectors, back in the host's numbering, to the columns of vectors. mu and
// values may be the same array. Logs "Back transforming <nconv> eigenvalues" and
// "Back-transformation completed: <k> eigenvalues valid"; returns k. The vectors go through Lᵀ
// in blocks of columns.
int32_t backTransform(const llFactor& L, const std::vector<int32_t>& invPerm, int32_t nconv,
                      int32_t nev, const double* mu, double* values, const double* u,
                      double* vectors);

}  // namespace orv
