// The smallest modes of generated structures through the library's eigensystem driver, beside a
// shift-invert Lanczos built directly on arpack-ng (mode 3, σ = 0) and CHOLMOD for the same
// matrices, and the dense route on its own.
//
//   eigen_bench --benchmark_filter=frame50k     one structure, every row
//   eigen_bench --benchmark_filter=Dense        the dense route for n = 2000
//
// Each row runs once (minutes for the 200k models on two cores); add --benchmark_repetitions=3
// and compare CPU times on a machine shared with other work. The Lanczos start vector is ARPACK's
// random one on both sides, so the number of restarts, and with it the time, varies from run to
// run.
//
// Rows:
//   Factor/<model>               the library's ordering, symbolic and numeric factorisation
//   CholmodFactor/<model>        cholmod_l_analyze + cholmod_l_factorize
//   EigenSystem/<model>/<nev>    the driver on the factored matrix, eigenvectors included, with the
//                                route it chooses (the block route for these models)
//   ArpackRoute/<model>/<nev>    the driver with its ARPACK route only
//   ShiftInvert/<model>/<nev>    the baseline's Lanczos on its factor, eigenvectors included
//   DenseRoute/<n>/<nev>         the driver's dense route (iterative routes switched off)
// Beside each time: xFactor, the time as a multiple of the same side's factorisation; residual,
// the largest ‖K x − λ M x‖ / (λ ‖M x‖) over the modes found; swept, the vectors the operator
// (or the baseline's solve) was applied to, and msPerSwept, the time per swept vector; and for
// the driver diffBaseline, the largest relative difference of its eigenvalues from the
// baseline's.
#include <benchmark/benchmark.h>
#include <cholmod.h>
#include <arpack/arpack.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "eigen/eigen.h"
#include "factor/cholmod_view.h"
#include "models/models.h"

namespace {

using orv::CcsRecord;

double seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct ModelSpec {
  std::string name;
  std::function<std::unique_ptr<orv::models::Model>()> make;
};

std::unique_ptr<orv::models::Model> frame(int storeys, int bays) {
  orv::models::FrameParameters p;
  p.storeys = storeys;
  p.baysX = bays;
  p.baysY = bays;
  p.floorMass = 600.0;
  return std::make_unique<orv::models::BuildingFrame>(p);
}

std::unique_ptr<orv::models::Model> brick(int nx, int nyz) {
  orv::models::BrickParameters p;
  p.nx = nx;
  p.ny = nyz;
  p.nz = nyz;
  p.lx = 2.0 * nx;
  p.ly = 1.0 * nyz;
  p.lz = 1.2 * nyz;
  return std::make_unique<orv::models::BrickSolid>(p);
}

// 52 920, 201 840, 52 920, 201 840 and 2 025 equations.
const ModelSpec kModels[] = {
    {"frame50k", [] { return frame(20, 20); }}, {"frame200k", [] { return frame(40, 28); }},
    {"brick50k", [] { return brick(40, 20); }}, {"brick200k", [] { return brick(80, 28); }},
    {"brick2k", [] { return brick(27, 4); }},
};

// Records of one matrix of a model, handed to a library matrix.
class MatrixSink : public orv::models::AssemblySink {
 public:
  MatrixSink(orv::ccsSymSPDMatrix& k, orv::ccsSymMatrix& m) : k_(k), m_(m) {}
  void add(int row, int col, double value, int whichMatrix) override {
    if (whichMatrix == orv::models::kStiffness) {
      k_.incrElement(row, col, value);
    } else {
      m_.incrElement(row, col, value);
    }
  }

 private:
  orv::ccsSymSPDMatrix& k_;
  orv::ccsSymMatrix& m_;
};

void disableCheck(orv::ccsSymSPDMatrix& a, int32_t code) {
  int32_t enable = 0;
  double value = 0.0;
  int32_t ivalue = 0;
  a.checksSettings(&enable, &value, &ivalue, code);
}

// K and M assembled into library matrices; K's checks off, so factor() is the factorisation only.
struct LibraryProblem {
  orv::ccsSymSPDMatrix k;
  orv::ccsSymMatrix m{'B'};

  explicit LibraryProblem(const orv::models::Model& model) {
    const size_t reserve = 60 * static_cast<size_t>(model.size());
    k.initialise(model.size(), reserve);
    m.initialise(model.size(), reserve);
    MatrixSink sink(k, m);
    model.assemble(sink);
    k.createCCS();
    m.createCCS();
    disableCheck(k, 1);
    disableCheck(k, 8);
  }
};

cholmod_dense column(double* x, size_t n) {
  cholmod_dense d{};
  d.nrow = n;
  d.ncol = 1;
  d.nzmax = n;
  d.d = n;
  d.x = x;
  d.xtype = CHOLMOD_REAL;
  d.dtype = CHOLMOD_DOUBLE;
  return d;
}

// Shift-invert Lanczos at σ = 0 straight on arpack-ng and CHOLMOD: OP = K⁻¹ M, M-inner product.
class ShiftInvertBaseline {
 public:
  ShiftInvertBaseline(const CcsRecord& k, const CcsRecord& m) : k_(k), m_(m) {
    cholmod_l_start(&common_);
    common_.print = 0;
  }
  ~ShiftInvertBaseline() {
    if (factor_ != nullptr) cholmod_l_free_factor(&factor_, &common_);
    cholmod_l_finish(&common_);
  }
  ShiftInvertBaseline(const ShiftInvertBaseline&) = delete;
  ShiftInvertBaseline& operator=(const ShiftInvertBaseline&) = delete;

  int64_t solves = 0;  // of the latest solve()

  void factor() {
    if (factor_ != nullptr) cholmod_l_free_factor(&factor_, &common_);
    factor_ = cholmod_l_analyze(&k_.matrix, &common_);
    if (factor_ == nullptr || !cholmod_l_factorize(&k_.matrix, factor_, &common_) ||
        common_.status != CHOLMOD_OK) {
      throw std::runtime_error("CHOLMOD factorisation failed");
    }
  }

  // The nev smallest eigenpairs, ascending; returns the number converged.
  int solve(int nev, std::vector<double>& lambda, std::vector<double>& x) {
    solves = 0;
    const a_int n = static_cast<a_int>(k_.matrix.nrow);
    const a_int ncv = std::min<a_int>(2 * nev + 1, n);
    const a_int lworkl = ncv * (ncv + 8);
    const size_t un = static_cast<size_t>(n);
    std::vector<double> resid(un), v(un * static_cast<size_t>(ncv)), workd(3 * un);
    std::vector<double> workl(static_cast<size_t>(lworkl)), mx(un);
    std::vector<a_int> select(static_cast<size_t>(ncv));
    a_int iparam[11] = {};
    a_int ipntr[14] = {};
    iparam[0] = 1;
    iparam[2] = 100 * nev;
    iparam[6] = 3;
    a_int ido = 0;
    a_int info = 0;
    for (;;) {
      arpack::saupd(ido, arpack::bmat::generalized, n, arpack::which::largest_magnitude, nev, 0.0,
                    resid.data(), ncv, v.data(), n, iparam, ipntr, workd.data(), workl.data(),
                    lworkl, info);
      double* in = workd.data() + ipntr[0] - 1;
      double* out = workd.data() + ipntr[1] - 1;
      if (ido == -1) {
        multiplyM(in, mx.data());
        solveK(mx.data(), out);
      } else if (ido == 1) {
        solveK(workd.data() + ipntr[2] - 1, out);
      } else if (ido == 2) {
        multiplyM(in, out);
      } else {
        break;
      }
    }
    if (info < 0 || iparam[4] < 1) return 0;
    lambda.assign(static_cast<size_t>(nev), 0.0);
    x.assign(un * static_cast<size_t>(nev), 0.0);
    arpack::seupd(1, arpack::howmny::ritz_vectors, select.data(), lambda.data(), x.data(), n, 0.0,
                  arpack::bmat::generalized, n, arpack::which::largest_magnitude, nev, 0.0,
                  resid.data(), ncv, v.data(), n, iparam, ipntr, workd.data(), workl.data(), lworkl,
                  info);
    return info == 0 ? static_cast<int>(iparam[4]) : 0;
  }

 private:
  void multiplyM(const double* in, double* out) {
    double one[2] = {1.0, 0.0};
    double zero[2] = {0.0, 0.0};
    cholmod_dense xd = column(const_cast<double*>(in), m_.matrix.nrow);
    cholmod_dense yd = column(out, m_.matrix.nrow);
    cholmod_l_sdmult(&m_.matrix, 0, one, zero, &xd, &yd, &common_);
  }

  void solveK(double* in, double* out) {
    ++solves;
    cholmod_dense bd = column(in, k_.matrix.nrow);
    cholmod_dense* solution = cholmod_l_solve(CHOLMOD_A, factor_, &bd, &common_);
    std::copy_n(static_cast<const double*>(solution->x), k_.matrix.nrow, out);
    cholmod_l_free_dense(&solution, &common_);
  }

  orv::CholmodSparseView k_;
  orv::CholmodSparseView m_;
  cholmod_common common_{};
  cholmod_factor* factor_ = nullptr;
};

// One model, both sides factored once, with their factorisation times and the baseline's modes.
struct Setup {
  std::unique_ptr<LibraryProblem> library;
  std::unique_ptr<ShiftInvertBaseline> baseline;
  double libraryFactorSeconds = 0.0;
  double baselineFactorSeconds = 0.0;
  std::map<int, std::vector<double>> baselineLambda;
};

Setup& setup(int model) {
  static std::map<int, Setup> cache;
  auto it = cache.find(model);
  if (it != cache.end()) return it->second;
  Setup& s = cache[model];
  const std::unique_ptr<orv::models::Model> m = kModels[model].make();
  s.library = std::make_unique<LibraryProblem>(*m);
  auto start = std::chrono::steady_clock::now();
  s.library->k.factor("");
  s.libraryFactorSeconds = seconds(start);
  s.baseline =
      std::make_unique<ShiftInvertBaseline>(*s.library->k.matrix().ccs(), *s.library->m.ccs());
  start = std::chrono::steady_clock::now();
  s.baseline->factor();
  s.baselineFactorSeconds = seconds(start);
  return s;
}

// Largest ‖K x − λ M x‖ / (λ ‖M x‖) over the columns of x.
double residual(LibraryProblem& p, const std::vector<double>& lambda, const std::vector<double>& x,
                int count) {
  const size_t n = static_cast<size_t>(p.k.n());
  std::vector<double> kx(n), mx(n);
  double worst = 0.0;
  for (int j = 0; j < count; ++j) {
    const double* xj = x.data() + static_cast<size_t>(j) * n;
    p.k.matrix().multiply(xj, kx.data());
    p.m.multiply(xj, mx.data());
    double r = 0.0;
    double scale = 0.0;
    for (size_t i = 0; i < n; ++i) {
      r += std::pow(kx[i] - lambda[static_cast<size_t>(j)] * mx[i], 2);
      scale += mx[i] * mx[i];
    }
    worst = std::max(worst, std::sqrt(r / scale) / lambda[static_cast<size_t>(j)]);
  }
  return worst;
}

// Runs call once per iteration and returns the mean seconds of one call.
template <class Call>
double timed(benchmark::State& state, Call&& call) {
  double total = 0.0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    call();
    total += seconds(start);
  }
  return total / static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
}

void factorRow(benchmark::State& state, int model) {
  const std::unique_ptr<orv::models::Model> m = kModels[model].make();
  for (auto _ : state) {
    state.PauseTiming();
    auto problem = std::make_unique<LibraryProblem>(*m);
    state.ResumeTiming();
    problem->k.factor("");
    state.PauseTiming();
    problem.reset();
    state.ResumeTiming();
  }
  state.counters["n"] = m->size();
}

void cholmodFactorRow(benchmark::State& state, int model) {
  Setup& s = setup(model);
  for (auto _ : state) s.baseline->factor();
  state.counters["n"] = s.library->k.n();
}

void shiftInvertRow(benchmark::State& state, int model, int nev) {
  Setup& s = setup(model);
  std::vector<double> lambda;
  std::vector<double> x;
  int found = 0;
  const double t = timed(state, [&] { found = s.baseline->solve(nev, lambda, x); });
  state.counters["found"] = found;
  state.counters["residual"] = residual(*s.library, lambda, x, found);
  state.counters["xFactor"] = t / s.baselineFactorSeconds;
  state.counters["swept"] = static_cast<double>(s.baseline->solves);
  state.counters["msPerSwept"] =
      1e3 * t / static_cast<double>(std::max<int64_t>(s.baseline->solves, 1));
  s.baselineLambda[nev] = lambda;
}

enum class Route { chosen, arpack, dense };

// The driver's smallest nev modes with vectors by the route asked for.
void driverRow(benchmark::State& state, int model, int nev, Route route) {
  Setup& s = setup(model);
  const size_t n = static_cast<size_t>(s.library->k.n());
  std::vector<double> lambda(static_cast<size_t>(nev));
  std::vector<double> x(n * static_cast<size_t>(nev));
  int found = 0;
  int64_t swept = 0;
  orv::EigenRoutes routes;
  if (route != Route::chosen) routes.block = nullptr;
  if (route == Route::dense) routes.arpack = nullptr;
  routes.sweptVectors = &swept;
  const double t = timed(state, [&] {
    swept = 0;
    found = orv::eigenSystem(s.library->k, s.library->m, nev, lambda.data(), x.data(), routes);
  });
  state.counters["n"] = static_cast<double>(n);
  state.counters["swept"] = static_cast<double>(swept);
  state.counters["msPerSwept"] = 1e3 * t / static_cast<double>(std::max<int64_t>(swept, 1));
  state.counters["found"] = found;
  state.counters["residual"] = residual(*s.library, lambda, x, found);
  state.counters["xFactor"] = t / s.libraryFactorSeconds;
  const auto baseline = s.baselineLambda.find(nev);
  if (baseline != s.baselineLambda.end() && baseline->second.size() >= static_cast<size_t>(found)) {
    double diff = 0.0;
    for (int k = 0; k < found; ++k) {
      diff = std::max(diff, std::fabs(lambda[k] - baseline->second[k]) / baseline->second[k]);
    }
    state.counters["diffBaseline"] = diff;
  }
}

// Baseline rows come before the driver's rows of the same model, so that the driver can print
// its difference from the baseline's eigenvalues.
const bool registered = [] {
  const auto configure = [](benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
  };
  for (int model = 0; model < 4; ++model) {
    const std::string name = kModels[model].name;
    configure(benchmark::RegisterBenchmark(("Factor/" + name).c_str(), factorRow, model));
    configure(
        benchmark::RegisterBenchmark(("CholmodFactor/" + name).c_str(), cholmodFactorRow, model));
    for (const int nev : {20, 50, 100, 200}) {
      const std::string suffix = name + "/" + std::to_string(nev);
      configure(benchmark::RegisterBenchmark(("ShiftInvert/" + suffix).c_str(), shiftInvertRow,
                                             model, nev));
      configure(benchmark::RegisterBenchmark(("EigenSystem/" + suffix).c_str(), driverRow, model,
                                             nev, Route::chosen));
      configure(benchmark::RegisterBenchmark(("ArpackRoute/" + suffix).c_str(), driverRow, model,
                                             nev, Route::arpack));
    }
  }
  for (const int nev : {10, 400}) {
    configure(benchmark::RegisterBenchmark(("DenseRoute/brick2k/" + std::to_string(nev)).c_str(),
                                           driverRow, 4, nev, Route::dense));
  }
  return true;
}();

}  // namespace
