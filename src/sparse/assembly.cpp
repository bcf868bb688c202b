#include <algorithm>
#include <new>
#include <stdexcept>

#include "sparse/sparse.h"

namespace orv {
namespace {

// Columns of assembled finite-element matrices hold a few dozen distinct rows, where insertion
// sort beats a general sort; long columns take the general one.
void sortByRow(int32_t* rows, double* values, int64_t count) {
  constexpr int64_t kInsertionLimit = 64;
  if (count > kInsertionLimit) {
    std::vector<std::pair<int32_t, double>> pairs(static_cast<size_t>(count));
    for (int64_t k = 0; k < count; ++k) pairs[k] = {rows[k], values[k]};
    std::sort(pairs.begin(), pairs.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (int64_t k = 0; k < count; ++k) {
      rows[k] = pairs[k].first;
      values[k] = pairs[k].second;
    }
    return;
  }
  for (int64_t p = 1; p < count; ++p) {
    const int32_t row = rows[p];
    const double value = values[p];
    int64_t q = p;
    for (; q > 0 && rows[q - 1] > row; --q) {
      rows[q] = rows[q - 1];
      values[q] = values[q - 1];
    }
    rows[q] = row;
    values[q] = value;
  }
}

// Buckets the records by column with a counting pass, sums the records of each position in
// record order (a marker per row tells where the position's entry went), then sorts each
// column's distinct rows. Duplicates merge before the sort, so the sort sees a column's distinct
// rows only, a fraction of its records in an assembled model.
std::unique_ptr<CcsRecord> buildRecord(int32_t n, const std::vector<Triplet>& triplets) {
  std::vector<int64_t> start(static_cast<size_t>(n) + 1, 0);
  for (const Triplet& t : triplets) ++start[static_cast<size_t>(t.column) + 1];
  for (int32_t j = 0; j < n; ++j) start[j + 1] += start[j];

  std::vector<int32_t> rows(triplets.size());
  std::vector<double> values(triplets.size());
  {
    std::vector<int64_t> next(start.begin(), start.end() - 1);
    for (const Triplet& t : triplets) {
      const int64_t at = next[t.column]++;
      rows[at] = t.row;
      values[at] = t.value;
    }
  }

  // Distinct entries are packed towards the front of the same arrays: a column's packed entries
  // never overtake its unread records.
  std::vector<int64_t> marker(static_cast<size_t>(n), -1);
  std::vector<int32_t> colptr(static_cast<size_t>(n) + 1, 0);
  int64_t nnz = 0;
  for (int32_t j = 0; j < n; ++j) {
    const int64_t first = nnz;
    for (int64_t p = start[j]; p < start[j + 1]; ++p) {
      const int32_t row = rows[p];
      if (marker[row] >= first) {
        values[marker[row]] += values[p];
      } else {
        marker[row] = nnz;
        rows[nnz] = row;
        values[nnz] = values[p];
        ++nnz;
      }
    }
    sortByRow(rows.data() + first, values.data() + first, nnz - first);
    if (nnz > INT32_MAX) throw std::length_error("too many entries");
    colptr[j + 1] = static_cast<int32_t>(nnz);
  }

  auto record = std::make_unique<CcsRecord>(n, static_cast<int32_t>(nnz));
  record->colptr = std::move(colptr);
  std::copy(rows.begin(), rows.begin() + nnz, record->rowind.begin());
  std::copy(values.begin(), values.begin() + nnz, record->values.begin());
  return record;
}

}  // namespace

void ccsSymMatrix::checkIndex(int32_t row, int32_t column) const {
  if (row < 0 || column < 0 || row >= n_ || column >= n_)
    throw Failure(FailureKind::badArgument, "Element index out of range");
}

void ccsSymMatrix::setElement(int32_t row, int32_t column, double value) {
  editElement(row, column, value, false);
}

void ccsSymMatrix::incrElement(int32_t row, int32_t column, double value) {
  editElement(row, column, value, true);
}

void ccsSymMatrix::editElement(int32_t row, int32_t column, double value, bool add) {
  checkIndex(row, column);
  if (!isCCS_) {
    triplets_.push_back(Triplet{row, column, value});
    return;
  }
  const int32_t p = findEntry(row, column);
  if (p < 0) throw Failure(FailureKind::badArgument, "Element not found");
  ccs_->values[p] = add ? ccs_->values[p] + value : value;
  norm1_ = 0.0;
}

void ccsSymMatrix::createCCS() {
  if (isCCS_) throw Failure(FailureKind::badState, "Matrix already in CCS form");
  if (triplets_.empty()) throw Failure(FailureKind::badState, "Matrix is empty");
  timer_.completePhase("Matrix assembly");
  timer_.startPhase("CCS matrix creation");
  try {
    ccs_ = buildRecord(n_, triplets_);
  } catch (const std::bad_alloc&) {
    throw Failure(FailureKind::outOfMemory, "Memory allocation for ccs matrix failed");
  } catch (const std::length_error&) {
    throw Failure(FailureKind::outOfMemory, "Memory allocation for ccs matrix failed");
  }
  triplets_.clear();
  taucs_printf("Number of nonzero elements: %d\n", ccs_->nnz());
  isCCS_ = true;
  timer_.completePhase("CCS matrix creation");
}

int32_t ccsSymMatrix::findEntry(int32_t row, int32_t column) const {
  if (!ccs_ || column < 0 || column >= ccs_->n) return -1;
  const auto first = ccs_->rowind.begin() + ccs_->colptr[column];
  const auto last = ccs_->rowind.begin() + ccs_->colptr[column + 1];
  const auto at = std::lower_bound(first, last, row);
  return at != last && *at == row ? static_cast<int32_t>(at - ccs_->rowind.begin()) : -1;
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
