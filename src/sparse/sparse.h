// Symmetric sparse matrices: assembly from (row, column, value) records, conversion to the
// compressed-column record of the lower triangle, element edits in place, and the services the
// solvers read (product, dense copy, 1-norm, diagonal, dump).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "log/log.h"
#include "sparse/ccs_record.h"

namespace orv {

// One assembly contribution, 16 bytes as hosts and dumps have always seen it.
struct Triplet {
  int32_t row;
  int32_t column;
  double value;
};
static_assert(sizeof(Triplet) == 16);

// A symmetric matrix, assembled by records and then held as the compressed-column record of its
// lower triangle. The tag letter ('A' or 'B') starts every phase line it logs.
class ccsSymMatrix {
 public:
  explicit ccsSymMatrix(char tag) : timer_(tag) {}
  virtual ~ccsSymMatrix() = default;
  ccsSymMatrix(const ccsSymMatrix&) = delete;
  ccsSymMatrix& operator=(const ccsSymMatrix&) = delete;

  // Frees the record and the pattern, keeps the record storage for reuse; logs
  // "<tag>: All memory released" when the matrix had a dimension.
  virtual void release();
  // y = M x for n doubles; y is overwritten.
  virtual void multiply(const double* x, double* y) const;
  // Forgets every value derived from the entries.
  virtual void invalidate();

  // Releases, then sets the dimension and reserves `reserve` records; with n > 0 logs the
  // initialisation line and starts the "Matrix assembly" phase.
  void initialise(int32_t order, size_t reserve);

  char tag() const { return timer_.tag(); }
  int32_t n() const { return n_; }
  bool isCCS() const { return isCCS_; }
  const CcsRecord* ccs() const { return ccs_.get(); }
  const std::vector<Triplet>& triplets() const { return triplets_; }
  PhaseTimer& timer() { return timer_; }

  // The record of a converted matrix; throws "Matrix is not assembled" before conversion.
  const CcsRecord& requireCcs() const;

 protected:
  std::unique_ptr<CcsRecord> ccs_;
  double norm1_ = 0.0;  // 0.0: not computed
  PhaseTimer timer_;
  int32_t n_ = 0;
  bool isCCS_ = false;
  std::vector<Triplet> triplets_;
};

}  // namespace orv
