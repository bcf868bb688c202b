// Estimate of the 1-norm of the inverse of a symmetric positive-definite matrix from a few block
// solves.
#pragma once

#include <cstdint>
#include <functional>

namespace orv {

// x <- A⁻¹ b for nrhs columns, column-major n × nrhs blocks with leading dimension n; b may be
// overwritten. Returns false when the solve could not be carried out.
using InverseSolve = std::function<bool(double* x, double* b, int32_t nrhs)>;

// Estimates ‖A⁻¹‖₁ of the order-n matrix A with blocks of t columns. A must be symmetric, so
// the solve serves for A⁻¹ and A⁻ᵀ alike.
//
// Logs "Norm1(inv(A)) estimate started\n" first. For n <= 4 or t = n the norm is computed
// exactly from the n columns of A⁻¹ ("No iteration - norm computed exactly.\n",
// "A^(-1) Norm-1 estimate completed\n"). Otherwise it iterates (at most 6 solves for Y and 5 for
// Z, of t columns each, plus one of 1 column when t = 1), logging one line per iteration, the
// reason it stopped, "Number of solutions %d (x %d rhs each)\n", "Norm1(inv(A))  estimate is
// %g\n" and "Norm1(inv(A))  estimate completed\n".
//
// The random sign patterns come from a private per-thread generator with the sequence of the
// Windows C runtime's rand, seeded with the low 32 bits of time(NULL); the host's rand state is
// not touched.
//
// Throws Failure "T must be an integer between 1 and N" (bad argument) when t < 1 or t > n (after
// the start line) and the out-of-memory Failure when a solve reports failure; std::bad_alloc when
// work storage cannot be had. Exceptions thrown by solve pass through. The result is never larger
// than ‖A⁻¹‖₁ beyond rounding, since it is the norm of A⁻¹ applied to some vector of norm 1.
double estimateInvNorm1(int32_t n, int32_t t, const InverseSolve& solve);

// The same with the generator seeded by seed instead of the clock.
double estimateInvNorm1(int32_t n, int32_t t, const InverseSolve& solve, uint32_t seed);

}  // namespace orv
