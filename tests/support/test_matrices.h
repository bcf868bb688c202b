// Test and benchmark matrices: a Matrix Market reader, generated SPD matrices and dense helpers.
#pragma once

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "sparse/ccs_record.h"
#include "test_support.h"

namespace orv::test {

// Reads a coordinate real or integer symmetric Matrix Market file into the lower triangle
// (duplicates summed, explicit zeros kept). Throws std::runtime_error on a malformed file.
CcsRecord readMatrixMarket(const std::string& path);

// Stiffness of the generated building frame (6 DOFs per node, fixed base).
CcsRecord buildingFrameStiffness(int32_t storeys, int32_t baysX, int32_t baysY);

// Lower triangle from (row, column, value) records; entries with row < column are moved to the
// lower triangle unless keepUpper is set, duplicates summed.
CcsRecord fromTriplets(int32_t n, const std::vector<std::tuple<int32_t, int32_t, double>>& entries,
                       bool keepUpper = false);

// 7-point Laplacian of an nx × ny × nz grid plus shift on the diagonal.
CcsRecord gridLaplacian(int32_t nx, int32_t ny, int32_t nz, double shift);

// Elasticity-like matrix of an nx × ny × nz grid of hexahedral cells, 3 unknowns per node: each
// cell adds B Bᵀ for a random 24 × 18 B (seeded), and the diagonal gets a small shift, so the
// pattern is that of trilinear solid elements and the matrix is SPD.
CcsRecord solidGrid(int32_t nx, int32_t ny, int32_t nz, uint32_t seed);

// Random sparse SPD matrix: about `degree` random off-diagonal entries per column in [-1, 1], the
// diagonal the absolute row sum times (1 + margin) plus margin.
CcsRecord randomSpd(int32_t n, int32_t degree, double margin, uint32_t seed);

// The full symmetric matrix as a dense column-major n × n array.
std::vector<double> toDense(const CcsRecord& a);

}  // namespace orv::test
