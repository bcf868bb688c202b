// The library's compressed-column record of a test matrix, for tests of the internal parts.
#pragma once

#include "dense.h"
#include "sparse/ccs_record.h"

namespace orv::test {

// The lower triangle of a, columns in order and rows sorted, duplicates summed.
inline CcsRecord toRecord(const Lower& a) {
  CcsRecord r(a.n, 0);
  for (const models::Triplet& t : models::sumDuplicates(a.entries)) {
    r.rowind.push_back(t.row);
    r.values.push_back(t.value);
    ++r.colptr[t.col + 1];
  }
  for (int32_t j = 0; j < a.n; ++j) r.colptr[j + 1] += r.colptr[j];
  return r;
}

}  // namespace orv::test
