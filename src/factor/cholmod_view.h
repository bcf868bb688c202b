// CHOLMOD's view of a compressed-column record: 64-bit copies of the indices, the values shared.
// CHOLMOD only reads the matrix through it, so the record must outlive the view.
#pragma once

#include <cholmod.h>

#include <vector>

#include "sparse/ccs_record.h"

namespace orv {

struct CholmodSparseView {
  std::vector<SuiteSparse_long> colptr;
  std::vector<SuiteSparse_long> rowind;
  cholmod_sparse matrix{};

  explicit CholmodSparseView(const CcsRecord& a)
      : colptr(a.colptr.begin(), a.colptr.end()), rowind(a.rowind.begin(), a.rowind.end()) {
    matrix.nrow = static_cast<size_t>(a.n);
    matrix.ncol = static_cast<size_t>(a.n);
    matrix.nzmax = rowind.size();
    matrix.p = colptr.data();
    matrix.i = rowind.data();
    matrix.x = const_cast<double*>(a.values.data());
    matrix.stype = -1;
    matrix.itype = CHOLMOD_LONG;
    matrix.xtype = CHOLMOD_REAL;
    matrix.dtype = CHOLMOD_DOUBLE;
    matrix.sorted = 1;
    matrix.packed = 1;
  }
};

}  // namespace orv
