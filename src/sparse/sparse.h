// Symmetric sparse matrices: assembly from (row, column, value) records, conversion to the
// compressed-column record of the lower triangle, element edits in place, and the services the
// solvers read (product, dense copy, 1-norm, diagonal, dump).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "log/failure.h"
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
  ccsSymMatrix(const ccsSymMatrix&) = delete;
  ccsSymMatrix& operator=(const ccsSymMatrix&) = delete;

  // Frees the record and the pattern, keeps the record storage for reuse; logs
  // "<tag>: All memory released" when the matrix had a dimension.
  void release();
  // y = M x for n doubles; y is overwritten.
  void multiply(const double* x, double* y) const;

  // Releases, then sets the dimension and reserves `reserve` records; with n > 0 logs the
  // initialisation line and starts the "Matrix assembly" phase.
  void initialise(int32_t order, size_t reserve);

  // Before conversion both append a record; after it they replace (set) or add to (incr) the
  // stored value of an existing pattern position and forget the cached norm.
  void setElement(int32_t row, int32_t column, double value);
  void incrElement(int32_t row, int32_t column, double value);
  // Converts the records to the compressed-column record, summing duplicates.
  void createCCS();
  // Position of (row, column) in the record, or -1 when the pattern has no such entry.
  int32_t findEntry(int32_t row, int32_t column) const;
  // Diagonal entries present in the pattern with a value other than 0.0 (NaN counts).
  int32_t countNonzeroDiagonal() const;

  // Columns a product reads the matrix once for.
  static constexpr int32_t kProductColumns = 16;
  // Y(:, k) = M X(:, k) for k < count, columns of n doubles, each column summed as multiply sums
  // it; the matrix is read once for every kProductColumns columns. scratch, when not null, holds
  // 2 n min(count, kProductColumns) doubles; otherwise the call allocates them.
  void multiplyColumns(const double* X, double* Y, int32_t count, double* scratch = nullptr) const;
  // The full symmetric matrix, n x n, into dense (resized; every element not stored is 0.0).
  void toDense(std::vector<double>& dense) const;
  // Largest column sum of absolute values of the full matrix, cached until the values change.
  double computeNorm1();
  // Writes the stored lower triangle as "i j v" lines with 1-based indices; -1 when the file
  // cannot be opened.
  int writeIjv(const char* fileName) const;
  // Takes the record as the matrix's own; the matrix becomes converted with its dimension.
  void adoptCCS(std::unique_ptr<CcsRecord> record);

  char tag() const { return timer_.tag(); }
  int32_t n() const { return n_; }
  bool isCCS() const { return isCCS_; }
  const CcsRecord* ccs() const { return ccs_.get(); }
  PhaseTimer& timer() { return timer_; }

  // The record of a converted matrix; throws Failure "Matrix is not assembled" before conversion.
  const CcsRecord& requireCcs() const;

 private:
  // Checks that (row, column) can be stored in a matrix of this dimension.
  void checkIndex(int32_t row, int32_t column) const;
  // Appends the record before conversion; afterwards adds to or replaces the stored value.
  void editElement(int32_t row, int32_t column, double value, bool add);

  std::unique_ptr<CcsRecord> ccs_;
  double norm1_ = 0.0;  // 0.0: not computed
  PhaseTimer timer_;
  int32_t n_ = 0;
  bool isCCS_ = false;
  std::vector<Triplet> triplets_;
};

// The diagonal of a record: d[j] is the first stored (j, j) value, 0.0 where none is stored.
struct DiagonalExtremes {
  double maxDiag;
  double minDiag;
  int32_t maxDiagRow;
  int32_t minDiagRow;
};
// Largest and smallest diagonal entry, first of equal values kept, NaN ignored; logs each
// entry that is not positive.
DiagonalExtremes scanDiagonal(const CcsRecord& a);

}  // namespace orv
