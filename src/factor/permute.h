// Symmetric permutation of a compressed-column record and of vectors.
#pragma once

#include <cstdint>
#include <vector>

#include "sparse/ccs_record.h"

namespace orv {

// The lower triangle of P A Pᵀ: B(invPerm[i], invPerm[j]) = A(i, j), rows ascending in every
// column. An entry stored above the diagonal is mirrored into the lower triangle; when A holds
// both (i, j) and (j, i), the two values are summed into one entry, as the symmetric product
// treats them. invPerm must be a permutation of 0 .. a.n-1.
// Throws std::bad_alloc when memory runs out.
CcsRecord permuteSymmetric(const CcsRecord& a, const std::vector<int32_t>& invPerm);

// dst[invPerm[i]] = src[i] for i = 0 .. n-1: original order to factored order.
void scatterByPerm(int32_t n, const double* src, double* dst, const int32_t* invPerm);

// dst[i] = src[invPerm[i]] for i = 0 .. n-1: factored order back to original order.
void gatherByPerm(int32_t n, const double* src, double* dst, const int32_t* invPerm);

}  // namespace orv
