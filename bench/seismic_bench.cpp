// Modal combination of 24 quantities per mode: each instruction-set path on the same data.
// "mismatch" counts the lanes whose bits differ from the scalar path (NaN payloads aside); it
// must read 0.
#include <benchmark/benchmark.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "seismic/kernels.h"
#include "seismic/seismic.h"

namespace {

using orv::seismic::KernelSet;
using orv::seismic::SimdPath;

constexpr int kLanes = orv::kResponsesPerMode;
constexpr SimdPath kPaths[] = {SimdPath::scalar, SimdPath::sse, SimdPath::avx2};
constexpr const char* kPathNames[] = {"scalar", "sse", "avx2"};

enum Rule { srss, cqc, absSum };

// Modal data of a tall building: frequencies rising from 0.5 Hz, a few of them close
// together, and responses that fall with frequency.
struct ModalData {
  explicit ModalData(int numModes)
      : storage(static_cast<size_t>(numModes) * kLanes + 4), frequencies(numModes) {
    std::mt19937 rng(12345u);
    std::uniform_real_distribution<float> shape(-1.0f, 1.0f);
    std::uniform_real_distribution<float> step(0.05f, 0.5f);
    blocks = storage.data() + (16 - reinterpret_cast<uintptr_t>(storage.data()) % 16) % 16 / 4;
    float f = 0.5f;
    for (int i = 0; i < numModes; ++i) {
      frequencies[i] = f;
      f = (i % 7 == 3) ? f * 1.01f : f + step(rng);
      for (int l = 0; l < kLanes; ++l) blocks[i * kLanes + l] = shape(rng) / (f * f);
    }
  }
  std::vector<float> storage;
  float* blocks;
  std::vector<float> frequencies;
};

struct alignas(16) Block {
  float v[kLanes];
};

void run(const KernelSet& k, Rule rule, int n, const float* table, const float* in, float* out) {
  switch (rule) {
    case srss:
      k.srss(n, in, out);
      break;
    case cqc:
      k.cqc(n, table, in, out);
      break;
    case absSum:
      k.absSum(n, in, out);
      break;
  }
}

void combine(benchmark::State& state, Rule rule) {
  const SimdPath path = kPaths[state.range(0)];
  const int numModes = static_cast<int>(state.range(1));
  const KernelSet* kernels = orv::seismic::kernelsFor(path);
  if (kernels == nullptr) {
    state.SkipWithError("this processor cannot run the path");
    return;
  }
  const ModalData data(numModes);
  const orv::MediaSismicaCorr corr(numModes, data.frequencies.data(), 0.05f);
  const float* table = corr.coeffs().data();

  Block out{};
  for (auto _ : state) {
    // SRSS and the absolute sum add onto the incoming block: start each pass from zeros.
    out = Block{};
    run(*kernels, rule, numModes, table, data.blocks, out.v);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }

  Block expected{};
  run(orv::seismic::scalarKernels, rule, numModes, table, data.blocks, expected.v);
  int mismatch = 0;
  for (int l = 0; l < kLanes; ++l) {
    const bool same = std::bit_cast<uint32_t>(out.v[l]) == std::bit_cast<uint32_t>(expected.v[l]);
    mismatch += same || (std::isnan(out.v[l]) && std::isnan(expected.v[l])) ? 0 : 1;
  }
  state.counters["mismatch"] = mismatch;
  const double pairs = rule == cqc ? 0.5 * numModes * (numModes - 1) + numModes : numModes;
  state.counters["modes"] = numModes;
  state.counters["terms/s"] = benchmark::Counter(pairs * static_cast<double>(state.iterations()),
                                                 benchmark::Counter::kIsRate);
  state.SetLabel(kPathNames[state.range(0)]);
}

void arguments(benchmark::internal::Benchmark* b) {
  b->ArgNames({"path", "modes"});
  for (int64_t modes : {50, 200, 1000}) {
    for (int64_t path = 0; path < 3; ++path) b->Args({path, modes});
  }
}

BENCHMARK_CAPTURE(combine, cqc, cqc)->Apply(arguments);
BENCHMARK_CAPTURE(combine, srss, srss)->Apply(arguments);
BENCHMARK_CAPTURE(combine, abs, absSum)->Apply(arguments);

// Building the correlation table, done once per CQC object.
void buildTable(benchmark::State& state) {
  const int numModes = static_cast<int>(state.range(0));
  const ModalData data(numModes);
  for (auto _ : state) {
    const orv::MediaSismicaCorr corr(numModes, data.frequencies.data(), 0.05f);
    benchmark::DoNotOptimize(corr.coeffs().data());
  }
}
BENCHMARK(buildTable)->Arg(200)->Arg(1000);

}  // namespace
