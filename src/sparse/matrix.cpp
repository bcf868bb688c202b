#include <algorithm>
#include <new>
#include <stdexcept>

#include "sparse/sparse.h"

namespace orv {

void ccsSymMatrix::release() {
  if (n_ <= 0) return;
  ccs_.reset();
  n_ = 0;
  triplets_.clear();
  isCCS_ = false;
  norm1_ = 0.0;
  taucs_printf("%c: All memory released\n", tag());
}

void ccsSymMatrix::invalidate() { norm1_ = 0.0; }

void ccsSymMatrix::initialise(int32_t order, size_t reserve) {
  release();
  if (order <= 0) {
    n_ = order;
    return;
  }
  try {
    triplets_.reserve(reserve);
  } catch (const std::bad_alloc&) {
    throw "Out of memory";
  } catch (const std::length_error&) {
    throw "Out of memory";
  }
  n_ = order;
  taucs_printf("%c: Matrix initialised to %d degree of freedom\n", tag(), n_);
  timer_.startPhase("Matrix assembly");
}

}  // namespace orv

namespace orv {

void ccsSymMatrix::multiply(const double* x, double* y) const {
  const CcsRecord& a = requireCcs();
  std::fill(y, y + a.n, 0.0);
  for (int32_t j = 0; j < a.n; ++j) {
    for (int32_t p = a.colptr[j]; p < a.colptr[j + 1]; ++p) {
      const int32_t i = a.rowind[p];
      y[i] += a.values[p] * x[j];
      if (i != j) y[j] += a.values[p] * x[i];
    }
  }
}

const CcsRecord& ccsSymMatrix::requireCcs() const {
  if (!isCCS_ || !ccs_) throw "Matrix is not assembled";
  return *ccs_;
}

}  // namespace orv
