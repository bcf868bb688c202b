#include <algorithm>
#include <new>
#include <stdexcept>

#include "sparse/sparse.h"

namespace orv {
namespace {

struct RowValue {
  int32_t row;
  double value;
};

// Columns of assembled finite-element matrices hold a few dozen records, where insertion sort
// beats a general sort; long columns take the general one.
void sortByRow(RowValue* first, RowValue* last) {
  constexpr ptrdiff_t kInsertionLimit = 48;
  if (last - first > kInsertionLimit) {
    std::sort(first, last, [](const RowValue& a, const RowValue& b) { return a.row < b.row; });
    return;
  }
  for (RowValue* p = first + 1; p < last; ++p) {
    const RowValue moving = *p;
    RowValue* q = p;
    for (; q > first && (q - 1)->row > moving.row; --q) *q = *(q - 1);
    *q = moving;
  }
}

// Orders the records by column with a counting pass, then each column by row, and merges equal
// positions by summing them in that order.
std::unique_ptr<CcsRecord> buildRecord(int32_t n, const std::vector<Triplet>& triplets) {
  std::vector<int64_t> start(static_cast<size_t>(n) + 1, 0);
  for (const Triplet& t : triplets) ++start[static_cast<size_t>(t.column) + 1];
  for (int32_t j = 0; j < n; ++j) start[j + 1] += start[j];

  std::vector<RowValue> sorted(triplets.size());
  {
    std::vector<int64_t> next(start.begin(), start.end() - 1);
    for (const Triplet& t : triplets) sorted[next[t.column]++] = RowValue{t.row, t.value};
  }

  int64_t nnz = 0;
  for (int32_t j = 0; j < n; ++j) {
    RowValue* first = sorted.data() + start[j];
    RowValue* last = sorted.data() + start[j + 1];
    sortByRow(first, last);
    for (RowValue* p = first; p < last; ++p) {
      if (p == first || p->row != (p - 1)->row) ++nnz;
    }
  }
  if (nnz > INT32_MAX) throw std::length_error("too many entries");

  auto record = std::make_unique<CcsRecord>(n, static_cast<int32_t>(nnz));
  int32_t e = -1;
  for (int32_t j = 0; j < n; ++j) {
    for (int64_t p = start[j]; p < start[j + 1]; ++p) {
      if (p == start[j] || sorted[p].row != sorted[p - 1].row) {
        ++e;
        record->rowind[e] = sorted[p].row;
        record->values[e] = sorted[p].value;
      } else {
        record->values[e] += sorted[p].value;
      }
    }
    record->colptr[j + 1] = e + 1;
  }
  return record;
}

}  // namespace

void ccsSymMatrix::checkIndex(int32_t row, int32_t column) const {
  if (row < 0 || column < 0 || row >= n_ || column >= n_) throw "Element index out of range";
}

void ccsSymMatrix::setElement(int32_t row, int32_t column, double value) {
  checkIndex(row, column);
  if (!isCCS_) {
    triplets_.push_back(Triplet{row, column, value});
    return;
  }
  const int32_t p = findEntry(row, column);
  if (p < 0) throw "Element not found";
  ccs_->values[p] = value;
  invalidate();
}

void ccsSymMatrix::incrElement(int32_t row, int32_t column, double value) {
  checkIndex(row, column);
  if (!isCCS_) {
    triplets_.push_back(Triplet{row, column, value});
    return;
  }
  const int32_t p = findEntry(row, column);
  if (p < 0) throw "Element not found";
  ccs_->values[p] += value;
  invalidate();
}

void ccsSymMatrix::createCCS() {
  if (isCCS_) throw "Matrix already in CCS form";
  if (triplets_.empty()) throw "Matrix is empty";
  timer_.completePhase("Matrix assembly");
  timer_.startPhase("CCS matrix creation");
  try {
    ccs_ = buildRecord(n_, triplets_);
  } catch (const std::bad_alloc&) {
    throw "Memory allocation for ccs matrix failed";
  } catch (const std::length_error&) {
    throw "Memory allocation for ccs matrix failed";
  }
  triplets_.clear();
  taucs_printf("Number of nonzero elements: %d\n", ccs_->nnz());
  isCCS_ = true;
  timer_.completePhase("CCS matrix creation");
}

int32_t ccsSymMatrix::findEntry(int32_t row, int32_t column) const {
  if (!ccs_ || column < 0 || column >= ccs_->n) return -1;
  const int32_t* rows = ccs_->rowind.data();
  int32_t lo = ccs_->colptr[column];
  int32_t hi = ccs_->colptr[column + 1] - 1;
  if (hi < lo) return -1;
  if (rows[lo] == row) return lo;
  if (rows[hi] == row) return hi;
  while (hi - lo > 1) {
    const int32_t mid = lo + (hi - lo) / 2;
    if (rows[mid] == row) return mid;
    if (rows[mid] < row) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  return -1;
}

int32_t ccsSymMatrix::countNonzeroDiagonal() const {
  if (n_ < 1 || !ccs_) return 0;
  int32_t count = 0;
  for (int32_t k = 0; k < n_; ++k) {
    const int32_t p = findEntry(k, k);
    if (p >= 0 && ccs_->values[p] != 0.0) ++count;
  }
  return count;
}

}  // namespace orv
