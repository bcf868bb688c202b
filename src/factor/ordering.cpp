#include "ordering.h"

#include <amd.h>
#include <metis.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <new>
#include <numeric>
#include <random>

#include "log/log.h"
#include "platform/fault_cleanup.h"

namespace orv {
namespace {

static_assert(sizeof(idx_t) == sizeof(int32_t), "METIS must be built with 32-bit indices");

// Undirected graph of the matrix, without self-loops or repeated edges: the neighbours of v are
// adj[xadj[v] .. xadj[v+1]-1], ascending.
struct Graph {
  int32_t n = 0;
  std::vector<int32_t> xadj;
  std::vector<int32_t> adj;
};

Graph buildGraph(const CcsRecord& a) {
  const int32_t n = a.n;
  Graph g;
  g.n = n;
  g.xadj.assign(static_cast<size_t>(n) + 1, 0);
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t k = a.colptr[j]; k < a.colptr[j + 1]; ++k) {
      const int32_t i = a.rowind[k];
      if (i == j) continue;
      ++g.xadj[i + 1];
      ++g.xadj[j + 1];
    }
  }
  for (int32_t v = 0; v < n; ++v) g.xadj[v + 1] += g.xadj[v];
  g.adj.resize(static_cast<size_t>(g.xadj[n]));
  std::vector<int32_t> next(g.xadj.begin(), g.xadj.end() - 1);
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t k = a.colptr[j]; k < a.colptr[j + 1]; ++k) {
      const int32_t i = a.rowind[k];
      if (i == j) continue;
      g.adj[next[i]++] = j;
      g.adj[next[j]++] = i;
    }
  }
  // A pair stored both below and above the diagonal gives the same edge twice; METIS and AMD want
  // each edge once.
  int32_t out = 0;
  int32_t start = 0;
  for (int32_t v = 0; v < n; ++v) {
    const int32_t end = g.xadj[v + 1];
    std::sort(g.adj.begin() + start, g.adj.begin() + end);
    const int32_t first = out;
    for (int32_t k = start; k < end; ++k) {
      if (k > start && g.adj[k] == g.adj[k - 1]) continue;
      g.adj[out++] = g.adj[k];
    }
    g.xadj[v] = first;
    start = end;
  }
  g.xadj[n] = out;
  g.adj.resize(static_cast<size_t>(out));
  return g;
}

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

std::vector<int32_t> metisOrder(Graph& g) {
  std::vector<int32_t> perm(static_cast<size_t>(g.n));
  std::vector<int32_t> iperm(static_cast<size_t>(g.n));
  idx_t nvtxs = g.n;
  int status = METIS_OK;
  {
    const MetisRandomState random;
    status = METIS_NodeND(&nvtxs, g.xadj.data(), g.adj.data(), nullptr, nullptr, perm.data(),
                          iperm.data());
  }
  if (status == METIS_ERROR_MEMORY) throw std::bad_alloc();
  if (status != METIS_OK) {
    taucs_printf("METIS_NodeND: failure with METIS code %d\n", status);
    return {};
  }
  // METIS's iperm maps an original vertex to its position, which is invPerm.
  return iperm;
}

std::vector<int32_t> amdOrder(const Graph& g) {
  std::vector<int32_t> p(static_cast<size_t>(g.n));
  // AMD rejects a null index array, which an empty vector may give for a graph without edges.
  int32_t noEdges = 0;
  const int32_t* adjacency = g.adj.empty() ? &noEdges : g.adj.data();
  const int status = amd_order(g.n, g.xadj.data(), adjacency, p.data(), nullptr, nullptr);
  if (status == AMD_OUT_OF_MEMORY) throw std::bad_alloc();
  if (status != AMD_OK && status != AMD_OK_BUT_JUMBLED) {
    taucs_printf("taucs_ccs_amdv1_1: failure with AMD code %d\n", status);
    return {};
  }
  std::vector<int32_t> invPerm(static_cast<size_t>(g.n));
  for (int32_t k = 0; k < g.n; ++k) invPerm[p[k]] = k;
  return invPerm;
}

// Eliminating a leaf of a tree creates no fill, so ordering every tree of a forest children
// first is a perfect elimination ordering. Returns empty when the graph has a cycle.
std::vector<int32_t> forestOrder(const Graph& g) {
  const int32_t n = g.n;
  std::vector<int32_t> invPerm(static_cast<size_t>(n), -1);
  std::vector<int32_t> parent(static_cast<size_t>(n), -1);
  std::vector<int32_t> cursor(g.xadj.begin(), g.xadj.end() - 1);
  std::vector<int32_t> stack;
  stack.reserve(static_cast<size_t>(n));
  std::vector<char> seen(static_cast<size_t>(n), 0);
  int32_t position = 0;
  for (int32_t root = 0; root < n; ++root) {
    if (seen[root]) continue;
    seen[root] = 1;
    stack.push_back(root);
    while (!stack.empty()) {
      const int32_t v = stack.back();
      if (cursor[v] == g.xadj[v + 1]) {
        invPerm[v] = position++;
        stack.pop_back();
        continue;
      }
      const int32_t w = g.adj[cursor[v]++];
      if (w == parent[v]) continue;
      if (seen[w]) return {};
      seen[w] = 1;
      parent[w] = v;
      stack.push_back(w);
    }
  }
  return invPerm;
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

// Renumbers invPerm by a postorder of the elimination tree of the permuted matrix: the fill is
// unchanged and each supernode's columns become contiguous.
void postorderEliminationTree(const Graph& g, std::vector<int32_t>& invPerm) {
  const int32_t n = g.n;
  std::vector<int32_t> perm(static_cast<size_t>(n));
  for (int32_t v = 0; v < n; ++v) perm[invPerm[v]] = v;

  std::vector<int32_t> parent(static_cast<size_t>(n), -1);
  std::vector<int32_t> ancestor(static_cast<size_t>(n), -1);
  for (int32_t k = 0; k < n; ++k) {
    const int32_t v = perm[k];
    for (int32_t e = g.xadj[v]; e < g.xadj[v + 1]; ++e) {
      int32_t i = invPerm[g.adj[e]];
      while (i != -1 && i < k) {
        const int32_t next = ancestor[i];
        ancestor[i] = k;
        if (next == -1) parent[i] = k;
        i = next;
      }
    }
  }

  std::vector<int32_t> head(static_cast<size_t>(n), -1);
  std::vector<int32_t> sibling(static_cast<size_t>(n), -1);
  for (int32_t j = n - 1; j >= 0; --j) {
    if (parent[j] == -1) continue;
    sibling[j] = head[parent[j]];
    head[parent[j]] = j;
  }
  std::vector<int32_t> newPosition(static_cast<size_t>(n));
  std::vector<int32_t> stack;
  stack.reserve(static_cast<size_t>(n));
  int32_t position = 0;
  for (int32_t root = 0; root < n; ++root) {
    if (parent[root] != -1) continue;
    stack.push_back(root);
    while (!stack.empty()) {
      const int32_t j = stack.back();
      const int32_t child = head[j];
      if (child == -1) {
        newPosition[j] = position++;
        stack.pop_back();
      } else {
        head[j] = sibling[child];
        stack.push_back(child);
      }
    }
  }
  for (int32_t v = 0; v < n; ++v) invPerm[v] = newPosition[invPerm[v]];
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

  Graph g = buildGraph(a);
  std::vector<int32_t> invPerm;
  if (kind == Method::tree) invPerm = forestOrder(g);
  if (kind == Method::amd) {
    invPerm = amdOrder(g);
  } else if (invPerm.empty()) {
    invPerm = metisOrder(g);
  }
  if (!invPerm.empty()) postorderEliminationTree(g, invPerm);
  return invPerm;
}

}  // namespace orv
