// Ordering + symbolic + numeric factorisation and multi-column solves through the library's
// pieces, beside the same work done by calling METIS and CHOLMOD directly on the same matrix.
//
//   factor_bench --benchmark_filter=Factor     factorisation, both routes, with GFLOP/s
//   factor_bench --benchmark_filter=Solve      solves for 1, 10, 100 columns, both routes
//   factor_bench --benchmark_filter=Dgemm      the machine's DGEMM rate on all cores
//
// The library's solves print, beside the time, the largest relative difference of their result
// from CHOLMOD's solve on the same factor (err), so a fast wrong answer shows. The factorisations
// print their flop count (Σ c_j² over the column counts of L) and rate. Run with
// --benchmark_repetitions=5 and read the "_min" rows on a machine shared with other work.
#include <benchmark/benchmark.h>
#include <cholmod.h>
#include <metis.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_matrices.h"
#include "factor/cholmod_view.h"
#include "factor/llfactor.h"
#include "factor/ordering.h"
#include "factor/permute.h"

extern "C" void dgemm_(const char* transa, const char* transb, const int* m, const int* n,
                       const int* k, const double* alpha, const double* a, const int* lda,
                       const double* b, const int* ldb, const double* beta, double* c,
                       const int* ldc);

namespace {

using orv::CcsRecord;

struct Problem {
  const char* name;
  CcsRecord (*make)();
};

const Problem kProblems[] = {
    {"solid20k", [] { return orv::bench::solidGrid(18, 18, 18, 1u); }},
    {"solid100k", [] { return orv::bench::solidGrid(31, 31, 31, 1u); }},
    {"bcsstk18", [] { return orv::bench::readMatrix("bcsstk18.mtx"); }},
    {"bcsstk25", [] { return orv::bench::readMatrix("bcsstk25.mtx"); }},
    {"s3rmt3m3", [] { return orv::bench::readMatrix("s3rmt3m3.mtx"); }},
};

const CcsRecord& matrix(int index) {
  static std::map<int, CcsRecord> cache;
  auto it = cache.find(index);
  if (it == cache.end()) it = cache.emplace(index, kProblems[index].make()).first;
  return it->second;
}

// Floating-point operations of the factorisation, Σ c_j² over the column counts of L (the count
// CHOLMOD reports), from the supernodal structure.
double factorFlops(const cholmod_factor* l) {
  const auto* super = static_cast<const int64_t*>(l->super);
  const auto* pi = static_cast<const int64_t*>(l->pi);
  double flops = 0.0;
  for (size_t k = 0; k < l->nsuper; ++k) {
    const int64_t rows = pi[k + 1] - pi[k];
    for (int64_t j = 0; j < super[k + 1] - super[k]; ++j) {
      const auto c = static_cast<double>(rows - j);
      flops += c * c;
    }
  }
  return flops;
}

struct Common {
  cholmod_common c;
  Common() {
    cholmod_l_start(&c);
    c.print = 0;
  }
  ~Common() { cholmod_l_finish(&c); }
};

// The direct route: METIS on the graph of A, then CHOLMOD with that permutation (it permutes and
// postorders internally) and its supernodal factorisation.
cholmod_factor* directFactor(const CcsRecord& r, cholmod_sparse* a, cholmod_common* c) {
  const int32_t n = r.n;
  std::vector<idx_t> degree(static_cast<size_t>(n) + 1, 0);
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t k = r.colptr[j]; k < r.colptr[j + 1]; ++k) {
      if (r.rowind[k] == j) continue;
      ++degree[r.rowind[k] + 1];
      ++degree[j + 1];
    }
  }
  for (int32_t j = 0; j < n; ++j) degree[j + 1] += degree[j];
  std::vector<idx_t> adjncy(static_cast<size_t>(degree[n]));
  std::vector<idx_t> next(degree.begin(), degree.end() - 1);
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t k = r.colptr[j]; k < r.colptr[j + 1]; ++k) {
      if (r.rowind[k] == j) continue;
      adjncy[next[r.rowind[k]]++] = j;
      adjncy[next[j]++] = r.rowind[k];
    }
  }
  idx_t nv = n;
  std::vector<idx_t> perm(static_cast<size_t>(n)), iperm(static_cast<size_t>(n));
  METIS_NodeND(&nv, degree.data(), adjncy.data(), nullptr, nullptr, perm.data(), iperm.data());
  std::vector<SuiteSparse_long> given(perm.begin(), perm.end());
  c->nmethods = 1;
  c->method[0].ordering = CHOLMOD_GIVEN;
  c->postorder = 1;
  c->supernodal = CHOLMOD_SUPERNODAL;
  cholmod_factor* l = cholmod_l_analyze_p(a, given.data(), nullptr, 0, c);
  cholmod_l_factorize(a, l, c);
  return l;
}

void BM_FactorOurs(benchmark::State& state) {
  const CcsRecord& a = matrix(static_cast<int>(state.range(0)));
  state.SetLabel(kProblems[state.range(0)].name);
  double flops = 0.0;
  for (auto _ : state) {
    const std::vector<int32_t> invPerm = orv::orderMatrix(a, "metis_node");
    const CcsRecord pap = orv::permuteSymmetric(a, invPerm);
    orv::llFactor factor;
    if (!factor.numeric(pap)) state.SkipWithError("factorisation failed");
    flops = factorFlops(reinterpret_cast<const cholmod_factor*>(factor.factor()));
  }
  state.counters["n"] = a.n;
  state.counters["GFLOP/s"] =
      benchmark::Counter(flops * 1e-9, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["Gflop"] = flops * 1e-9;
}

void BM_FactorDirect(benchmark::State& state) {
  const CcsRecord& a = matrix(static_cast<int>(state.range(0)));
  state.SetLabel(kProblems[state.range(0)].name);
  orv::CholmodSparseView ca(a);
  Common common;
  double flops = 0.0;
  for (auto _ : state) {
    cholmod_factor* l = directFactor(a, &ca.matrix, &common.c);
    if (common.c.status != CHOLMOD_OK) state.SkipWithError("factorisation failed");
    flops = factorFlops(l);
    cholmod_l_free_factor(&l, &common.c);
  }
  state.counters["n"] = a.n;
  state.counters["GFLOP/s"] =
      benchmark::Counter(flops * 1e-9, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["Gflop"] = flops * 1e-9;
}

// One factor per matrix for the solve benchmarks, in the library's ordering.
struct SolveSetup {
  std::vector<int32_t> invPerm;
  CcsRecord pap;
  orv::llFactor factor;
};

SolveSetup& solveSetup(int index) {
  static std::map<int, std::unique_ptr<SolveSetup>> cache;
  auto& entry = cache[index];
  if (!entry) {
    entry = std::make_unique<SolveSetup>();
    entry->invPerm = orv::orderMatrix(matrix(index), "metis_node");
    entry->pap = orv::permuteSymmetric(matrix(index), entry->invPerm);
    entry->factor.numeric(entry->pap);
  }
  return *entry;
}

std::vector<double> randomBlock(size_t count) {
  std::mt19937 generator(42u);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<double> b(count);
  for (double& v : b) v = uniform(generator);
  return b;
}

// CHOLMOD's view of an n x nrhs block, which it only reads.
cholmod_dense denseView(const std::vector<double>& b, size_t n, int nrhs) {
  cholmod_dense d{};
  d.nrow = n;
  d.ncol = static_cast<size_t>(nrhs);
  d.nzmax = b.size();
  d.d = n;
  d.x = const_cast<double*>(b.data());
  d.xtype = CHOLMOD_REAL;
  d.dtype = CHOLMOD_DOUBLE;
  return d;
}

// x from CHOLMOD's own supernodal solve on the same factor.
std::vector<double> cholmodSolve(SolveSetup& s, const std::vector<double>& b, int nrhs,
                                 Common& common) {
  const size_t n = static_cast<size_t>(s.pap.n);
  cholmod_dense bd = denseView(b, n, nrhs);
  cholmod_dense* x = nullptr;
  cholmod_dense* y = nullptr;
  cholmod_dense* e = nullptr;
  auto* l = const_cast<cholmod_factor*>(reinterpret_cast<const cholmod_factor*>(s.factor.factor()));
  cholmod_l_solve2(CHOLMOD_A, l, &bd, nullptr, &x, nullptr, &y, &e, &common.c);
  const auto* xv = static_cast<const double*>(x->x);
  std::vector<double> result(xv, xv + b.size());
  cholmod_l_free_dense(&x, &common.c);
  cholmod_l_free_dense(&y, &common.c);
  cholmod_l_free_dense(&e, &common.c);
  return result;
}

double relativeDifference(const std::vector<double>& x, const std::vector<double>& y) {
  double diff = 0.0, scale = 0.0;
  for (size_t i = 0; i < x.size(); ++i) {
    diff = std::max(diff, std::fabs(x[i] - y[i]));
    scale = std::max(scale, std::fabs(y[i]));
  }
  return diff / scale;
}

void BM_SolveOurs(benchmark::State& state) {
  SolveSetup& s = solveSetup(static_cast<int>(state.range(0)));
  state.SetLabel(kProblems[state.range(0)].name);
  const int nrhs = static_cast<int>(state.range(1));
  const size_t count = static_cast<size_t>(s.pap.n) * static_cast<size_t>(nrhs);
  const std::vector<double> b = randomBlock(count);
  std::vector<double> work(count), x(count);
  for (auto _ : state) {
    std::copy(b.begin(), b.end(), work.begin());
    s.factor.solve(x.data(), work.data(), nrhs);
    benchmark::DoNotOptimize(x.data());
  }
  Common common;
  state.counters["err"] = relativeDifference(x, cholmodSolve(s, b, nrhs, common));
}

void BM_SolveCholmod(benchmark::State& state) {
  SolveSetup& s = solveSetup(static_cast<int>(state.range(0)));
  state.SetLabel(kProblems[state.range(0)].name);
  const int nrhs = static_cast<int>(state.range(1));
  const size_t n = static_cast<size_t>(s.pap.n);
  const std::vector<double> b = randomBlock(n * static_cast<size_t>(nrhs));
  Common common;
  cholmod_dense bd = denseView(b, n, nrhs);
  cholmod_dense* x = nullptr;
  cholmod_dense* y = nullptr;
  cholmod_dense* e = nullptr;
  auto* l = const_cast<cholmod_factor*>(reinterpret_cast<const cholmod_factor*>(s.factor.factor()));
  for (auto _ : state) {
    cholmod_l_solve2(CHOLMOD_A, l, &bd, nullptr, &x, nullptr, &y, &e, &common.c);
    benchmark::DoNotOptimize(x->x);
  }
  cholmod_l_free_dense(&x, &common.c);
  cholmod_l_free_dense(&y, &common.c);
  cholmod_l_free_dense(&e, &common.c);
}

void BM_Dgemm(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> a = randomBlock(static_cast<size_t>(n) * n);
  std::vector<double> c(a.size(), 0.0);
  const char tn = 'N';
  const double one = 1.0, zero = 0.0;
  for (auto _ : state) {
    dgemm_(&tn, &tn, &n, &n, &n, &one, a.data(), &n, a.data(), &n, &zero, c.data(), &n);
    benchmark::DoNotOptimize(c.data());
  }
  state.counters["GFLOP/s"] = benchmark::Counter(2.0 * n * n * static_cast<double>(n) * 1e-9,
                                                 benchmark::Counter::kIsIterationInvariantRate);
}

// On a machine shared with other work the fastest repetition is the least disturbed one.
double fastest(const std::vector<double>& times) {
  return *std::min_element(times.begin(), times.end());
}

void factorArguments(benchmark::internal::Benchmark* b) {
  for (int index = 0; index < static_cast<int>(std::size(kProblems)); ++index) b->Arg(index);
  b->ComputeStatistics("min", fastest);
}

void solveArguments(benchmark::internal::Benchmark* b) {
  for (int index = 0; index < static_cast<int>(std::size(kProblems)); ++index) {
    for (int nrhs : {1, 10, 100}) b->Args({index, nrhs});
  }
  b->ComputeStatistics("min", fastest);
}

BENCHMARK(BM_FactorOurs)->Apply(factorArguments)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FactorDirect)->Apply(factorArguments)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SolveOurs)->Apply(solveArguments)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SolveCholmod)->Apply(solveArguments)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Dgemm)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
