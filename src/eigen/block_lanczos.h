// Thick-restart block Lanczos with full reorthogonalisation for the largest eigenpairs of a
// symmetric operator that is applied to a block of vectors at once.
#pragma once

#include <cstdint>

namespace orv {

// A symmetric operator S of order rows(): apply(X, Y, columns) sets Y = S X for `columns`
// column-major columns of rows() doubles (X and Y distinct), leaving X unchanged.
class BlockOperator {
 public:
  virtual ~BlockOperator() = default;
  virtual int32_t rows() const = 0;
  virtual void apply(const double* X, double* Y, int32_t columns) = 0;
};

// Sizes of one search: `block` vectors per operator application and a basis of `basis` vectors
// (a multiple of block) before each restart, plus the block that extends it.
struct BlockLanczosShape {
  int32_t block = 0;
  int32_t basis = 0;
};

// The shape for nev eigenpairs of an operator of order n: blocks of nev / 5 vectors, at least 4
// and at most 8 (wider blocks read the factor less often per vector but need more vectors: with
// the factor's sweeps of a few columns, 8 was fastest from 50 to 200 pairs, 4 for 20); a
// basis of 2 nev + min(nev, 64) + block vectors, rounded up to whole blocks and capped by n.
// block 0 when n is too small for a block search of nev pairs.
BlockLanczosShape blockLanczosShape(int32_t nev, int32_t n);

// Doubles the search keeps besides its results: the basis, work blocks and projected matrices.
uint64_t blockLanczosWorkDoubles(const BlockLanczosShape& shape, int32_t n);

// The nev algebraically largest eigenvalues μ of op, descending, into values[0 .. nev-1] and,
// when vectors is not null, their unit, mutually orthogonal eigenvectors into its columns (n x
// nev). Each pair meets |S u − μ u| <= ε max(ε^(2/3), |μ|), ε the machine precision, as estimated
// from the Lanczos relation. The starting block is the same in every run.
//
// Returns nev when every pair converged within the restart limit, otherwise 0 with values and
// vectors unspecified. sweptVectors, when not null, is increased by the number of vectors the
// operator was applied to. std::bad_alloc and the operator's exceptions pass through.
int32_t blockLanczos(BlockOperator& op, int32_t nev, const BlockLanczosShape& shape, double* values,
                     double* vectors, int64_t* sweptVectors);

}  // namespace orv
