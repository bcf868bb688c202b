#include "llfactor.h"

#include <cholmod.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <mutex>
#include <new>
#include <vector>

#include "factor/cholmod_view.h"
#include "log/log.h"
#include "supernodal.h"

namespace orv {

namespace {

// CHOLMOD's own messages would name its source files; the library logs its own lines instead,
// and anything else SuiteSparse prints goes to the log rather than to the host's stdout.
void routeSuiteSparseOutput() {
  static std::once_flag once;
  std::call_once(once, [] {
#if SUITESPARSE_MAIN_VERSION >= 7
    SuiteSparse_config_printf_func_set(&taucs_printf);
#else
    // SuiteSparse before 7 has no setter: its configuration is a global record.
    SuiteSparse_config.printf_func = &taucs_printf;
#endif
  });
}

FactorStatus statusOf(int cholmodStatus) {
  switch (cholmodStatus) {
    case CHOLMOD_OUT_OF_MEMORY:
      return FactorStatus::outOfMemory;
    case CHOLMOD_TOO_LARGE:
      return FactorStatus::tooLarge;
    default:
      return FactorStatus::failed;
  }
}

const char* describe(FactorStatus status) {
  switch (status) {
    case FactorStatus::outOfMemory:
      return "out of memory";
    case FactorStatus::tooLarge:
      return "problem too large";
    default:
      return "internal error";
  }
}

// The first column of L whose diagonal entry is NaN, or -1.
int64_t firstNaNDiagonal(const SupernodalView& f) {
  for (int64_t k = 0; k < f.nsuper; ++k) {
    const int64_t ld = f.pi[k + 1] - f.pi[k];
    const double* values = f.x + f.px[k];
    for (int64_t j = 0; j < f.super[k + 1] - f.super[k]; ++j) {
      if (std::isnan(values[j * ld + j])) return f.super[k] + j;
    }
  }
  return -1;
}

}  // namespace

struct llFactor::Cholmod {
  cholmod_common common;
  cholmod_factor* factor = nullptr;
  int64_t maxUpdateRows = 0;
  TreeSplit split;

  Cholmod() {
    routeSuiteSparseOutput();
    cholmod_l_start(&common);
    common.print = 0;
    // The matrix arrives already in its fill-reducing, postordered ordering.
    common.nmethods = 1;
    common.method[0].ordering = CHOLMOD_NATURAL;
    common.postorder = 0;
    common.supernodal = CHOLMOD_SUPERNODAL;
  }
  ~Cholmod() {
    if (factor != nullptr) cholmod_l_free_factor(&factor, &common);
    cholmod_l_finish(&common);
  }
  Cholmod(const Cholmod&) = delete;
  Cholmod& operator=(const Cholmod&) = delete;

  void dropNumeric() {
    if (factor != nullptr && factor->xtype != CHOLMOD_PATTERN) {
      cholmod_l_change_factor(CHOLMOD_PATTERN, 1, 1, 1, 1, factor, &common);
    }
  }

  SupernodalView view() const {
    SupernodalView v;
    v.n = static_cast<int64_t>(factor->n);
    v.nsuper = static_cast<int64_t>(factor->nsuper);
    v.super = static_cast<const int64_t*>(factor->super);
    v.pi = static_cast<const int64_t*>(factor->pi);
    v.px = static_cast<const int64_t*>(factor->px);
    v.s = static_cast<const int64_t*>(factor->s);
    v.x = static_cast<const double*>(factor->x);
    v.valueCount = static_cast<int64_t>(factor->xsize);
    v.maxUpdateRows = maxUpdateRows;
    v.split = &split;
    return v;
  }
};

static_assert(sizeof(SuiteSparse_long) == sizeof(int64_t));

llFactor::llFactor() : cholmod_(std::make_unique<Cholmod>()) {}

llFactor::~llFactor() = default;

uint64_t llFactor::numericBytes() const {
  const cholmod_factor* l = cholmod_->factor;
  if (l == nullptr) return 0;
  return sizeof(double) * (static_cast<uint64_t>(l->xsize) + static_cast<uint64_t>(l->maxcsize));
}

bool llFactor::symbolic(const CcsRecord& pap) {
  if (cholmod_->factor != nullptr) return true;
  const double wall = wallSeconds();
  const double cpu = cpuSeconds();
  try {
    CholmodSparseView a(pap);
    cholmod_->factor = cholmod_l_analyze(&a.matrix, &cholmod_->common);
  } catch (const std::bad_alloc&) {
    cholmod_->common.status = CHOLMOD_OUT_OF_MEMORY;
  }
  cholmod_factor* l = cholmod_->factor;
  if (l == nullptr) {
    status_ = statusOf(cholmod_->common.status);
    taucs_printf("Symbolic Analysis failed: %s\n", describe(status_));
    return false;
  }
  const auto* super = static_cast<const int64_t*>(l->super);
  const auto* pi = static_cast<const int64_t*>(l->pi);
  int64_t maxUpdate = 0;
  for (size_t k = 0; k < l->nsuper; ++k) {
    maxUpdate = std::max(maxUpdate, (pi[k + 1] - pi[k]) - (super[k + 1] - super[k]));
  }
  cholmod_->maxUpdateRows = maxUpdate;
  try {
    cholmod_->split = splitTree(cholmod_->view());
  } catch (const std::bad_alloc&) {
    cholmod_->split = TreeSplit{};  // the sweeps run on one thread per column half instead
  }
  status_ = FactorStatus::ok;
  taucs_printf("Symbolic Analysis            = % 10.3f seconds (%.3f cpu)\n", wallSeconds() - wall,
               cpuSeconds() - cpu);
  return true;
}

bool llFactor::numeric(const CcsRecord& pap) {
  if (!symbolic(pap)) return false;
  if (numericReady_) return true;
  const double wall = wallSeconds();
  const double cpu = cpuSeconds();
  cholmod_factor* l = cholmod_->factor;
  try {
    CholmodSparseView a(pap);
    cholmod_l_factorize(&a.matrix, l, &cholmod_->common);
  } catch (const std::bad_alloc&) {
    cholmod_->common.status = CHOLMOD_OUT_OF_MEMORY;
  }
  const int cholmodStatus = cholmod_->common.status;
  // cholmod_l_factorize reports a non-positive pivot as a warning and returns TRUE, so the
  // status and L->minor decide, not its result.
  bool notPositiveDefinite =
      cholmodStatus == CHOLMOD_NOT_POSDEF || (cholmodStatus >= CHOLMOD_OK && l->minor < l->n);
  auto pivotColumn = static_cast<int64_t>(l->minor);
  if (!notPositiveDefinite && cholmodStatus >= CHOLMOD_OK) {
    // The dense kernels test a pivot with "<= 0", which a NaN passes: a NaN anywhere in the matrix
    // reaches the diagonal of L and is caught here instead.
    pivotColumn = firstNaNDiagonal(cholmod_->view());
    notPositiveDefinite = pivotColumn >= 0;
  }
  if (!notPositiveDefinite && cholmodStatus >= CHOLMOD_OK) {
    numericReady_ = true;
    status_ = FactorStatus::ok;
    taucs_printf("Supernodal Multifrontal LL^T = % 10.3f seconds (%.3f cpu)\n",
                 wallSeconds() - wall, cpuSeconds() - cpu);
    return true;
  }
  if (notPositiveDefinite) {
    status_ = FactorStatus::notPositiveDefinite;
    pivotColumn_ = static_cast<int32_t>(pivotColumn);
    taucs_printf("LL^T Factorization: Matrix is not positive definite.\n");
    taucs_printf("Non-positive pivot in column %d\n", static_cast<int>(pivotColumn));
  } else {
    status_ = statusOf(cholmodStatus);
    taucs_printf("LL^T Factorization failed: %s\n", describe(status_));
  }
  cholmod_->dropNumeric();
  return false;
}

bool llFactor::solve(double* X, double* B, int32_t nrhs) const {
  if (!numericReady_) return false;
  if (nrhs < 1) return true;
  std::vector<double> t;
  try {
    t.resize(static_cast<size_t>(cholmod_->maxUpdateRows) * static_cast<size_t>(nrhs));
  } catch (const std::bad_alloc&) {
    taucs_printf("multifrontal_supernodal_solve_llt: out of memory\n");
    return false;
  }
  solveBoth(cholmod_->view(), X, B, t.data(), nrhs);
  return true;
}

bool llFactor::solveL(double* Y, double* B, double* T, int32_t nrhs) const {
  if (!numericReady_) return false;
  if (nrhs > 0) solveForward(cholmod_->view(), Y, B, T, nrhs);
  return true;
}

bool llFactor::solveLT(double* X, const double* Y, double* T, int32_t nrhs) const {
  if (!numericReady_) return false;
  if (nrhs > 0) solveBackward(cholmod_->view(), X, Y, T, nrhs);
  return true;
}

void llFactor::diagExtremes(double& min, double& max, int32_t& minRow, int32_t& maxRow) const {
  max = 0.0;
  min = DBL_MAX;
  minRow = 0;
  maxRow = 0;
  if (!numericReady_) return;
  const SupernodalView f = cholmod_->view();
  for (int64_t k = 0; k < f.nsuper; ++k) {
    const int64_t ld = f.pi[k + 1] - f.pi[k];
    const double* values = f.x + f.px[k];
    for (int64_t j = 0; j < f.super[k + 1] - f.super[k]; ++j) {
      const double d = values[j * ld + j];
      const auto r = static_cast<int32_t>(f.s[f.pi[k] + j]);
      if (d > max) {
        max = d;
        maxRow = r;
      }
      if (d < min) {
        min = d;
        minRow = r;
      }
    }
  }
}

int llFactor::diagResidual(const CcsRecord& a, const int32_t* invPerm, double& maxRes,
                           int32_t& row) const {
  if (!numericReady_) return -1;
  const SupernodalView f = cholmod_->view();
  std::vector<double> s;
  try {
    s.assign(static_cast<size_t>(f.n), 0.0);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  for (int64_t k = 0; k < f.nsuper; ++k) {
    const int64_t ld = f.pi[k + 1] - f.pi[k];
    const int64_t* rows = f.s + f.pi[k];
    const double* values = f.x + f.px[k];
    for (int64_t j = 0; j < f.super[k + 1] - f.super[k]; ++j) {
      for (int64_t i = j; i < ld; ++i) {
        const double v = values[j * ld + i];
        if (v != 0.0) s[rows[i]] += v * v;
      }
    }
  }
  for (int32_t c = 0; c < a.n; ++c) {
    for (int32_t k = a.colptr[c]; k < a.colptr[c + 1]; ++k) {
      if (a.rowind[k] != c) continue;
      const int32_t p = invPerm[c];
      s[p] = std::fabs(1.0 - a.values[k] / s[p]);
      break;
    }
  }
  maxRes = 0.0;
  row = 0;
  for (int64_t p = 0; p < f.n; ++p) {
    if (s[p] > maxRes) {
      maxRes = s[p];
      row = static_cast<int32_t>(p);
    }
  }
  return 0;
}

void llFactor::releaseNumeric() {
  if (!numericReady_) return;
  cholmod_->dropNumeric();
  numericReady_ = false;
}

void llFactor::release() {
  if (cholmod_->factor != nullptr) cholmod_l_free_factor(&cholmod_->factor, &cholmod_->common);
  cholmod_->split = TreeSplit{};
  numericReady_ = false;
}

bool llFactor::hasStructure() const { return cholmod_->factor != nullptr; }

const cholmod_factor_struct* llFactor::factor() const { return cholmod_->factor; }

}  // namespace orv
