// Factorisation and solution through the library's exports beside Eigen's SimplicialLLT with METIS
// ordering, on the same matrices in the same run.
//
//   BM_Factor_Library/<p>          exp_factor_v3 on a freshly assembled A: METIS ordering, symbolic
//                                  and numeric factorisation; checks off, as Eigen has none
//   BM_Factor_EigenMetis/<p>       SimplicialLLT<Lower, MetisOrdering>::compute
//   BM_Solve_Library/<p>/<nrhs>    exp_solve_v3 for nrhs columns on the factored A
//   BM_Solve_EigenMetis/<p>/<nrhs> SimplicialLLT::solve for the same columns
//
// Beside the solve times, err is the largest difference between the two routes' solutions
// relative to the largest entry; beside the factorisation times, n and the stored entries of A.
// Real matrices come from ../shared/matrices beside the repository, or from the folder named by
// the environment variable ORV_MATRICES_DIR.
#include <ORVSparseSolver/exports.h>
#include <benchmark/benchmark.h>

// Eigen's MetisSupport uses std::cerr without including <iostream>.
#include <iostream>

#include <Eigen/MetisSupport>
#include <Eigen/SparseCholesky>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

using orv::bench::LibrarySystem;
using orv::models::Triplet;
using SparseMatrix = Eigen::SparseMatrix<double, Eigen::ColMajor, int>;
using EigenSolver = Eigen::SimplicialLLT<SparseMatrix, Eigen::Lower, Eigen::MetisOrdering<int>>;

std::string matricesDir() {
  if (const char* dir = std::getenv("ORV_MATRICES_DIR")) return dir;
  return (std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "shared" / "matrices")
      .string();
}

struct Matrix {
  int n = 0;
  std::vector<Triplet> lower;  // summed, lower triangle
};

Matrix generated(const orv::models::Model& model) {
  return {model.size(), orv::models::sumDuplicates(orv::bench::stiffnessRecords(model))};
}

Matrix frame() {
  orv::models::FrameParameters p;
  p.storeys = 20;
  p.baysX = 6;
  p.baysY = 6;
  p.floorMass = 800.0;
  return generated(orv::models::BuildingFrame(p));
}

Matrix fromFile(const std::string& name) {
  orv::models::SymmetricMatrix s = orv::models::readSymmetric(matricesDir() + "/" + name);
  return {s.n, orv::models::sumDuplicates(std::move(s.lower))};
}

struct Problem {
  const char* name;
  Matrix (*make)();
};

// 5 880, 11 520, 11 948 and 5 357 equations.
const Problem kProblems[] = {
    {"frame 20x6x6", frame},
    {"solid 11k", [] { return generated(orv::bench::brickOfSize(10'000)); }},
    {"bcsstk18", [] { return fromFile("bcsstk18.mtx"); }},
    {"s3rmt3m3", [] { return fromFile("s3rmt3m3.mtx"); }},
};

const Matrix& problem(int index) {
  static std::map<int, Matrix> cache;
  auto it = cache.find(index);
  if (it == cache.end()) it = cache.emplace(index, kProblems[index].make()).first;
  return it->second;
}

// The problem of the benchmark's first argument, or null after SkipWithError when its file cannot
// be read.
const Matrix* problemOf(benchmark::State& state) {
  const auto index = static_cast<int>(state.range(0));
  state.SetLabel(kProblems[index].name);
  try {
    return &problem(index);
  } catch (const orv::models::MatrixMarketError& e) {
    state.SkipWithError(e.what());
    return nullptr;
  }
}

SparseMatrix eigenMatrix(const Matrix& m) {
  std::vector<Eigen::Triplet<double, int>> entries;
  entries.reserve(m.lower.size());
  for (const Triplet& t : m.lower) entries.emplace_back(t.row, t.col, t.value);
  SparseMatrix a(m.n, m.n);
  a.setFromTriplets(entries.begin(), entries.end());
  return a;
}

// Assembles and converts A, checks off so that exp_factor_v3 does what compute() does.
void prepare(LibrarySystem& system, const Matrix& m) {
  system.assemble(m.n, m.lower);
  exp_createCCS_v3(system.get(), 0);
  for (int32_t code : {1, 2, 4, 8, 16}) {
    int32_t enable = 0;
    double value = 0.0;
    int32_t ivalue = 0;
    exp_checksSettings_v3(system.get(), &enable, &value, &ivalue, code);
  }
}

// A SAFEARRAY over a column-major n x columns block.
class Block {
 public:
  Block(int n, int columns, std::vector<double> values)
      : values_(std::move(values)), storage_(sizeof(SAFEARRAY) + sizeof(SAFEARRAYBOUND)) {
    descriptor_ = reinterpret_cast<SAFEARRAY*>(storage_.data());
    descriptor_->cDims = 2;
    descriptor_->cbElements = sizeof(double);
    descriptor_->pvData = values_.data();
    descriptor_->rgsabound[0].cElements = static_cast<uint32_t>(columns);
    const SAFEARRAYBOUND rows{static_cast<uint32_t>(n), 0};
    std::copy_n(reinterpret_cast<const unsigned char*>(&rows), sizeof rows,
                storage_.data() + sizeof(SAFEARRAY));
  }
  SAFEARRAY** address() { return &descriptor_; }
  const std::vector<double>& values() const { return values_; }

 private:
  std::vector<double> values_;
  std::vector<unsigned char> storage_;
  SAFEARRAY* descriptor_;
};

std::vector<double> randomBlock(std::size_t count) {
  std::mt19937 generator(42u);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<double> b(count);
  for (double& v : b) v = uniform(generator);
  return b;
}

void BM_Factor_Library(benchmark::State& state) {
  const Matrix* m = problemOf(state);
  if (m == nullptr) return;
  LibrarySystem system;
  for (auto _ : state) {
    state.PauseTiming();
    prepare(system, *m);
    state.ResumeTiming();
    if (exp_factor_v3(system.get(), "metis_node") != 0) state.SkipWithError("factorisation failed");
  }
  state.counters["n"] = m->n;
  state.counters["entries"] = static_cast<double>(m->lower.size());
}

void BM_Factor_EigenMetis(benchmark::State& state) {
  const Matrix* m = problemOf(state);
  if (m == nullptr) return;
  const SparseMatrix a = eigenMatrix(*m);
  for (auto _ : state) {
    EigenSolver solver;
    solver.compute(a);
    if (solver.info() != Eigen::Success) state.SkipWithError("factorisation failed");
  }
  state.counters["n"] = m->n;
  state.counters["entries"] = static_cast<double>(m->lower.size());
}

// Both routes factored once per problem, and the solutions they give for each column count.
struct SolveSetup {
  LibrarySystem library;
  EigenSolver eigen;
};

SolveSetup& solveSetup(int index) {
  static std::map<int, std::unique_ptr<SolveSetup>> cache;
  auto& entry = cache[index];
  if (!entry) {
    entry = std::make_unique<SolveSetup>();
    prepare(entry->library, problem(index));
    exp_factor_v3(entry->library.get(), "metis_node");
    entry->eigen.compute(eigenMatrix(problem(index)));
  }
  return *entry;
}

double relativeDifference(const std::vector<double>& x, const std::vector<double>& y) {
  double diff = 0.0, scale = 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    diff = std::max(diff, std::fabs(x[i] - y[i]));
    scale = std::max(scale, std::fabs(y[i]));
  }
  return diff / scale;
}

std::vector<double> eigenSolve(SolveSetup& s, int n, int columns) {
  const std::vector<double> b = randomBlock(static_cast<std::size_t>(n) * columns);
  const Eigen::Map<const Eigen::MatrixXd> bm(b.data(), n, columns);
  const Eigen::MatrixXd x = s.eigen.solve(bm);
  return {x.data(), x.data() + x.size()};
}

void BM_Solve_Library(benchmark::State& state) {
  const Matrix* m = problemOf(state);
  if (m == nullptr) return;
  const int n = m->n;
  const auto columns = static_cast<int>(state.range(1));
  SolveSetup& s = solveSetup(static_cast<int>(state.range(0)));
  Block b(n, columns, randomBlock(static_cast<std::size_t>(n) * columns));
  Block x(n, columns, std::vector<double>(static_cast<std::size_t>(n) * columns));
  for (auto _ : state) {
    if (exp_solve_v3(s.library.get(), x.address(), b.address()) != 0) {
      state.SkipWithError("solve failed");
    }
    benchmark::DoNotOptimize(x.values().data());
  }
  state.counters["err"] = relativeDifference(x.values(), eigenSolve(s, n, columns));
}

void BM_Solve_EigenMetis(benchmark::State& state) {
  const Matrix* m = problemOf(state);
  if (m == nullptr) return;
  const int n = m->n;
  const auto columns = static_cast<int>(state.range(1));
  SolveSetup& s = solveSetup(static_cast<int>(state.range(0)));
  const std::vector<double> b = randomBlock(static_cast<std::size_t>(n) * columns);
  const Eigen::Map<const Eigen::MatrixXd> bm(b.data(), n, columns);
  Eigen::MatrixXd x(n, columns);
  for (auto _ : state) {
    x = s.eigen.solve(bm);
    benchmark::DoNotOptimize(x.data());
  }
}

void factorArguments(benchmark::internal::Benchmark* b) {
  for (int index = 0; index < static_cast<int>(std::size(kProblems)); ++index) b->Arg(index);
}

void solveArguments(benchmark::internal::Benchmark* b) {
  for (int index = 0; index < static_cast<int>(std::size(kProblems)); ++index) {
    for (const int columns : {1, 16}) b->Args({index, columns});
  }
}

BENCHMARK(BM_Factor_Library)->Apply(factorArguments)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Factor_EigenMetis)
    ->Apply(factorArguments)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Solve_Library)->Apply(solveArguments)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Solve_EigenMetis)->Apply(solveArguments)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
