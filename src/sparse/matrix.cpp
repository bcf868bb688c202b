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

void ccsSymMatrix::initialise(int32_t order, size_t reserve) {
  release();
  if (order <= 0) {
    n_ = order;
    return;
  }
  triplets_.reserve(reserve);
  n_ = order;
  taucs_printf("%c: Matrix initialised to %d degree of freedom\n", tag(), n_);
  timer_.startPhase("Matrix assembly");
}

}  // namespace orv
