// The solution through exp_solve_v3 beside the factor's own solve with the two permutations, on
// the same matrix and the same ordering, and the price of the post-solve check.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "bench_support.h"
#include "factor/factor.h"
#include "factor/permute.h"

namespace {

using orv::bench::LibrarySystem;

// A brick solid of about 20 000 equations: blocks of 1000 columns stay within memory.
constexpr int kEquations = 20'000;

struct Problem {
  int n;
  std::vector<orv::models::Triplet> records;
};

const Problem& problem() {
  static const Problem p = [] {
    const orv::models::BrickSolid brick = orv::bench::brickOfSize(kEquations);
    return Problem{brick.size(), orv::bench::stiffnessRecords(brick)};
  }();
  return p;
}

// A host's descriptor for an n x columns block.
struct Block {
  Block(int n, int columns, double fill) : data(static_cast<size_t>(n) * columns, fill) {
    storage.resize(sizeof(SAFEARRAY) + sizeof(SAFEARRAYBOUND));
    descriptor = reinterpret_cast<SAFEARRAY*>(storage.data());
    descriptor->cDims = 2;
    descriptor->cbElements = sizeof(double);
    descriptor->pvData = data.data();
    SAFEARRAYBOUND* bounds = descriptor->rgsabound;
    bounds[0].cElements = static_cast<uint32_t>(columns);
    bounds[1].cElements = static_cast<uint32_t>(n);
  }
  std::vector<double> data;
  std::vector<unsigned char> storage;
  SAFEARRAY* descriptor;
};

void rightHandSides(std::vector<double>& b, int n) {
  for (size_t k = 0; k < b.size(); ++k) {
    b[k] = std::sin(0.001 * static_cast<double>(k % n) + static_cast<double>(k / n));
  }
}

void runExport(benchmark::State& state, bool postSolveCheck) {
  const Problem& p = problem();
  const int nrhs = static_cast<int>(state.range(0));
  LibrarySystem system;
  system.assemble(p.n, p.records);
  exp_createCCS_v3(system.get(), 0);
  if (exp_factor_v3(system.get(), "") != 0) state.SkipWithError("factorisation failed");
  int enable = postSolveCheck ? 1 : 0;
  double threshold = -7.5;
  int refineMax = 2;
  exp_checksSettings_v3(system.get(), &enable, &threshold, &refineMax, 16);
  Block x(p.n, nrhs, 0.0);
  Block b(p.n, nrhs, 0.0);
  rightHandSides(b.data, p.n);
  for (auto _ : state) {
    if (exp_solve_v3(system.get(), &x.descriptor, &b.descriptor) != 0) {
      state.SkipWithError("solve failed");
    }
  }
  state.counters["columns"] = nrhs;
}

void BM_Solve_Library(benchmark::State& state) { runExport(state, false); }
void BM_SolveChecked_Library(benchmark::State& state) { runExport(state, true); }

// What the export does around it, done directly on a matrix of the library's own classes.
void BM_Solve_FactorAndPermutations(benchmark::State& state) {
  const Problem& p = problem();
  const int nrhs = static_cast<int>(state.range(0));
  orv::ccsSymSPDMatrix a;
  a.initialise(p.n, p.records.size());
  for (const auto& t : p.records) a.incrElement(t.row, t.col, t.value);
  a.createCCS();
  a.factor("");
  const size_t n = static_cast<size_t>(p.n);
  std::vector<double> b(n * nrhs);
  rightHandSides(b, p.n);
  std::vector<double> x(b.size());
  std::vector<double> pb(b.size());
  std::vector<double> px(b.size());
  const int32_t* invPerm = a.invPerm().data();
  for (auto _ : state) {
    for (int k = 0; k < nrhs; ++k) orv::scatterByPerm(p.n, &b[k * n], &pb[k * n], invPerm);
    a.L().solve(px.data(), pb.data(), nrhs);
    for (int k = 0; k < nrhs; ++k) orv::gatherByPerm(p.n, &px[k * n], &x[k * n], invPerm);
  }
  state.counters["columns"] = nrhs;
}

void widths(benchmark::internal::Benchmark* b) {
  for (int nrhs : {1, 10, 100, 1000}) b->Arg(nrhs);
}

BENCHMARK(BM_Solve_Library)->Apply(widths)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Solve_FactorAndPermutations)
    ->Apply(widths)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_SolveChecked_Library)->Apply(widths)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
