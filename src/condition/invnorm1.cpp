// Block 1-norm power method for ‖A⁻¹‖₁: N. J. Higham and F. Tisseur, "A block algorithm for
// matrix 1-norm estimation, with an application to 1-norm pseudospectra", SIAM J. Matrix Anal.
// Appl. 21(4), 2000, 1185-1201; with Higham's alternating-sign extra vector for t = 1
// (ACM TOMS 14(4), 1988).
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "condition.h"
#include "log/failure.h"
#include "log/log.h"
#include "windows_rand.h"

extern "C" double dasum_(const int* n, const double* x, const int* incx);

namespace orv {

namespace detail {

namespace {
thread_local uint32_t randState = 1;
}  // namespace

void seedWindowsRand(uint32_t seed) { randState = seed; }

int windowsRand() {
  randState = randState * 214013u + 2531011u;
  return static_cast<int>((randState >> 16) & 0x7FFFu);
}

}  // namespace detail

namespace {

const int kIncrement = 1;

double asum(int32_t n, const double* x) { return dasum_(&n, x, &kIncrement); }

// count vectors of n signs, packed 32 to a word, a set bit meaning -1. In a full word the first
// entry is the most significant bit; in the final partial word of r entries, entry b is bit
// r - 1 - b and the unused high bits are ignored.
class SignBlock {
 public:
  SignBlock(int32_t n, int32_t count)
      : n_(n),
        fullWords_(n / 32),
        remainder_(n % 32),
        words_(fullWords_ + (remainder_ > 0 ? 1 : 0)),
        bits_(static_cast<size_t>(words_) * static_cast<size_t>(count), 0u) {}

  uint32_t* vector(int32_t v) { return bits_.data() + static_cast<size_t>(v) * words_; }
  const uint32_t* vector(int32_t v) const { return bits_.data() + static_cast<size_t>(v) * words_; }

  void copyVector(int32_t to, const SignBlock& from, int32_t v) {
    std::copy_n(from.vector(v), words_, vector(to));
  }

  // Entry i is -1 exactly when x[i] < 0 (so 0, -0 and NaN give +1).
  void fromDoubles(int32_t v, const double* x) {
    uint32_t* w = vector(v);
    std::fill_n(w, words_, 0u);
    for (int32_t i = 0; i < n_; ++i) {
      if (x[i] < 0.0) w[i / 32] |= 1u << bitOf(i);
    }
  }

  void toDoubles(int32_t v, double* x, double scale) const {
    const uint32_t* w = vector(v);
    for (int32_t i = 0; i < n_; ++i) x[i] = ((w[i / 32] >> bitOf(i)) & 1u) ? -scale : scale;
  }

  // Every word, the partial one included, gets (r2 * 2^24 + (r1 & 0xFFF) * 2^12 + (r3 & 0xFFF))
  // mod 2^32 from three successive values of the generator.
  void randomFill(int32_t v) {
    uint32_t* w = vector(v);
    for (int32_t k = 0; k < words_; ++k) {
      const auto r1 = static_cast<uint32_t>(detail::windowsRand());
      const auto r2 = static_cast<uint32_t>(detail::windowsRand());
      const auto r3 = static_cast<uint32_t>(detail::windowsRand());
      w[k] = (r2 << 24) + ((r1 & 0xFFFu) << 12) + (r3 & 0xFFFu);
    }
  }

  // |x · y| over the n used entries, by counting differing bits.
  int32_t absDot(const uint32_t* x, const uint32_t* y) const {
    int32_t differing = 0;
    for (int32_t k = 0; k < fullWords_; ++k) differing += std::popcount(x[k] ^ y[k]);
    if (remainder_ > 0) {
      const uint32_t mask = (1u << remainder_) - 1u;
      differing += std::popcount((x[fullWords_] ^ y[fullWords_]) & mask);
    }
    return std::abs(n_ - 2 * differing);
  }

  int32_t n() const { return n_; }

 private:
  int bitOf(int32_t i) const { return i / 32 < fullWords_ ? 31 - i % 32 : remainder_ - 1 - i % 32; }

  int32_t n_;
  int32_t fullWords_;
  int32_t remainder_;
  int32_t words_;
  std::vector<uint32_t> bits_;
};

// Largest |s · w_i| over the first `last` vectors of w equals n: s is parallel to one of them.
bool parallelToAny(const SignBlock& w, int32_t last, const uint32_t* s) {
  for (int32_t i = 0; i < last; ++i) {
    if (w.absDot(s, w.vector(i)) == w.n()) return true;
  }
  return false;
}

// Replaces columns of s that are parallel to an earlier column, or to a column of the previous
// block when there is one, by random ones, giving up on a column after n / t attempts.
void resampleParallel(SignBlock& s, const SignBlock* previous, SignBlock& w, int32_t t) {
  if (t == 1) return;
  int32_t last = 0;
  int32_t first = 0;
  if (previous != nullptr) {
    for (int32_t i = 0; i < t; ++i) w.copyVector(i, *previous, i);
    last = t;
  } else {
    w.copyVector(0, s, 0);
    last = 1;
    first = 1;
  }
  for (int32_t j = first; j < t; ++j) {
    int32_t attempts = 0;
    while (parallelToAny(w, last, s.vector(j))) {
      ++attempts;
      s.randomFill(j);
      if (attempts > s.n() / t) break;
    }
    if (j < t - 1) w.copyVector(last++, s, j);
  }
}

// NaN sorts last, so the comparison stays a strict weak ordering.
bool greaterValue(double a, double b) {
  if (std::isnan(a)) return false;
  if (std::isnan(b)) return true;
  return a > b;
}

void sortDecreasing(std::vector<std::pair<double, int32_t>>& pairs) {
  std::stable_sort(pairs.begin(), pairs.end(),
                   [](const auto& x, const auto& y) { return greaterValue(x.first, y.first); });
}

void applyInverse(const InverseSolve& solve, double* x, double* b, int32_t nrhs) {
  if (!solve(x, b, nrhs)) throw Failure::outOfMemory();
}

double exactInvNorm1(int32_t n, const InverseSolve& solve) {
  std::vector<double> identity(static_cast<size_t>(n) * static_cast<size_t>(n), 0.0);
  std::vector<double> inverse(static_cast<size_t>(n) * static_cast<size_t>(n), 0.0);
  for (int32_t j = 0; j < n; ++j) identity[static_cast<size_t>(j) * n + j] = 1.0;
  applyInverse(solve, inverse.data(), identity.data(), n);
  double norm = 0.0;
  for (int32_t j = 0; j < n; ++j) {
    norm = std::max(norm, asum(n, inverse.data() + static_cast<size_t>(j) * n));
  }
  taucs_printf("No iteration - norm computed exactly.\n");
  taucs_printf("A^(-1) Norm-1 estimate completed\n");
  return norm;
}

// All storage of one iterative estimate, taken at once.
struct Workspace {
  std::vector<double> x;
  std::vector<double> y;
  SignBlock s;
  SignBlock sOld;
  SignBlock w;
  std::vector<int32_t> ind;
  std::vector<int32_t> indHist;
  std::vector<std::pair<double, int32_t>> columnNorms;
  std::vector<std::pair<double, int32_t>> rowMaxima;
  std::vector<double> z;
  std::string line;  // one iteration's log line

  Workspace(int32_t n, int32_t t)
      : x(static_cast<size_t>(n) * static_cast<size_t>(t)),
        y(static_cast<size_t>(n) * static_cast<size_t>(t)),
        s(n, t),
        sOld(n, t),
        w(n, 2 * t - 1),
        ind(static_cast<size_t>(t), -1),
        columnNorms(static_cast<size_t>(t)),
        rowMaxima(static_cast<size_t>(n)),
        z(static_cast<size_t>(n)) {
    // indHist gains at most t rows per iteration, over at most five iterations.
    indHist.reserve(static_cast<size_t>(t) * 5);
    line.reserve(static_cast<size_t>(t) * 32 + 16);
  }
};

double* column(double* block, int32_t n, int32_t k) { return block + static_cast<size_t>(k) * n; }

// Why the iteration stopped, as the log says it.
enum class Stop { notIncreased, iterationLimit, repeatedSigns, converged, repeatedUnitVectors };

const char* describe(Stop stop) {
  switch (stop) {
    case Stop::notIncreased:
      return "Terminate: estimate not increased";
    case Stop::iterationLimit:
      return "Terminate: iteration limit reached";
    case Stop::repeatedSigns:
      return "Terminate: repeated sign matrix";
    case Stop::converged:
      return "Terminate: power method convergence test";
    case Stop::repeatedUnitVectors:
      return "Terminate: repeated unit vectors";
  }
  return "";
}

// The first block: column 0 all ones, the rest random and mutually non-parallel; scaled to norm 1.
void firstBlock(int32_t n, int32_t t, Workspace& ws) {
  for (int32_t k = 1; k < t; ++k) ws.sOld.randomFill(k);
  resampleParallel(ws.sOld, nullptr, ws.w, t);
  for (int32_t k = 0; k < t; ++k) ws.sOld.toDoubles(k, column(ws.x.data(), n, k), 1.0 / n);
}

// Sorts the columns of Y by their norms, largest first; the estimate is the largest.
double rankColumns(int32_t n, int32_t t, Workspace& ws) {
  for (int32_t k = 0; k < t; ++k) ws.columnNorms[k] = {asum(n, column(ws.y.data(), n, k)), k};
  sortDecreasing(ws.columnNorms);
  return ws.columnNorms[0].first;
}

// "<it>:  (<row>, <norm>) ..." over the ranked columns, written at once: the sink is shared, and
// a line written in pieces could be split by another thread's output.
void logIteration(int32_t it, int32_t t, Workspace& ws) {
  char piece[64];
  std::snprintf(piece, sizeof piece, "%d: ", it);
  ws.line.assign(piece);
  for (int32_t p = 0; p < t; ++p) {
    std::snprintf(piece, sizeof piece, " (%2d, %6.2e)", ws.ind[ws.columnNorms[p].second],
                  ws.columnNorms[p].first);
    ws.line.append(piece);
  }
  taucs_printf("%s\n", ws.line.c_str());
}

// The signs of Y become S and, unless every column repeats one of the previous S, the next block
// X; returns false when they all repeat.
bool nextSigns(int32_t n, int32_t t, int32_t it, Workspace& ws) {
  if (it > 1) {
    for (int32_t k = 0; k < t; ++k) ws.sOld.copyVector(k, ws.s, k);
  }
  for (int32_t k = 0; k < t; ++k) ws.s.fromDoubles(k, column(ws.y.data(), n, k));
  if (it > 1) {
    int32_t repeated = 0;
    for (int32_t j = 0; j < t; ++j) {
      if (parallelToAny(ws.sOld, t, ws.s.vector(j))) ++repeated;
    }
    if (repeated == t) return false;
  }
  resampleParallel(ws.s, it > 1 ? &ws.sOld : nullptr, ws.w, t);
  for (int32_t k = 0; k < t; ++k) ws.s.toDoubles(k, column(ws.x.data(), n, k), 1.0);
  return true;
}

// z = the largest |Y| of each row; true when row estJ holds the largest of all (the power
// method has converged). Otherwise the rows come out sorted by z, largest first.
bool rowMaximaConverged(int32_t n, int32_t t, int32_t it, int32_t estJ, Workspace& ws) {
  double zMax = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    double zi = std::fabs(ws.y[i]);
    for (int32_t k = 1; k < t; ++k) {
      const double v = std::fabs(column(ws.y.data(), n, k)[i]);
      if (v > zi) zi = v;
    }
    ws.z[i] = zi;
    if (i == 0 || zi > zMax) zMax = zi;
  }
  if (it >= 2 && ws.z[estJ] == zMax) return true;
  for (int32_t i = 0; i < n; ++i) ws.rowMaxima[i] = {ws.z[i], i};
  sortDecreasing(ws.rowMaxima);
  return false;
}

// The next unit vectors e_j, for the largest rows not used before, become X. Returns how many of
// the t largest rows were used before; when all were, X is left as it is.
int32_t nextUnitVectors(int32_t n, int32_t t, int32_t it, Workspace& ws) {
  int32_t imax = t;
  const auto seen = [&ws](int32_t row) {
    return std::find(ws.indHist.begin(), ws.indHist.end(), row) != ws.indHist.end();
  };
  int32_t rep = 0;
  if (it == 1) {
    for (int32_t p = 0; p < t; ++p) ws.ind[p] = ws.rowMaxima[p].second;
    ws.indHist.assign(ws.ind.begin(), ws.ind.end());
  } else {
    for (int32_t p = 0; p < t; ++p) {
      if (seen(ws.rowMaxima[p].second)) ++rep;
    }
    if (rep == t) return rep;
    int32_t q = 0;
    for (int32_t p = 0; p < t; ++p) {
      while (q < n && seen(ws.rowMaxima[q].second)) ++q;
      if (q == n) {
        imax = p;
        break;
      }
      ws.ind[p] = ws.rowMaxima[q++].second;
    }
    ws.indHist.insert(ws.indHist.end(), ws.ind.begin(), ws.ind.begin() + imax);
  }
  std::fill(ws.x.begin(), ws.x.end(), 0.0);
  for (int32_t p = 0; p < imax; ++p) column(ws.x.data(), n, p)[ws.ind[p]] = 1.0;
  return rep;
}

// ‖A⁻¹x‖₁ / ‖x‖₁ for x of alternating signs and growing size, which catches matrices whose
// inverse the power method misses.
double alternatingRatio(int32_t n, const InverseSolve& solve, Workspace& ws) {
  double* x = ws.x.data();
  const double step = 1.0 / (n - 1);
  for (int32_t i = 0; i < n; ++i) x[i] = (i % 2 == 0 ? 1.0 : -1.0) * (1.0 + i * step);
  const double xNorm = asum(n, x);
  applyInverse(solve, ws.y.data(), x, 1);
  return asum(n, ws.y.data()) / xNorm;
}

double iterate(int32_t n, int32_t t, const InverseSolve& solve, Workspace& ws) {
  firstBlock(n, t, ws);
  int32_t it = 0;
  int32_t nsolves = 0;
  int32_t estJ = 0;
  double estOld = 0.0;
  double est = 0.0;
  Stop stop = Stop::iterationLimit;
  for (;;) {
    ++it;
    applyInverse(solve, ws.y.data(), ws.x.data(), t);
    ++nsolves;
    est = rankColumns(n, t, ws);
    if (est > estOld || it == 2) estJ = ws.ind[ws.columnNorms[0].second];
    logIteration(it, t, ws);
    if (it >= 2 && est <= estOld) {
      est = estOld;
      stop = Stop::notIncreased;
      break;
    }
    estOld = est;
    if (it > 5) break;
    if (!nextSigns(n, t, it, ws)) {
      stop = Stop::repeatedSigns;
      break;
    }
    applyInverse(solve, ws.y.data(), ws.x.data(), t);
    ++nsolves;
    if (rowMaximaConverged(n, t, it, estJ, ws)) {
      stop = Stop::converged;
      break;
    }
    const int32_t rep = nextUnitVectors(n, t, it, ws);
    if (rep > 0) taucs_printf("     rep e_j = %d\n", rep);
    if (rep == t) {
      stop = Stop::repeatedUnitVectors;
      break;
    }
  }
  taucs_printf("%s\n", describe(stop));
  if (t == 1) {
    est = std::max(est, alternatingRatio(n, solve, ws));
    ++nsolves;
  }
  taucs_printf("Number of solutions %d (x %d rhs each)\n", nsolves, t);
  taucs_printf("Norm1(inv(A))  estimate is %g\n", est);
  taucs_printf("Norm1(inv(A))  estimate completed\n");
  return est;
}

}  // namespace

double estimateInvNorm1(int32_t n, int32_t t, const InverseSolve& solve, uint32_t seed) {
  taucs_printf("Norm1(inv(A)) estimate started\n");
  if (t < 1 || t > n)
    throw Failure(FailureKind::badArgument, "T must be an integer between 1 and N");
  if (t == n || n <= 4) return exactInvNorm1(n, solve);
  Workspace workspace(n, t);
  detail::seedWindowsRand(seed);
  return iterate(n, t, solve, workspace);
}

double estimateInvNorm1(int32_t n, int32_t t, const InverseSolve& solve) {
  return estimateInvNorm1(n, t, solve, static_cast<uint32_t>(std::time(nullptr)));
}

}  // namespace orv
