// The compressed-column record of a symmetric matrix: the lower triangle, column by column.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orv {

// Column j holds entries colptr[j] .. colptr[j+1]-1, rows strictly increasing within a column.
// An entry stored with row < column stands for its symmetric pair, like any other.
struct CcsRecord {
  int32_t n = 0;
  std::vector<int32_t> colptr;  // n + 1 starts, colptr[0] = 0, colptr[n] = nnz
  std::vector<int32_t> rowind;  // nnz 0-based rows
  std::vector<double> values;   // nnz values

  CcsRecord() = default;
  CcsRecord(int32_t order, int32_t nnz)
      : n(order),
        colptr(static_cast<size_t>(order) + 1, 0),
        rowind(static_cast<size_t>(nnz)),
        values(static_cast<size_t>(nnz)) {}

  int32_t nnz() const { return colptr.empty() ? 0 : colptr[static_cast<size_t>(n)]; }
};

}  // namespace orv
