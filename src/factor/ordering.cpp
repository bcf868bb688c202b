#include "ordering.h"

#include <cholmod.h>
#include <metis.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <numeric>
#include <optional>
#include <random>

#include "factor/cholmod_view.h"
#include "factor/permute.h"
#include "log/log.h"
#include "platform/fault_cleanup.h"

namespace orv {
namespace {

// CHOLMOD's workspace for one ordering; it prints nothing, its failures are reported here.
class Cholmod {
 public:
  Cholmod() {
    cholmod_l_start(&common_);
    common_.print = 0;
    // METIS orders every matrix, however dense.
    common_.metis_nswitch = 0;
  }
  ~Cholmod() { cholmod_l_finish(&common_); }
  Cholmod(const Cholmod&) = delete;
  Cholmod& operator=(const Cholmod&) = delete;

  cholmod_common* common() { return &common_; }
  // Throws std::bad_alloc when the last call ran out of memory.
  int status() const {
    if (common_.status == CHOLMOD_OUT_OF_MEMORY) throw std::bad_alloc();
    return common_.status;
  }

 private:
  cholmod_common common_;
};

// METIS seeds and draws the C library's rand() in every call. Calls run one at a time, so that
// two orderings on two threads do not draw from each other's sequence (and come out different
// from the same orderings run one after the other), and with a state of their own, so that the
// host's rand() sequence goes on as if no ordering had run.
class MetisRandomState {
 public:
  MetisRandomState() : lock_(mutex()), host_(swap()), restore_(restore, host_) {}
  ~MetisRandomState() { restore(host_); }
  MetisRandomState(const MetisRandomState&) = delete;
  MetisRandomState& operator=(const MetisRandomState&) = delete;

 private:
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }

  // The host's state, put back after the calls (also after a fault, by the export's frame).
  static char* swap() {
#if !defined(_WIN32)
    static char state[256];
    return initstate(1u, state, sizeof state);
#else
    return nullptr;
#endif
  }
  static void restore(void* host) {
#if !defined(_WIN32)
    setstate(static_cast<char*>(host));
#endif
  }

  FaultSafeLock lock_;
  char* host_;
  FaultCleanup restore_;
};

// invPerm of CHOLMOD's permutation: perm[k] is the original column at position k.
std::vector<int32_t> inverse(const std::vector<SuiteSparse_long>& perm) {
  std::vector<int32_t> invPerm(perm.size());
  for (size_t k = 0; k < perm.size(); ++k) invPerm[perm[k]] = static_cast<int32_t>(k);
  return invPerm;
}

bool hasUpperEntries(const CcsRecord& a) {
  for (int32_t j = 0; j < a.n; ++j) {
    if (a.colptr[j] < a.colptr[j + 1] && a.rowind[a.colptr[j]] < j) return true;
  }
  return false;
}

bool hasEdges(const cholmod_sparse& a) {
  const auto* start = static_cast<const SuiteSparse_long*>(a.p);
  const auto* rows = static_cast<const SuiteSparse_long*>(a.i);
  for (SuiteSparse_long j = 0; j < static_cast<SuiteSparse_long>(a.ncol); ++j) {
    for (SuiteSparse_long p = start[j]; p < start[j + 1]; ++p) {
      if (rows[p] != j) return true;
    }
  }
  return false;
}

// CHOLMOD leaves a matrix without off-diagonal entries in its natural order without asking
// METIS; the ordering METIS gives such a graph is the one kept. Its elimination tree has no edges,
// so the postorder changes nothing.
std::vector<int32_t> metisOrderWithoutEdges(int32_t n) {
  static_assert(sizeof(idx_t) == sizeof(int32_t), "METIS must be built with 32-bit indices");
  std::vector<idx_t> xadj(static_cast<size_t>(n) + 1, 0);
  std::vector<idx_t> perm(static_cast<size_t>(n));
  std::vector<idx_t> iperm(static_cast<size_t>(n));
  idx_t noEdges = 0;
  idx_t nvtxs = n;
  int status = METIS_OK;
  {
    const MetisRandomState random;
    status =
        METIS_NodeND(&nvtxs, xadj.data(), &noEdges, nullptr, nullptr, perm.data(), iperm.data());
  }
  if (status == METIS_ERROR_MEMORY) throw std::bad_alloc();
  if (status != METIS_OK) {
    taucs_printf("METIS_NodeND: failure with METIS code %d\n", status);
    return {};
  }
  // METIS's iperm maps an original vertex to its position, which is invPerm.
  return iperm;
}

// Nested dissection, followed by the postorder of its elimination tree.
std::vector<int32_t> metisOrder(cholmod_sparse& a, Cholmod& cholmod) {
  if (!hasEdges(a)) return metisOrderWithoutEdges(static_cast<int32_t>(a.ncol));
  std::vector<SuiteSparse_long> perm(a.ncol);
  int ok = 0;
  {
    const MetisRandomState random;
    ok = cholmod_l_metis(&a, nullptr, 0, 1, perm.data(), cholmod.common());
  }
  if (!ok) {
    taucs_printf("METIS_NodeND: failure with METIS code %d\n", cholmod.status());
    return {};
  }
  return inverse(perm);
}

// Renumbers perm by a postorder of the elimination tree of the permuted matrix: the fill is
// unchanged and each supernode's columns become contiguous.
bool postorder(cholmod_sparse& a, std::vector<SuiteSparse_long>& perm, Cholmod& cholmod) {
  std::vector<SuiteSparse_long> parent(a.ncol);
  std::vector<SuiteSparse_long> post(a.ncol);
  if (!cholmod_l_analyze_ordering(&a, CHOLMOD_GIVEN, perm.data(), nullptr, 0, parent.data(),
                                  post.data(), nullptr, nullptr, nullptr, cholmod.common())) {
    return false;
  }
  for (size_t k = 0; k < perm.size(); ++k) parent[k] = perm[post[k]];
  perm.swap(parent);
  return true;
}

std::vector<int32_t> amdOrder(cholmod_sparse& a, Cholmod& cholmod) {
  std::vector<SuiteSparse_long> perm(a.ncol);
  if (!cholmod_l_amd(&a, nullptr, 0, perm.data(), cholmod.common()) ||
      !postorder(a, perm, cholmod)) {
    taucs_printf("taucs_ccs_amdv1_1: failure with AMD code %d\n", cholmod.status());
    return {};
  }
  return inverse(perm);
}

// Eliminating a leaf of a tree creates no fill, so ordering every tree of a forest children
// first is a perfect elimination ordering. Returns empty when the graph (the pattern of a
// without its diagonal, both triangles) has a cycle.
std::vector<int32_t> forestOrder(cholmod_sparse& a, Cholmod& cholmod) {
  const auto release = [&cholmod](cholmod_sparse* s) {
    cholmod_l_free_sparse(&s, cholmod.common());
  };
  const std::unique_ptr<cholmod_sparse, decltype(release)> graph(
      cholmod_l_copy(&a, 0, -1, cholmod.common()), release);
  if (!graph) {
    cholmod.status();
    return {};
  }
  const auto* start = static_cast<const SuiteSparse_long*>(graph->p);
  const auto* adjacent = static_cast<const SuiteSparse_long*>(graph->i);
  const auto n = static_cast<int32_t>(a.ncol);
  std::vector<int32_t> invPerm(static_cast<size_t>(n), -1);
  std::vector<int32_t> parent(static_cast<size_t>(n), -1);
  std::vector<SuiteSparse_long> cursor(start, start + n);
  std::vector<int32_t> stack;
  stack.reserve(static_cast<size_t>(n));
  std::vector<char> seen(static_cast<size_t>(n), 0);
  int32_t position = 0;
  bool forest = true;
  for (int32_t root = 0; root < n && forest; ++root) {
    if (seen[root]) continue;
    seen[root] = 1;
    stack.push_back(root);
    while (!stack.empty()) {
      const int32_t v = stack.back();
      if (cursor[v] == start[v + 1]) {
        invPerm[v] = position++;
        stack.pop_back();
        continue;
      }
      const auto w = static_cast<int32_t>(adjacent[cursor[v]++]);
      if (w == parent[v]) continue;
      if (seen[w]) {
        forest = false;
        break;
      }
      seen[w] = 1;
      parent[w] = v;
      stack.push_back(w);
    }
  }
  if (!forest) return {};
  std::vector<SuiteSparse_long> perm(static_cast<size_t>(n));
  for (int32_t v = 0; v < n; ++v) perm[invPerm[v]] = v;
  if (!postorder(a, perm, cholmod)) {
    cholmod.status();
    return {};
  }
  return inverse(perm);
}

std::vector<int32_t> randomOrder(int32_t n) {
  std::vector<int32_t> invPerm(static_cast<size_t>(n));
  std::iota(invPerm.begin(), invPerm.end(), 0);
  // A private generator with a fixed seed: the host's rand state stays untouched and the same
  // matrix always gets the same ordering.
  std::mt19937 generator(20240229u);
  std::shuffle(invPerm.begin(), invPerm.end(), generator);
  return invPerm;
}

enum class Method { metis, amd, tree, random, identity, unavailable };

Method classify(const std::string& name) {
  if (name.empty() || name == "metis_node" || name == "metis" || name == "metis_edge") {
    return Method::metis;
  }
  if (name == "amdv1_1") return Method::amd;
  if (name == "tree") return Method::tree;
  if (name == "random") return Method::random;
  if (name == "identity") return Method::identity;
  if (name == "mmd" || name == "amd" || name == "md") {
    taucs_printf("taucs_ccs_amd: AMD routines not linked.\n");
  } else if (name == "symamd") {
    taucs_printf("taucs_ccs_symamd: COLAMD routines not linked.\n");
  } else if (name == "colamd") {
    taucs_printf("taucs_ccs_colamd: COLAMD routines not linked.\n");
  } else if (name == "genmmd") {
    taucs_printf("taucs_ccs_genmmd: GENMMD routines not linked.\n");
  } else {
    taucs_printf("taucs_ccs_order: invalid ordering requested (%s)\n", name.c_str());
  }
  return Method::unavailable;
}

}  // namespace

std::vector<int32_t> orderMatrix(const CcsRecord& a, const std::string& method) {
  const Method kind = classify(method);
  if (kind == Method::unavailable || a.n < 1) return {};
  if (kind == Method::identity) {
    std::vector<int32_t> invPerm(static_cast<size_t>(a.n));
    std::iota(invPerm.begin(), invPerm.end(), 0);
    return invPerm;
  }
  if (kind == Method::random) return randomOrder(a.n);

  // CHOLMOD reads one triangle of a symmetric matrix; entries the record holds above the
  // diagonal are first mirrored into the lower one by the identity permutation.
  std::optional<CcsRecord> lower;
  if (hasUpperEntries(a)) {
    std::vector<int32_t> identity(static_cast<size_t>(a.n));
    std::iota(identity.begin(), identity.end(), 0);
    lower = permuteSymmetric(a, identity);
  }
  CholmodSparseView view(lower ? *lower : a);
  view.matrix.xtype = CHOLMOD_PATTERN;
  Cholmod cholmod;
  std::vector<int32_t> invPerm;
  if (kind == Method::tree) invPerm = forestOrder(view.matrix, cholmod);
  if (kind == Method::amd) {
    invPerm = amdOrder(view.matrix, cholmod);
  } else if (invPerm.empty()) {
    invPerm = metisOrder(view.matrix, cholmod);
  }
  return invPerm;
}

}  // namespace orv
