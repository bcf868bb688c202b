// Implicitly restarted Lanczos iteration for a few eigenpairs of a symmetric operator, over
// ARPACK's reverse-communication routines dsaupd and dseupd.
#pragma once

#include <arpack/arpack.hpp>

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <mutex>
#include <vector>

#include "eigen/lanczos_control.h"
#include "eigen/lapack.h"
#include "log/failure.h"
#include "platform/fault_cleanup.h"

namespace orv {

// A symmetric linear operator of order rows(): perform_op(x, y) sets y = S x for n doubles at x
// and y (distinct), leaving x unchanged.
template <class Op>
concept SymmetricOperator = requires(Op& op, const double* x, double* y) {
  { op.rows() } -> std::convertible_to<int32_t>;
  op.perform_op(x, y);
};

// The nev eigenvalues at one end of the spectrum of a symmetric operator and, on request, their
// eigenvectors, by ARPACK in regular mode (mode 1, standard problem, exact shifts).
//
// ncv = min(2 nev + 1, n) Lanczos vectors, a convergence tolerance of machine precision (tol 0),
// at most 100 nev restarts, the algebraically largest eigenvalues. The random starting
// vector is the same in every run, so the same operator gives the same result bit for bit.
//
// Both requests return the number of converged eigenvalues nconv (0 to nev): values 0 .. nconv-1
// and the matching vector columns are written, in ARPACK's order, the rest of values is left as
// it was. Every failure of the iteration (an argument ARPACK rejects, the restart limit reached
// with nothing converged, no shifts to apply, a failed dseupd) gives 0, as does nev outside
// 1 .. n-1; values are then untouched and the vector array may have been used as work.
// std::bad_alloc, the out-of-memory Failure for a workspace beyond ARPACK's 32-bit sizes and
// exceptions thrown by the operator pass through.
template <SymmetricOperator Op>
class Lanczos {
 public:
  Lanczos(int32_t nev, Op& op) : op_(op), nev_(nev) {}

  // values: nev doubles.
  int32_t eigenValues(double* values) { return run(values, nullptr); }
  // vectors: n x nev doubles, column k (n doubles) belonging to values[k].
  int32_t eigenValVectors(double* vectors, double* values) { return run(values, vectors); }

 private:
  int32_t run(double* values, double* vectors) {
    const a_int n = op_.rows();
    const a_int nev = nev_;
    if (nev < 1 || nev >= n) return 0;
    const a_int ncv = std::min<a_int>(2 * nev + 1, n);
    const int64_t workSize = static_cast<int64_t>(ncv) * (ncv + 8);
    if (workSize > std::numeric_limits<a_int>::max()) throw Failure::outOfMemory();
    const auto lworkl = static_cast<a_int>(workSize);
    const size_t un = static_cast<size_t>(n);

    std::vector<double> resid(un);
    std::vector<double> v(un * static_cast<size_t>(ncv));
    std::vector<double> workd(3 * un);
    std::vector<double> workl(static_cast<size_t>(lworkl));
    std::vector<double> ritz(static_cast<size_t>(nev));
    std::vector<a_int> select(static_cast<size_t>(ncv));
    a_int iparam[11] = {};
    a_int ipntr[14] = {};
    iparam[0] = 1;  // exact shifts
    iparam[2] = 100 * nev;
    iparam[6] = 1;  // regular mode: OP = S, no second matrix

    // ARPACK draws its own starting vector from a seed that it keeps from one run to the next, so
    // a result would depend on the runs the process made before (for a repeated eigenvalue, even
    // the eigenvectors it gives). Every run starts instead from the vector ARPACK draws in a
    // process's first run: uniform on (-1, 1) from the seed 1, 3, 5, 7.
    int seed[4] = {1, 3, 5, 7};
    const int uniform = 2;
    dlarnv_(&uniform, seed, &n, resid.data());

    a_int nconv = 0;
    {
      FaultSafeLock lock(arpackMutex());
      a_int ido = 0;
      a_int info = 1;  // resid holds the starting vector
      for (;;) {
        arpack::saupd(ido, arpack::bmat::identity, n, kWhich, nev, kTolerance, resid.data(), ncv,
                      v.data(), n, iparam, ipntr, workd.data(), workl.data(), lworkl, info);
        if (ido != -1 && ido != 1) break;
        op_.perform_op(workd.data() + ipntr[0] - 1, workd.data() + ipntr[1] - 1);
      }
      // info 1: the restart limit was reached; what converged by then is still usable.
      if (info != 0 && info != 1) return 0;
      nconv = iparam[4];
      if (nconv < 1) return 0;
      const a_int rvec = vectors != nullptr ? 1 : 0;
      double* z = vectors != nullptr ? vectors : v.data();
      arpack::seupd(rvec, arpack::howmny::ritz_vectors, select.data(), ritz.data(), z, n, 0.0,
                    arpack::bmat::identity, n, kWhich, nev, kTolerance, resid.data(), ncv, v.data(),
                    n, iparam, ipntr, workd.data(), workl.data(), lworkl, info);
      if (info != 0) return 0;
      nconv = std::min(iparam[4], nev);
    }
    // values may be the host's array; a fault writing it must not happen under the lock.
    std::copy_n(ritz.begin(), nconv, values);
    return nconv;
  }

  static constexpr double kTolerance = 0.0;  // machine precision
  static constexpr arpack::which kWhich = arpack::which::largest_algebraic;

  Op& op_;
  int32_t nev_;
};

}  // namespace orv
