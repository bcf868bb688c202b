// Matrices of the factorisation benchmarks: real matrices read into the lower triangle and a
// generated elasticity-like solid of any size.
#pragma once

#include <cstdint>
#include <string>

#include "sparse/ccs_record.h"

namespace orv::bench {

// The lower triangle of a symmetric Matrix Market file of the real matrices folder, by its name
// there (duplicates summed, explicit zeros kept).
CcsRecord readMatrix(const std::string& name);

// Elasticity-like matrix of an nx × ny × nz grid of hexahedral cells, 3 unknowns per node: each
// cell adds B Bᵀ for a random 24 × 18 B (seeded), and the diagonal gets a small shift, so the
// pattern is that of trilinear solid elements and the matrix is SPD.
CcsRecord solidGrid(int32_t nx, int32_t ny, int32_t nz, uint32_t seed);

}  // namespace orv::bench
