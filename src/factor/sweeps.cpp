// Triangular solves with the supernodal factor: all columns of a block together, one supernode
// at a time; up to kNarrowColumns columns with the products of narrow.cpp, wider blocks with
// level-3 BLAS.
#include "supernodal.h"

#include <algorithm>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "blas.h"

namespace orv {
namespace {

const char kN = 'N';
const char kT = 'T';
const char kL = 'L';
const double kOne = 1.0;
const double kMinusOne = -1.0;
const double kZero = 0.0;

struct Block {
  int first;  // first own column
  int m;      // own columns
  int u;      // update rows below them
  int ld;     // leading dimension of the value block
  const int64_t* rows;
  const double* values;
};

Block block(const SupernodalView& f, int64_t k) {
  Block b;
  b.first = static_cast<int>(f.super[k]);
  b.m = static_cast<int>(f.super[k + 1] - f.super[k]);
  b.ld = static_cast<int>(f.pi[k + 1] - f.pi[k]);
  b.u = b.ld - b.m;
  b.rows = f.s + f.pi[k];
  b.values = f.x + f.px[k];
  return b;
}

const NarrowProducts& products() {
  static const NarrowProducts chosen = narrowProducts(true);
  return chosen;
}

// Where a supernode's updates of the rows below it go: into B, but for the rows of the top
// supernodes (slot >= 0) into a buffer of their own (topColumns x nrhs) while the other thread
// works below them too.
struct Scatter {
  const int32_t* slot = nullptr;
  double* top = nullptr;
  int32_t topColumns = 0;
};

// L11 Y = B in place and the update of the rows below, for a few columns.
void forwardNarrow(const Block& s, double* b, double* t, int nrhs, int ld, const Scatter& scatter) {
  double* own = b + s.first;
  for (int j0 = 0; j0 < s.m; j0 += kNarrowPanel) {
    const int jb = std::min(kNarrowPanel, s.m - j0);
    const double* panel = s.values + static_cast<int64_t>(j0) * s.ld + j0;
    for (int c = 0; c < nrhs; ++c) {
      double* x = own + static_cast<int64_t>(c) * ld + j0;
      for (int j = 0; j < jb; ++j) {
        const double* l = panel + static_cast<int64_t>(j) * s.ld;
        const double xj = x[j] / l[j];
        x[j] = xj;
        for (int i = j + 1; i < jb; ++i) x[i] -= l[i] * xj;
      }
    }
    products().product(s.m - j0 - jb, jb, nrhs, panel + jb, s.ld, own + j0, ld, own + j0 + jb, ld);
  }
  if (s.u == 0) return;
  std::fill(t, t + static_cast<int64_t>(s.u) * nrhs, 0.0);
  products().product(s.u, s.m, nrhs, s.values + s.m, s.ld, own, ld, t, s.u);
  const int64_t* rows = s.rows + s.m;
  for (int c = 0; c < nrhs; ++c) {
    double* column = b + static_cast<int64_t>(c) * ld;
    const double* update = t + static_cast<int64_t>(c) * s.u;
    if (scatter.slot == nullptr) {
      for (int i = 0; i < s.u; ++i) column[rows[i]] += update[i];
      continue;
    }
    double* top = scatter.top + static_cast<int64_t>(c) * scatter.topColumns;
    for (int i = 0; i < s.u; ++i) {
      const int32_t slot = scatter.slot[rows[i]];
      (slot >= 0 ? top[slot] : column[rows[i]]) += update[i];
    }
  }
}

// L11ᵀ X = Y - L21ᵀ X(below) in place, for a few columns; T holds X(below) gathered.
void backwardNarrow(const Block& s, double* x, const double* t, int nrhs, int ld) {
  double* own = x + s.first;
  products().transposed(s.u, s.m, nrhs, s.values + s.m, s.ld, t, s.u, own, ld);
  for (int j0 = (s.m - 1) / kNarrowPanel * kNarrowPanel; j0 >= 0; j0 -= kNarrowPanel) {
    const int jb = std::min(kNarrowPanel, s.m - j0);
    const double* panel = s.values + static_cast<int64_t>(j0) * s.ld + j0;
    products().transposed(s.m - j0 - jb, jb, nrhs, panel + jb, s.ld, own + j0 + jb, ld, own + j0,
                          ld);
    for (int c = 0; c < nrhs; ++c) {
      double* y = own + static_cast<int64_t>(c) * ld + j0;
      for (int j = jb - 1; j >= 0; --j) {
        const double* l = panel + static_cast<int64_t>(j) * s.ld;
        double sum = y[j];
        for (int i = j + 1; i < jb; ++i) sum -= l[i] * y[i];
        y[j] = sum / l[j];
      }
    }
  }
}

// Whether a block of nrhs columns is swept with the products of narrow.cpp: one column always, a
// few when L is too large for the cache, where packing it costs a read of all of it; a factor in
// cache is multiplied faster by BLAS.
bool narrow(const SupernodalView& f, int nrhs) {
  return nrhs == 1 || (nrhs <= kNarrowColumns && f.valueCount >= kNarrowEntries);
}

// Supernode k of L Y = B, solved in place in B and its rows copied into Y when Y differs.
void forwardStep(const SupernodalView& f, int64_t k, double* b, double* y, double* t, int nrhs,
                 int ld, const Scatter& scatter) {
  const Block s = block(f, k);
  double* own = b + s.first;
  // The own rows are contiguous, so the diagonal solve runs in place in B.
  if (narrow(f, nrhs)) {
    forwardNarrow(s, b, t, nrhs, ld, scatter);
  } else {
    dtrsm_(&kL, &kL, &kN, &kN, &s.m, &nrhs, &kOne, s.values, &s.ld, own, &ld);
    if (s.u > 0) {
      dgemm_(&kN, &kN, &s.u, &nrhs, &s.m, &kOne, s.values + s.m, &s.ld, own, &ld, &kZero, t, &s.u);
      for (int c = 0; c < nrhs; ++c) {
        double* column = b + static_cast<int64_t>(c) * ld;
        const double* update = t + static_cast<int64_t>(c) * s.u;
        for (int i = 0; i < s.u; ++i) column[s.rows[s.m + i]] -= update[i];
      }
    }
  }
  if (y != b) {
    for (int c = 0; c < nrhs; ++c) {
      const int64_t offset = static_cast<int64_t>(c) * ld + s.first;
      for (int i = 0; i < s.m; ++i) y[offset + i] = b[offset + i];
    }
  }
}

// Supernode k of Lᵀ X = Y; Y is read only (it may be X).
void backwardStep(const SupernodalView& f, int64_t k, const double* y, double* x, double* t,
                  int nrhs, int ld) {
  const Block s = block(f, k);
  double* own = x + s.first;
  if (y != x) {
    for (int c = 0; c < nrhs; ++c) {
      const int64_t offset = static_cast<int64_t>(c) * ld + s.first;
      for (int i = 0; i < s.m; ++i) x[offset + i] = y[offset + i];
    }
  }
  if (s.u > 0) {
    for (int c = 0; c < nrhs; ++c) {
      const double* column = x + static_cast<int64_t>(c) * ld;
      double* gathered = t + static_cast<int64_t>(c) * s.u;
      for (int i = 0; i < s.u; ++i) gathered[i] = column[s.rows[s.m + i]];
    }
  }
  if (narrow(f, nrhs)) {
    backwardNarrow(s, x, t, nrhs, ld);
  } else {
    if (s.u > 0) {
      dgemm_(&kT, &kN, &s.m, &nrhs, &s.u, &kMinusOne, s.values + s.m, &s.ld, t, &s.u, &kOne, own,
             &ld);
    }
    dtrsm_(&kL, &kL, &kT, &kN, &s.m, &nrhs, &kOne, s.values, &s.ld, own, &ld);
  }
}

// The steps over all supernodes, in ascending order forward and descending backward.
void forwardRange(const SupernodalView& f, double* b, double* y, double* t, int nrhs, int ld) {
  for (int64_t k = 0; k < f.nsuper; ++k) forwardStep(f, k, b, y, t, nrhs, ld, Scatter{});
}

void backwardRange(const SupernodalView& f, const double* y, double* x, double* t, int nrhs,
                   int ld) {
  for (int64_t k = f.nsuper - 1; k >= 0; --k) backwardStep(f, k, y, x, t, nrhs, ld);
}

// OpenBLAS's thread count, read only: it is a setting of the whole process, and changing it
// while another thread's BLAS call runs corrupts that call's result. Other BLAS libraries lack
// the symbol and count as single-threaded.
extern "C" int openblas_get_num_threads() __attribute__((weak));

int blasThreads() { return openblas_get_num_threads != nullptr ? openblas_get_num_threads() : 1; }

bool worthTwoThreads(const SupernodalView& f, int nrhs) {
  return f.valueCount * nrhs >= kSplitWork && std::thread::hardware_concurrency() > 1;
}

// Whether the block is swept by the two groups of the tree split: the tree has them and the
// block is narrow and large enough.
bool treeApplies(const SupernodalView& f, int nrhs) {
  return f.split != nullptr && !f.split->group[0].empty() && narrow(f, nrhs) &&
         worthTwoThreads(f, nrhs);
}

// Runs first() on a helper thread and second() here, or both here when no thread can be had.
template <class First, class Second>
void inParallel(const First& first, const Second& second) {
  try {
    std::thread helper(first);
    second();
    helper.join();
  } catch (const std::system_error&) {
    first();
    second();
  }
}

// work(firstColumn, columns, scratch) for two column halves on two threads, each with its part of
// T; one column is done here.
template <class Work>
void inColumnHalves(const SupernodalView& f, int nrhs, double* t, const Work& work) {
  const int half = nrhs / 2;
  if (half == 0) {
    work(0, nrhs, t);
    return;
  }
  inParallel([&] { work(0, half, t); },
             [&] { work(half, nrhs - half, t + f.maxUpdateRows * half); });
}

// The two groups of the tree split on two threads, then the top in column halves: each thread reads
// its half of L for every column. The second thread's updates of the top rows wait in a buffer of
// their own until both are done. False, having done nothing, when the split does not apply or its
// buffers cannot be had.
bool forwardTree(const SupernodalView& f, double* b, double* y, double* t, int nrhs, int ld) {
  if (!treeApplies(f, nrhs)) return false;
  const TreeSplit* split = f.split;
  std::vector<double> scratch;
  try {
    scratch.assign(
        static_cast<size_t>(f.maxUpdateRows + split->topColumns) * static_cast<size_t>(nrhs), 0.0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  double* top = scratch.data() + f.maxUpdateRows * nrhs;
  const Scatter aside{split->topSlot.data(), top, split->topColumns};
  inParallel(
      [&] {
        for (int64_t k : split->group[1]) forwardStep(f, k, b, y, scratch.data(), nrhs, ld, aside);
      },
      [&] {
        for (int64_t k : split->group[0]) forwardStep(f, k, b, y, t, nrhs, ld, Scatter{});
      });
  for (int64_t k : split->top) {
    for (int64_t column = f.super[k]; column < f.super[k + 1]; ++column) {
      const int32_t slot = split->topSlot[static_cast<size_t>(column)];
      for (int c = 0; c < nrhs; ++c) {
        b[column + static_cast<int64_t>(c) * ld] +=
            top[slot + static_cast<int64_t>(c) * split->topColumns];
      }
    }
  }
  inColumnHalves(f, nrhs, t, [&](int first, int columns, double* part) {
    const int64_t offset = static_cast<int64_t>(first) * ld;
    for (int64_t k : split->top) forwardStep(f, k, b + offset, y + offset, part, columns, ld, {});
  });
  return true;
}

// The top first in column halves, then the two groups on two threads: each reads only rows of
// its own group and of the top, and writes only its own.
bool backwardTree(const SupernodalView& f, const double* y, double* x, double* t, int nrhs,
                  int ld) {
  if (!treeApplies(f, nrhs)) return false;
  const TreeSplit* split = f.split;
  std::vector<double> scratch;
  try {
    scratch.resize(static_cast<size_t>(f.maxUpdateRows) * static_cast<size_t>(nrhs));
  } catch (const std::bad_alloc&) {
    return false;
  }
  inColumnHalves(f, nrhs, t, [&](int first, int columns, double* part) {
    const int64_t offset = static_cast<int64_t>(first) * ld;
    for (auto k = split->top.rbegin(); k != split->top.rend(); ++k) {
      backwardStep(f, *k, y + offset, x + offset, part, columns, ld);
    }
  });
  inParallel(
      [&] {
        for (auto k = split->group[1].rbegin(); k != split->group[1].rend(); ++k) {
          backwardStep(f, *k, y, x, scratch.data(), nrhs, ld);
        }
      },
      [&] {
        for (auto k = split->group[0].rbegin(); k != split->group[0].rend(); ++k) {
          backwardStep(f, *k, y, x, t, nrhs, ld);
        }
      });
  return true;
}

// Runs work(firstColumn, columns, scratch) over the block, split in two column halves on two
// threads when the block is wide enough and the halves call no BLAS that already uses the cores
// itself (two solving threads each running a threaded BLAS oversubscribe the cores: 3.4 times
// slower for 100 columns on two cores). Each half gets its own part of T.
template <class Work>
void splitColumns(const SupernodalView& f, int nrhs, double* t, const Work& work) {
  const int half = nrhs / 2;
  if (nrhs >= kSplitColumns && worthTwoThreads(f, nrhs) &&
      (narrow(f, nrhs - half) || blasThreads() <= 1)) {
    inColumnHalves(f, nrhs, t, work);
    return;
  }
  work(0, nrhs, t);
}

}  // namespace

void solveForward(const SupernodalView& f, double* y, double* b, double* t, int nrhs) {
  const int ld = static_cast<int>(f.n);
  if (forwardTree(f, b, y, t, nrhs, ld)) return;
  splitColumns(f, nrhs, t, [&](int first, int columns, double* scratch) {
    const int64_t offset = static_cast<int64_t>(first) * ld;
    forwardRange(f, b + offset, y + offset, scratch, columns, ld);
  });
}

void solveBackward(const SupernodalView& f, double* x, const double* y, double* t, int nrhs) {
  const int ld = static_cast<int>(f.n);
  if (backwardTree(f, y, x, t, nrhs, ld)) return;
  splitColumns(f, nrhs, t, [&](int first, int columns, double* scratch) {
    const int64_t offset = static_cast<int64_t>(first) * ld;
    backwardRange(f, y + offset, x + offset, scratch, columns, ld);
  });
}

void solveBoth(const SupernodalView& f, double* x, double* b, double* t, int nrhs) {
  if (treeApplies(f, nrhs)) {
    solveForward(f, b, b, t, nrhs);
    solveBackward(f, x, b, t, nrhs);
    return;
  }
  const int ld = static_cast<int>(f.n);
  splitColumns(f, nrhs, t, [&](int first, int columns, double* scratch) {
    const int64_t offset = static_cast<int64_t>(first) * ld;
    forwardRange(f, b + offset, b + offset, scratch, columns, ld);
    backwardRange(f, b + offset, x + offset, scratch, columns, ld);
  });
}

}  // namespace orv
