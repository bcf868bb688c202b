// Assembly, conversion, product and 1-norm of the library beside CHOLMOD doing the same work on
// the same records in the same run.
#include <benchmark/benchmark.h>
#include <cholmod.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "bench_support.h"
#include "sparse/sparse.h"

namespace {

using orv::bench::LibrarySystem;
using orv::models::Triplet;

// About 10.5 million stiffness records: a 33 x 33 x 33 brick of 8-node elements.
constexpr int kEquations = 110'000;

struct Problem {
  int n;
  std::vector<Triplet> records;
};

const Problem& problem() {
  static const Problem p = [] {
    const orv::models::BrickSolid brick = orv::bench::brickOfSize(kEquations);
    return Problem{brick.size(), orv::bench::stiffnessRecords(brick)};
  }();
  return p;
}

class Cholmod {
 public:
  Cholmod() { cholmod_l_start(&common_); }
  ~Cholmod() { cholmod_l_finish(&common_); }
  Cholmod(const Cholmod&) = delete;
  Cholmod& operator=(const Cholmod&) = delete;
  cholmod_common* common() { return &common_; }

  // The records as a lower-triangle triplet matrix.
  cholmod_triplet* triplets(const Problem& p) {
    cholmod_triplet* t =
        cholmod_l_allocate_triplet(p.n, p.n, p.records.size(), -1, CHOLMOD_REAL, &common_);
    auto* i = static_cast<SuiteSparse_long*>(t->i);
    auto* j = static_cast<SuiteSparse_long*>(t->j);
    auto* x = static_cast<double*>(t->x);
    for (size_t k = 0; k < p.records.size(); ++k) {
      i[k] = p.records[k].row;
      j[k] = p.records[k].col;
      x[k] = p.records[k].value;
    }
    t->nnz = p.records.size();
    return t;
  }

 private:
  cholmod_common common_{};
};

void BM_Assembly_Library(benchmark::State& state) {
  const Problem& p = problem();
  LibrarySystem system;
  for (auto _ : state) system.assemble(p.n, p.records);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(p.records.size()));
  state.counters["records"] = static_cast<double>(p.records.size());
}
BENCHMARK(BM_Assembly_Library)->Unit(benchmark::kMillisecond);

// The same appends without the exports: what the call frame adds is the difference.
void BM_Assembly_PlainAppend(benchmark::State& state) {
  const Problem& p = problem();
  std::vector<orv::Triplet> store;
  for (auto _ : state) {
    store.clear();
    store.reserve(10 * static_cast<size_t>(p.n));
    for (const Triplet& t : p.records) store.push_back(orv::Triplet{t.row, t.col, t.value});
    benchmark::DoNotOptimize(store.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(p.records.size()));
}
BENCHMARK(BM_Assembly_PlainAppend)->Unit(benchmark::kMillisecond);

void BM_Conversion_Library(benchmark::State& state) {
  const Problem& p = problem();
  LibrarySystem system;
  for (auto _ : state) {
    state.PauseTiming();
    system.assemble(p.n, p.records);
    state.ResumeTiming();
    if (exp_createCCS_v3(system.get(), 0) != 0) state.SkipWithError("conversion failed");
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(p.records.size()));
}
BENCHMARK(BM_Conversion_Library)->Unit(benchmark::kMillisecond);

void BM_Conversion_Cholmod(benchmark::State& state) {
  const Problem& p = problem();
  Cholmod cholmod;
  cholmod_triplet* t = cholmod.triplets(p);
  for (auto _ : state) {
    cholmod_sparse* a = cholmod_l_triplet_to_sparse(t, 0, cholmod.common());
    benchmark::DoNotOptimize(a);
    cholmod_l_free_sparse(&a, cholmod.common());
  }
  cholmod_l_free_triplet(&t, cholmod.common());
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(p.records.size()));
}
BENCHMARK(BM_Conversion_Cholmod)->Unit(benchmark::kMillisecond);

// Both products of the same x; the largest difference is printed beside the time.
void BM_Product_Library(benchmark::State& state) {
  const Problem& p = problem();
  LibrarySystem system;
  system.assemble(p.n, p.records);
  exp_createCCS_v3(system.get(), 0);
  std::vector<double> x(static_cast<size_t>(p.n));
  for (int i = 0; i < p.n; ++i) x[i] = std::sin(0.1 * i);
  std::vector<double> y(x.size());
  for (auto _ : state) exp_multVector_v3(system.get(), x.data(), y.data(), 0);

  Cholmod cholmod;
  cholmod_triplet* t = cholmod.triplets(p);
  cholmod_sparse* a = cholmod_l_triplet_to_sparse(t, 0, cholmod.common());
  cholmod_dense* xd = cholmod_l_zeros(p.n, 1, CHOLMOD_REAL, cholmod.common());
  cholmod_dense* yd = cholmod_l_zeros(p.n, 1, CHOLMOD_REAL, cholmod.common());
  std::copy(x.begin(), x.end(), static_cast<double*>(xd->x));
  double alpha[2] = {1.0, 0.0};
  double beta[2] = {0.0, 0.0};
  cholmod_l_sdmult(a, 0, alpha, beta, xd, yd, cholmod.common());
  const double* reference = static_cast<const double*>(yd->x);
  double difference = 0.0;
  double size = 0.0;
  for (int i = 0; i < p.n; ++i) {
    difference = std::max(difference, std::fabs(y[i] - reference[i]));
    size = std::max(size, std::fabs(y[i]));
  }
  state.counters["rel_diff_vs_cholmod"] = difference / size;
  cholmod_l_free_dense(&xd, cholmod.common());
  cholmod_l_free_dense(&yd, cholmod.common());
  cholmod_l_free_sparse(&a, cholmod.common());
  cholmod_l_free_triplet(&t, cholmod.common());
}
BENCHMARK(BM_Product_Library)->Unit(benchmark::kMicrosecond);

void BM_Product_Cholmod(benchmark::State& state) {
  const Problem& p = problem();
  Cholmod cholmod;
  cholmod_triplet* t = cholmod.triplets(p);
  cholmod_sparse* a = cholmod_l_triplet_to_sparse(t, 0, cholmod.common());
  cholmod_dense* x = cholmod_l_zeros(p.n, 1, CHOLMOD_REAL, cholmod.common());
  cholmod_dense* y = cholmod_l_zeros(p.n, 1, CHOLMOD_REAL, cholmod.common());
  for (int i = 0; i < p.n; ++i) static_cast<double*>(x->x)[i] = std::sin(0.1 * i);
  double alpha[2] = {1.0, 0.0};
  double beta[2] = {0.0, 0.0};
  for (auto _ : state) cholmod_l_sdmult(a, 0, alpha, beta, x, y, cholmod.common());
  cholmod_l_free_dense(&x, cholmod.common());
  cholmod_l_free_dense(&y, cholmod.common());
  cholmod_l_free_sparse(&a, cholmod.common());
  cholmod_l_free_triplet(&t, cholmod.common());
}
BENCHMARK(BM_Product_Cholmod)->Unit(benchmark::kMicrosecond);

// The 1-norm is cached until the values change, so every timed call follows an edit that adds 0.
void BM_Norm1_Library(benchmark::State& state) {
  const Problem& p = problem();
  orv::ccsSymMatrix m('B');
  m.initialise(p.n, p.records.size());
  for (const Triplet& t : p.records) m.incrElement(t.row, t.col, t.value);
  m.createCCS();
  double norm = 0.0;
  for (auto _ : state) {
    m.incrElement(0, 0, 0.0);
    norm = m.computeNorm1();
  }
  Cholmod cholmod;
  cholmod_triplet* t = cholmod.triplets(p);
  cholmod_sparse* a = cholmod_l_triplet_to_sparse(t, 0, cholmod.common());
  state.counters["rel_diff_vs_cholmod"] =
      std::fabs(norm - cholmod_l_norm_sparse(a, 1, cholmod.common())) / norm;
  cholmod_l_free_sparse(&a, cholmod.common());
  cholmod_l_free_triplet(&t, cholmod.common());
}
BENCHMARK(BM_Norm1_Library)->Unit(benchmark::kMicrosecond);

void BM_Norm1_Cholmod(benchmark::State& state) {
  const Problem& p = problem();
  Cholmod cholmod;
  cholmod_triplet* t = cholmod.triplets(p);
  cholmod_sparse* a = cholmod_l_triplet_to_sparse(t, 0, cholmod.common());
  for (auto _ : state) benchmark::DoNotOptimize(cholmod_l_norm_sparse(a, 1, cholmod.common()));
  cholmod_l_free_sparse(&a, cholmod.common());
  cholmod_l_free_triplet(&t, cholmod.common());
}
BENCHMARK(BM_Norm1_Cholmod)->Unit(benchmark::kMicrosecond);

}  // namespace
