// Triangular solves with the supernodal factor: all columns of a block together, one supernode
// at a time; up to kNarrowColumns columns with the products of narrow.cpp, wider blocks with
// level-3 BLAS.
#include "supernodal.h"

#include <algorithm>
#include <system_error>
#include <thread>

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

// L11 Y = B in place and the update of the rows below, for a few columns.
void forwardNarrow(const Block& s, double* b, double* t, int nrhs, int ld) {
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
  for (int c = 0; c < nrhs; ++c) {
    double* column = b + static_cast<int64_t>(c) * ld;
    const double* update = t + static_cast<int64_t>(c) * s.u;
    for (int i = 0; i < s.u; ++i) column[s.rows[s.m + i]] += update[i];
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

bool narrow(int nrhs) { return nrhs <= kNarrowColumns; }

}  // namespace

void forwardSweep(const SupernodalView& f, double* b, double* y, double* t, int nrhs, int ld) {
  for (int64_t k = 0; k < f.nsuper; ++k) {
    const Block s = block(f, k);
    double* own = b + s.first;
    // The own rows are contiguous, so the diagonal solve runs in place in B.
    if (narrow(nrhs)) {
      forwardNarrow(s, b, t, nrhs, ld);
    } else {
      dtrsm_(&kL, &kL, &kN, &kN, &s.m, &nrhs, &kOne, s.values, &s.ld, own, &ld);
      if (s.u > 0) {
        dgemm_(&kN, &kN, &s.u, &nrhs, &s.m, &kOne, s.values + s.m, &s.ld, own, &ld, &kZero, t,
               &s.u);
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
}

void backwardSweep(const SupernodalView& f, const double* y, double* x, double* t, int nrhs,
                   int ld) {
  for (int64_t k = f.nsuper - 1; k >= 0; --k) {
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
    if (narrow(nrhs)) {
      backwardNarrow(s, x, t, nrhs, ld);
    } else {
      if (s.u > 0) {
        dgemm_(&kT, &kN, &s.m, &nrhs, &s.u, &kMinusOne, s.values + s.m, &s.ld, t, &s.u, &kOne, own,
               &ld);
      }
      dtrsm_(&kL, &kL, &kT, &kN, &s.m, &nrhs, &kOne, s.values, &s.ld, own, &ld);
    }
  }
}

namespace {

// OpenBLAS's thread count, read only: it is a setting of the whole process, and changing it
// while another thread's BLAS call runs corrupts that call's result. Other BLAS libraries lack
// the symbol and count as single-threaded.
extern "C" int openblas_get_num_threads() __attribute__((weak));

int blasThreads() { return openblas_get_num_threads != nullptr ? openblas_get_num_threads() : 1; }

// Runs work(firstColumn, columns, scratch) over the block, split in two column halves on two
// threads when the block is wide enough and the halves call no BLAS that already uses the cores
// itself (two solving threads each running a threaded BLAS oversubscribe the cores: 3.4 times
// slower for 100 columns on two cores). Each half gets its own part of T.
template <class Work>
void splitColumns(const SupernodalView& f, int nrhs, double* t, const Work& work) {
  const bool wide = nrhs >= kSplitColumns && f.valueCount * nrhs >= kSplitWork;
  const int half = nrhs / 2;
  if (wide && std::thread::hardware_concurrency() > 1 &&
      (narrow(nrhs - half) || blasThreads() <= 1)) {
    try {
      std::thread helper([&] { work(0, half, t); });
      work(half, nrhs - half, t + f.maxUpdateRows * half);
      helper.join();
      return;
    } catch (const std::system_error&) {
      // No thread to be had: fall through and do the whole block here.
    }
  }
  work(0, nrhs, t);
}

}  // namespace

void solveForward(const SupernodalView& f, double* y, double* b, double* t, int nrhs) {
  const int ld = static_cast<int>(f.n);
  splitColumns(f, nrhs, t, [&](int first, int columns, double* scratch) {
    const int64_t offset = static_cast<int64_t>(first) * ld;
    forwardSweep(f, b + offset, y + offset, scratch, columns, ld);
  });
}

void solveBackward(const SupernodalView& f, double* x, const double* y, double* t, int nrhs) {
  const int ld = static_cast<int>(f.n);
  splitColumns(f, nrhs, t, [&](int first, int columns, double* scratch) {
    const int64_t offset = static_cast<int64_t>(first) * ld;
    backwardSweep(f, y + offset, x + offset, scratch, columns, ld);
  });
}

void solveBoth(const SupernodalView& f, double* x, double* b, double* t, int nrhs) {
  const int ld = static_cast<int>(f.n);
  splitColumns(f, nrhs, t, [&](int first, int columns, double* scratch) {
    const int64_t offset = static_cast<int64_t>(first) * ld;
    forwardSweep(f, b + offset, b + offset, scratch, columns, ld);
    backwardSweep(f, b + offset, x + offset, scratch, columns, ld);
  });
}

}  // namespace orv
