// The calls the Python package makes, made from C++ on the same Matrix Market pair: the peer of
// python/bench/bench_binding.py, which runs this program and times the package beside it.
// ORV_BENCH_K and ORV_BENCH_M name the files.
#include <ORVSparseSolver/exports.h>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "models/matrix_market.h"

namespace {

struct Pair {
  orv::models::SymmetricMatrix K;
  orv::models::SymmetricMatrix M;
};

const Pair* pair() {
  static const Pair* loaded = [] {
    const char* k = std::getenv("ORV_BENCH_K");
    const char* m = std::getenv("ORV_BENCH_M");
    if (k == nullptr || m == nullptr) return static_cast<Pair*>(nullptr);
    return new Pair{orv::models::readSymmetric(k), orv::models::readSymmetric(m)};
  }();
  return loaded;
}

// A factorised system of the pair, released at the end of the benchmark.
class System {
 public:
  explicit System(const Pair& p) {
    assemble(p.K, 0);
    assemble(p.M, 1);
    exp_factor_v3(handle_, "metis_node");
  }
  ~System() { exp_deleteMatrix_v3(&handle_); }
  System(const System&) = delete;
  System& operator=(const System&) = delete;
  symRealSPDMatrixLinSys* get() const { return handle_; }

 private:
  void assemble(const orv::models::SymmetricMatrix& m, int which) {
    exp_initMatrix_v3(&handle_, m.n, which);
    for (const auto& t : m.lower) exp_incrMatrixElem_v3(handle_, t.row, t.col, t.value, which);
    exp_createCCS_v3(handle_, which);
  }
  symRealSPDMatrixLinSys* handle_ = nullptr;
};

// A descriptor over rows x columns doubles (a vector when columns is 0).
struct Block {
  Block(uint32_t rows, uint32_t columns)
      : data(static_cast<size_t>(rows) * (columns == 0 ? 1 : columns)),
        storage(sizeof(SAFEARRAY) + sizeof(SAFEARRAYBOUND)) {
    descriptor = reinterpret_cast<SAFEARRAY*>(storage.data());
    descriptor->cDims = columns == 0 ? 1 : 2;
    descriptor->cbElements = sizeof(double);
    descriptor->pvData = data.data();
    descriptor->rgsabound[0].cElements = columns == 0 ? rows : columns;
    descriptor->rgsabound[columns == 0 ? 0 : 1].cElements = rows;
  }
  std::vector<double> data;
  std::vector<unsigned char> storage;
  SAFEARRAY* descriptor;
};

void solveFromC(benchmark::State& state) {
  if (pair() == nullptr) return state.SkipWithError("ORV_BENCH_K and ORV_BENCH_M are not set");
  System system(*pair());
  const auto n = static_cast<uint32_t>(pair()->K.n);
  const auto nrhs = static_cast<uint32_t>(state.range(0));
  Block x(n, nrhs);
  Block b(n, nrhs);
  // The right-hand sides the Python side solves: column c holds sin(0.001 r + c).
  for (size_t k = 0; k < b.data.size(); ++k) {
    b.data[k] = std::sin(0.001 * static_cast<double>(k % n) + static_cast<double>(k / n));
  }
  for (auto _ : state) {
    if (exp_solve_v3(system.get(), &x.descriptor, &b.descriptor) != 0) {
      return state.SkipWithError("exp_solve_v3 failed");
    }
    benchmark::DoNotOptimize(x.data.data());
  }
}

void eigenFromC(benchmark::State& state) {
  if (pair() == nullptr) return state.SkipWithError("ORV_BENCH_K and ORV_BENCH_M are not set");
  System system(*pair());
  const auto count = static_cast<int32_t>(state.range(0));
  Block eig(static_cast<uint32_t>(count), 0);
  Block eiv(static_cast<uint32_t>(pair()->K.n), static_cast<uint32_t>(count));
  for (auto _ : state) {
    int32_t found = 0;
    if (exp_eigenSystem_v3(system.get(), count, &eig.descriptor, &eiv.descriptor, &found) != 0) {
      return state.SkipWithError("exp_eigenSystem_v3 failed");
    }
    benchmark::DoNotOptimize(eiv.data.data());
  }
}

BENCHMARK(solveFromC)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(eigenFromC)->Arg(10)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
