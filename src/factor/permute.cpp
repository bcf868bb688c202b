#include "permute.h"

#include <algorithm>
#include <new>

namespace orv {

CcsRecord permuteSymmetric(const CcsRecord& a, const std::vector<int32_t>& invPerm) {
  const int32_t n = a.n;
  const int32_t nnz = a.nnz();
  // Bucket the entries by their permuted row, then deal the buckets out to the columns in row
  // order: every column comes out sorted without a sort.
  std::vector<int32_t> rowStart(static_cast<size_t>(n) + 1, 0);
  std::vector<int32_t> columnCount(static_cast<size_t>(n) + 1, 0);
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t k = a.colptr[j]; k < a.colptr[j + 1]; ++k) {
      const int32_t pi = invPerm[a.rowind[k]];
      const int32_t pj = invPerm[j];
      ++rowStart[std::max(pi, pj) + 1];
      ++columnCount[std::min(pi, pj) + 1];
    }
  }
  for (int32_t r = 0; r < n; ++r) rowStart[r + 1] += rowStart[r];
  std::vector<int32_t> bucketColumn(static_cast<size_t>(nnz));
  std::vector<double> bucketValue(static_cast<size_t>(nnz));
  std::vector<int32_t> next(rowStart.begin(), rowStart.end() - 1);
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t k = a.colptr[j]; k < a.colptr[j + 1]; ++k) {
      const int32_t pi = invPerm[a.rowind[k]];
      const int32_t pj = invPerm[j];
      const int32_t slot = next[std::max(pi, pj)]++;
      bucketColumn[slot] = std::min(pi, pj);
      bucketValue[slot] = a.values[k];
    }
  }

  CcsRecord b(n, nnz);
  for (int32_t j = 0; j < n; ++j) columnCount[j + 1] += columnCount[j];
  next.assign(columnCount.begin(), columnCount.end() - 1);
  for (int32_t r = 0; r < n; ++r) {
    for (int32_t k = rowStart[r]; k < rowStart[r + 1]; ++k) {
      const int32_t slot = next[bucketColumn[k]]++;
      b.rowind[slot] = r;
      b.values[slot] = bucketValue[k];
    }
  }

  // A pair stored on both sides of the diagonal lands twice, side by side, in one column: the
  // symmetric product treats it as the sum, so merge it into one entry.
  int32_t out = 0;
  for (int32_t j = 0; j < n; ++j) {
    const int32_t first = out;
    for (int32_t k = columnCount[j]; k < columnCount[j + 1]; ++k) {
      if (out > first && b.rowind[out - 1] == b.rowind[k]) {
        b.values[out - 1] += b.values[k];
      } else {
        b.rowind[out] = b.rowind[k];
        b.values[out] = b.values[k];
        ++out;
      }
    }
    b.colptr[j] = first;
  }
  b.colptr[n] = out;
  b.rowind.resize(static_cast<size_t>(out));
  b.values.resize(static_cast<size_t>(out));
  return b;
}

void scatterByPerm(int32_t n, const double* src, double* dst, const int32_t* invPerm) {
  for (int32_t i = 0; i < n; ++i) dst[invPerm[i]] = src[i];
}

void gatherByPerm(int32_t n, const double* src, double* dst, const int32_t* invPerm) {
  for (int32_t i = 0; i < n; ++i) dst[i] = src[invPerm[i]];
}

}  // namespace orv
