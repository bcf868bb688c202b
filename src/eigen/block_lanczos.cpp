// The search keeps the block Krylov–Schur relation S V = V H + Vnext Bnext: V holds k orthonormal
// columns, H (k x k) their projection, Vnext the block that extends them and Bnext its coupling.
// Each step applies S to Vnext, orthogonalises the result against the blocks it couples to and
// then against everything (classical block Gram–Schmidt, on two threads, with the products that
// stream the basis once) and takes its orthonormal remainder as the next block. When
// the basis is full, the Ritz pairs of H give the estimates |Bnext y|; the leading pairs with the
// last block restart the search.
#include "eigen/block_lanczos.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>
#include <thread>
#include <vector>

#include "eigen/lapack.h"
#include "factor/blas.h"
#include "factor/narrow.h"
#include "factor/work_buffer.h"

namespace orv {

namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();
// A column that keeps less than this share of its norm through a reorthogonalisation pass lay
// numerically inside the basis already (the criterion ARPACK applies to its single vectors).
constexpr double kKeptShare = 0.717;
constexpr int kMaxRestarts = 300;
// Rows per slice when the basis is rotated into Ritz vectors in place, and per slice of the
// projections: the slice of the basis stays in cache while the block is multiplied with it.
constexpr size_t kSliceRows = 256;
// Fewer rows than this are projected on one thread: a thread costs tens of microseconds, the
// projection of a thousand rows against a basis of a hundred about as much.
constexpr size_t kSplitRows = 1024;

double dot(const double* x, const double* y, size_t n) {
  double sum = 0.0;
  for (size_t i = 0; i < n; ++i) sum += x[i] * y[i];
  return sum;
}

double norm(const double* x, size_t n) { return std::sqrt(dot(x, x, n)); }

// Runs work(firstRow, endRow, half) over rows 0 .. rows-1 as two halves on two threads when there
// are many, in one piece (half 0) otherwise.
template <class Work>
void overRowHalves(size_t rows, const Work& work) {
  if (rows >= kSplitRows && std::thread::hardware_concurrency() > 1) {
    const size_t half = rows / 2;
    try {
      std::thread helper([&] { work(0, half, 0); });
      work(half, rows, 1);
      helper.join();
      return;
    } catch (const std::system_error&) {
      // No thread to be had: do it all here.
    }
  }
  work(0, rows, 0);
}

class Search {
 public:
  Search(BlockOperator& op, int32_t nev, const BlockLanczosShape& shape)
      : op_(op),
        n_(static_cast<size_t>(op.rows())),
        nev_(nev),
        b_(shape.block),
        m_(shape.basis),
        ldh_(shape.basis + shape.block),
        V_(n_ * static_cast<size_t>(ldh_)),
        W_(n_ * static_cast<size_t>(b_)),
        H_(static_cast<size_t>(ldh_) * static_cast<size_t>(ldh_)) {}

  int32_t run(double* values, double* vectors, int64_t* swept) {
    dlarnvColumns(V_.get(), b_);
    orthonormalise(V_.get(), 0, nullptr);
    for (int restarts = 0; restarts <= kMaxRestarts; ++restarts) {
      while (k_ < m_) {
        extend(swept);
        // After the first restart the last pairs often converge before the basis is full.
        if (restarts > 0 && k_ < m_ && rayleighRitz() && converged()) {
          finish(values, vectors);
          return nev_;
        }
      }
      if (!rayleighRitz()) return 0;
      if (converged()) {
        finish(values, vectors);
        return nev_;
      }
      restart();
    }
    return 0;
  }

 private:
  double* column(int32_t j) { return V_.get() + static_cast<size_t>(j) * n_; }
  double& h(int32_t i, int32_t j) {
    return H_[static_cast<size_t>(i) + static_cast<size_t>(j) * static_cast<size_t>(ldh_)];
  }

  void dlarnvColumns(double* x, int32_t count) {
    const int uniform = 2;
    const int length = static_cast<int>(n_);
    for (int32_t j = 0; j < count; ++j) dlarnv_(&uniform, seed_, &length, x + j * n_);
  }

  // X -= V(:, from:c) (V(:, from:c)ᵀ X) for `count` columns; the coefficients are added to rows
  // from..c-1 of G (c x count).
  void project(double* X, int32_t count, int32_t from, int32_t c, double* G) {
    const int width = c - from;
    if (width <= 0) return;
    const double* v = column(from);
    const int ld = static_cast<int>(n_);
    const size_t size = static_cast<size_t>(width) * static_cast<size_t>(count);
    for (std::vector<double>& part : partial_) part.assign(size, 0.0);
    overRowHalves(n_, [&](size_t first, size_t end, int half) {
      for (size_t r = first; r < end; r += kSliceRows) {
        const int rows = static_cast<int>(std::min(kSliceRows, end - r));
        products_.transposed(rows, width, count, v + r, ld, X + r, ld,
                             partial_[static_cast<size_t>(half)].data(), width);
      }
    });
    coefficients_.resize(size);
    for (size_t i = 0; i < size; ++i) coefficients_[i] = -(partial_[0][i] + partial_[1][i]);
    overRowHalves(n_, [&](size_t first, size_t end, int) {
      for (size_t r = first; r < end; r += kSliceRows) {
        const int rows = static_cast<int>(std::min(kSliceRows, end - r));
        products_.product(rows, width, count, v + r, ld, coefficients_.data(), width, X + r, ld);
      }
    });
    for (int32_t j = 0; j < count; ++j) {
      for (int i = 0; i < width; ++i) {
        G[static_cast<size_t>(from + i) + static_cast<size_t>(j) * static_cast<size_t>(c)] +=
            coefficients_[static_cast<size_t>(i) +
                          static_cast<size_t>(j) * static_cast<size_t>(width)];
      }
    }
  }

  // Turns the b columns of X, already orthogonal to the first c basis columns, into basis columns
  // c .. c+b-1 and their triangular coefficients R (b x b, X = V(:, c:c+b) R). A column that is
  // numerically dependent gets coefficient 0 on the diagonal and a random direction orthogonal
  // to everything before it, so that the basis stays whole. shrunk[i] marks a column that already
  // lost its last reorthogonalisation pass. R and G, where coefficients against the first c
  // columns are added (c x b), may be null.
  void orthonormalise(double* X, int32_t c, double* R, double* G = nullptr,
                      const std::vector<char>* shrunk = nullptr) {
    for (int32_t i = 0; i < b_; ++i) {
      double* x = X + static_cast<size_t>(i) * n_;
      double* q = column(c + i);
      double* r = R != nullptr ? R + static_cast<size_t>(i) * static_cast<size_t>(b_) : nullptr;
      std::vector<double> inBlock(static_cast<size_t>(c + i), 0.0);
      if (x != q) std::memcpy(q, x, n_ * sizeof(double));
      const double before = norm(q, n_);
      bool lost = before == 0.0 || (shrunk != nullptr && (*shrunk)[static_cast<size_t>(i)] != 0);
      if (!lost) {
        // Against the block's earlier columns, and against all when that took away much.
        projectOne(q, c, i, inBlock.data(), false);
        const double once = norm(q, n_);
        if (once < kKeptShare * before) {
          projectOne(q, c, i, inBlock.data(), true);
          lost = norm(q, n_) < kKeptShare * once;
        }
      }
      if (r != nullptr) {
        for (int32_t j = 0; j < i; ++j) r[j] = inBlock[static_cast<size_t>(c + j)];
        r[i] = 0.0;
      }
      for (int32_t j = 0; G != nullptr && j < c; ++j) {
        G[static_cast<size_t>(j) + static_cast<size_t>(i) * static_cast<size_t>(c)] +=
            inBlock[static_cast<size_t>(j)];
      }
      if (lost) {
        dlarnvColumns(q, 1);
        projectOne(q, c, i, nullptr, true);
        projectOne(q, c, i, nullptr, true);
      } else if (r != nullptr) {
        r[i] = norm(q, n_);
      }
      const double scale = 1.0 / norm(q, n_);
      for (size_t p = 0; p < n_; ++p) q[p] *= scale;
    }
  }

  // Column q = basis column c+i against the block's earlier columns c .. c+i-1, or against all
  // c+i columns; coefficients added to coeff (c+i doubles, indexed by basis column).
  void projectOne(double* q, int32_t c, int32_t i, double* coeff, bool all) {
    const int32_t first = all ? 0 : c;
    for (int32_t j = first; j < c + i; ++j) {
      const double* v = column(j);
      const double a = dot(v, q, n_);
      for (size_t p = 0; p < n_; ++p) q[p] -= a * v[p];
      if (coeff != nullptr) coeff[j] += a;
    }
  }

  // Applies S to the block after the basis and makes the next block from it: k grows by b. In
  // exact arithmetic S V(:, k:k+b) couples only to the block itself, the one before and, right
  // after a restart, the kept Ritz vectors; a pass against those is followed by one against the
  // whole basis for what rounding left, and by a second one where that one took away much (the
  // criterion ARPACK applies to its single vectors).
  void extend(int64_t* swept) {
    const int32_t c = k_ + b_;
    op_.apply(column(k_), W_.get(), b_);
    if (swept != nullptr) *swept += b_;
    std::vector<double> G(static_cast<size_t>(c) * static_cast<size_t>(b_), 0.0);
    project(W_.get(), b_, k_ == restartEnd_ ? locked_ : k_ - b_, c, G.data());
    std::vector<double> before = columnNorms(W_.get());
    project(W_.get(), b_, 0, c, G.data());
    std::vector<double> once = columnNorms(W_.get());
    std::vector<char> shrunk(static_cast<size_t>(b_), 0);
    bool again = false;
    for (size_t i = 0; i < once.size(); ++i) again |= once[i] < kKeptShare * before[i];
    if (again) {
      project(W_.get(), b_, 0, c, G.data());
      const std::vector<double> twice = columnNorms(W_.get());
      for (size_t i = 0; i < twice.size(); ++i) shrunk[i] = twice[i] < kKeptShare * once[i] ? 1 : 0;
    }
    std::vector<double> R(static_cast<size_t>(b_) * static_cast<size_t>(b_), 0.0);
    orthonormalise(W_.get(), c, R.data(), G.data(), &shrunk);
    // H keeps its lower triangle: the new block's rows below the earlier columns already hold the
    // couplings their own orthogonalisation produced, the diagonal block is symmetrised.
    for (int32_t j = 0; j < b_; ++j) {
      for (int32_t i = j; i < b_; ++i) {
        const double a = G[static_cast<size_t>(k_ + i) + static_cast<size_t>(j) * c];
        const double t = G[static_cast<size_t>(k_ + j) + static_cast<size_t>(i) * c];
        h(k_ + i, k_ + j) = h(k_ + j, k_ + i) = 0.5 * (a + t);
      }
      for (int32_t i = 0; i < b_; ++i) {
        h(c + i, k_ + j) = i <= j ? R[static_cast<size_t>(i) + static_cast<size_t>(j) * b_] : 0.0;
      }
    }
    k_ = c;
  }

  std::vector<double> columnNorms(const double* X) const {
    std::vector<double> norms(static_cast<size_t>(b_));
    for (int32_t i = 0; i < b_; ++i) norms[static_cast<size_t>(i)] = norm(X + i * n_, n_);
    return norms;
  }

  // Ritz pairs of the active part H(locked:k, locked:k), ascending in theta_ and Y_, their
  // estimates in E_ (b x active), and the nev largest of them and the locked pairs in wanted_.
  bool rayleighRitz() {
    const int a = k_ - locked_;
    Y_.assign(static_cast<size_t>(a) * static_cast<size_t>(a), 0.0);
    for (int j = 0; j < a; ++j) {
      for (int i = j; i < a; ++i) {
        Y_[static_cast<size_t>(i) + static_cast<size_t>(j) * a] = h(locked_ + i, locked_ + j);
      }
    }
    theta_.assign(static_cast<size_t>(a), 0.0);
    int lwork = -1;
    int liwork = -1;
    int info = 0;
    double workSize = 0.0;
    int iworkSize = 0;
    dsyevd_("V", "L", &a, Y_.data(), &a, theta_.data(), &workSize, &lwork, &iworkSize, &liwork,
            &info, 1, 1);
    if (info != 0) return false;
    lwork = static_cast<int>(workSize);
    liwork = iworkSize;
    std::vector<double> work(static_cast<size_t>(lwork));
    std::vector<int> iwork(static_cast<size_t>(liwork));
    dsyevd_("V", "L", &a, Y_.data(), &a, theta_.data(), work.data(), &lwork, iwork.data(), &liwork,
            &info, 1, 1);
    if (info != 0) return false;
    E_.assign(static_cast<size_t>(b_) * static_cast<size_t>(a), 0.0);
    const double one = 1.0;
    const double zero = 0.0;
    dgemm_("N", "N", &b_, &a, &a, &one, &h(k_, locked_), &ldh_, Y_.data(), &a, &zero, E_.data(),
           &b_);
    if (!std::all_of(theta_.begin(), theta_.end(), [](double t) { return std::isfinite(t); })) {
      return false;
    }
    // Both lists descend: merge their heads.
    wanted_.clear();
    int32_t l = 0;
    int32_t r = a - 1;
    while (static_cast<int32_t>(wanted_.size()) < nev_ && (l < locked_ || r >= 0)) {
      const int32_t j = l < locked_ ? lockedOrder_[static_cast<size_t>(l)] : 0;
      const bool takeLocked = l < locked_ && (r < 0 || lockedTheta_[static_cast<size_t>(j)] >=
                                                           theta_[static_cast<size_t>(r)]);
      if (takeLocked) ++l;
      wanted_.push_back(takeLocked ? -1 - j : r--);
    }
    return static_cast<int32_t>(wanted_.size()) == nev_;
  }

  // Whether active Ritz pair i meets the tolerance.
  bool convergedPair(int32_t i) const {
    const double floor = std::pow(kEps, 2.0 / 3.0);
    const double estimate = norm(E_.data() + static_cast<size_t>(i) * b_, static_cast<size_t>(b_));
    return estimate <= kEps * std::max(floor, std::fabs(theta_[static_cast<size_t>(i)]));
  }

  bool converged() const {
    return std::all_of(wanted_.begin(), wanted_.end(),
                       [this](int32_t w) { return w < 0 || convergedPair(w); });
  }

  // out(:, 0:count) = V(:, first:first+k) Ysel, Ysel k x count; out may be V(:, first) itself.
  void rotate(int32_t first, int k, const double* Ysel, int32_t count, double* out) {
    const int ld = static_cast<int>(n_);
    const double one = 1.0;
    const double zero = 0.0;
    std::vector<double> slice(kSliceRows * static_cast<size_t>(count));
    for (size_t r0 = 0; r0 < n_; r0 += kSliceRows) {
      const int rows = static_cast<int>(std::min(kSliceRows, n_ - r0));
      dgemm_("N", "N", &rows, &count, &k, &one, column(first) + r0, &ld, Ysel, &k, &zero,
             slice.data(), &rows);
      for (int32_t j = 0; j < count; ++j) {
        std::memcpy(out + static_cast<size_t>(j) * n_ + r0,
                    slice.data() + static_cast<size_t>(j) * rows,
                    static_cast<size_t>(rows) * sizeof(double));
      }
    }
  }

  // Thick restart: the locked pairs, the leading active Ritz vectors, then the last block. The
  // wanted pairs that converged are locked and leave the Rayleigh–Ritz step: their couplings are
  // below the tolerance, and left in, the rounding of later eigen-decompositions would mix them
  // with close unconverged pairs (the estimates of small μ would then never reach ε |μ|).
  void restart() {
    const int32_t a = k_ - locked_;
    const int32_t keepActive = std::min(a, keepCount() - locked_);
    std::vector<int32_t> order;
    for (int32_t w : wanted_) {
      if (w >= 0 && convergedPair(w)) order.push_back(w);
    }
    const auto newlyLocked = static_cast<int32_t>(order.size());
    for (int32_t i = a - 1; i >= a - keepActive; --i) {
      if (std::find(order.begin(), order.end(), i) == order.end()) order.push_back(i);
    }
    const auto kept = static_cast<int32_t>(order.size());
    std::vector<double> Ysel(static_cast<size_t>(a) * static_cast<size_t>(kept));
    for (int32_t j = 0; j < kept; ++j) {
      std::memcpy(Ysel.data() + static_cast<size_t>(j) * a,
                  Y_.data() + static_cast<size_t>(order[static_cast<size_t>(j)]) * a,
                  static_cast<size_t>(a) * sizeof(double));
    }
    rotate(locked_, a, Ysel.data(), kept, column(locked_));
    const int32_t keep = locked_ + kept;
    std::memcpy(column(keep), column(k_), n_ * static_cast<size_t>(b_) * sizeof(double));
    std::fill(H_.begin(), H_.end(), 0.0);
    for (int32_t j = 0; j < kept; ++j) {
      const auto i = static_cast<size_t>(order[static_cast<size_t>(j)]);
      if (j < newlyLocked) {
        lockedTheta_.push_back(theta_[i]);
        continue;
      }
      const int32_t col = locked_ + j;
      h(col, col) = theta_[i];
      for (int32_t r = 0; r < b_; ++r) h(keep + r, col) = E_[static_cast<size_t>(r) + i * b_];
    }
    locked_ += newlyLocked;
    k_ = keep;
    restartEnd_ = keep;
    sortLocked();
  }

  // The locked pairs by descending μ, as the merge in rayleighRitz takes them.
  void sortLocked() {
    lockedOrder_.resize(static_cast<size_t>(locked_));
    for (int32_t j = 0; j < locked_; ++j) lockedOrder_[static_cast<size_t>(j)] = j;
    std::stable_sort(lockedOrder_.begin(), lockedOrder_.end(), [this](int32_t x, int32_t y) {
      return lockedTheta_[static_cast<size_t>(x)] > lockedTheta_[static_cast<size_t>(y)];
    });
  }

  // About half the room beyond the wanted pairs stays, rounded so that whole blocks fill the
  // basis again.
  int32_t keepCount() const {
    const int32_t target = nev_ + (m_ - nev_ - b_) / 2;
    return m_ - (m_ - target) / b_ * b_;
  }

  // The wanted pairs, locked ones first, each set in any order.
  void finish(double* values, double* vectors) {
    std::vector<int32_t> active;
    int32_t next = 0;
    for (int32_t w : wanted_) {
      if (w >= 0) {
        active.push_back(w);
        continue;
      }
      const int32_t j = -1 - w;
      values[next] = lockedTheta_[static_cast<size_t>(j)];
      if (vectors != nullptr) {
        std::memcpy(vectors + static_cast<size_t>(next) * n_, column(j), n_ * sizeof(double));
      }
      ++next;
    }
    const int32_t a = k_ - locked_;
    const auto count = static_cast<int32_t>(active.size());
    std::vector<double> Ysel(static_cast<size_t>(a) * static_cast<size_t>(count));
    for (int32_t j = 0; j < count; ++j) {
      const auto i = static_cast<size_t>(active[static_cast<size_t>(j)]);
      values[next + j] = theta_[i];
      std::memcpy(Ysel.data() + static_cast<size_t>(j) * a, Y_.data() + i * a,
                  static_cast<size_t>(a) * sizeof(double));
    }
    if (vectors != nullptr && count > 0) {
      rotate(locked_, a, Ysel.data(), count, vectors + static_cast<size_t>(next) * n_);
    }
  }

  BlockOperator& op_;
  size_t n_;
  int32_t nev_;
  int b_;
  int32_t m_;
  int ldh_;
  int32_t k_ = 0;
  int32_t locked_ = 0;      // leading basis columns that are converged Ritz vectors
  int32_t restartEnd_ = 0;  // k right after the last restart
  std::vector<double> lockedTheta_;
  std::vector<int32_t> lockedOrder_;
  std::vector<int32_t> wanted_;  // active index, or -1 - locked index
  WorkBuffer V_;                 // the basis and the block after it, uninitialised until written
  WorkBuffer W_;
  std::vector<double> H_;
  std::vector<double> Y_, theta_, E_, coefficients_;
  std::vector<double> partial_[2];  // the coefficients summed over each half of the rows
  NarrowProducts products_ = narrowProducts(true);
  int seed_[4] = {1, 3, 5, 7};
};

}  // namespace

BlockLanczosShape blockLanczosShape(int32_t nev, int32_t n) {
  BlockLanczosShape shape;
  shape.block = std::clamp(nev / 5, 4, 8);
  const int32_t b = shape.block;
  // Room for min(nev, 64) pairs beyond the wanted ones and their buffer: fewer restarts for few
  // pairs, where the basis is small anyway.
  shape.basis = (2 * nev + std::min(nev, 64) + b + b - 1) / b * b;
  if (shape.basis + b > n) shape.basis = (n - b) / b * b;
  if (nev < 1 || shape.basis < nev + 2 * b) return {};
  return shape;
}

uint64_t blockLanczosWorkDoubles(const BlockLanczosShape& shape, int32_t n) {
  const auto columns = static_cast<uint64_t>(shape.basis + shape.block);
  return static_cast<uint64_t>(n) * (columns + static_cast<uint64_t>(shape.block)) +
         6 * columns * columns + kSliceRows * columns;
}

int32_t blockLanczos(BlockOperator& op, int32_t nev, const BlockLanczosShape& shape, double* values,
                     double* vectors, int64_t* sweptVectors) {
  if (shape.block < 1 || nev < 1 || shape.basis < nev + 2 * shape.block ||
      shape.basis + shape.block > op.rows()) {
    return 0;
  }
  Search search(op, nev, shape);
  return search.run(values, vectors, sweptVectors);
}

}  // namespace orv
