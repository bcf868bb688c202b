// Internal: the arrays of a numeric supernodal factor and the sweeps over them.
#pragma once

#include <cstdint>
#include <vector>

#include "factor/narrow.h"

namespace orv {

// Supernode k owns columns super[k] .. super[k+1]-1; its rows are s[pi[k] .. pi[k+1]-1], the own
// columns first; its values are a dense column-major block at x + px[k] with leading dimension
// pi[k+1]-pi[k]. Supernodes in ascending order come children before parents. split, when not
// null, divides the supernodes for sweeps on two threads.
struct TreeSplit;

struct SupernodalView {
  int64_t n = 0;
  int64_t nsuper = 0;
  const int64_t* super = nullptr;
  const int64_t* pi = nullptr;
  const int64_t* px = nullptr;
  const int64_t* s = nullptr;
  const double* x = nullptr;
  int64_t valueCount = 0;     // entries of x
  int64_t maxUpdateRows = 0;  // largest pi[k+1]-pi[k] - (super[k+1]-super[k])
  const TreeSplit* split = nullptr;
};

// Supernodes in two groups of whole subtrees with about equal entries of L (at most 60 % in
// either), and the rest (`top`, the ancestors the groups have in common), each list ascending.
// topSlot numbers the columns of the top supernodes 0 .. topColumns-1 and holds -1 for the others.
// All empty when the tree has no such split: over 80 % of its entries in the common ancestors, or
// one chain.
struct TreeSplit {
  std::vector<int64_t> group[2];
  std::vector<int64_t> top;
  std::vector<int32_t> topSlot;
  int32_t topColumns = 0;
};
TreeSplit splitTree(const SupernodalView& f);

// Blocks of up to kNarrowColumns columns on a factor of at least kNarrowEntries entries, and
// single columns on any factor, are swept with the products of narrow.h instead of BLAS.
constexpr int kNarrowColumns = 16;
constexpr int64_t kNarrowEntries = int64_t{1} << 21;
// Diagonal blocks are solved in panels of this many columns: a small triangle, then a product.
constexpr int kNarrowPanel = 16;

// Blocks of at least kSplitColumns columns whose columns times the entries of L reach kSplitWork
// are split between two threads; below that a second thread costs more than it saves (measured
// on two cores: on a factor of 360 MB, 8 and 12 columns sweep 1.2 to 1.5 times faster as two
// halves, 4 columns no faster, 2 columns slower).
constexpr int kSplitColumns = 8;
constexpr int64_t kSplitWork = int64_t{1} << 22;

// Solves over whole blocks of leading dimension n. solveForward: L Y = B, B used as work.
// solveBackward: Lᵀ X = Y. solveBoth: L Lᵀ X = B, B left holding L⁻¹B. T holds
// maxUpdateRows * nrhs doubles.
void solveForward(const SupernodalView& f, double* y, double* b, double* t, int nrhs);
void solveBackward(const SupernodalView& f, double* x, const double* y, double* t, int nrhs);
void solveBoth(const SupernodalView& f, double* x, double* b, double* t, int nrhs);

}  // namespace orv
