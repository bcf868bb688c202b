// Cost of the call frame: an unframed export, a barrier-only export and a guarded one, each
// doing almost nothing else, and the record append with and without the export around it.
#include <ORVSparseSolver/exports.h>
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

// A converted 1 x 1 system: the cheapest work a framed export can be given.
class TinySystem {
 public:
  TinySystem() {
    exp_initMatrix_v3(&handle_, 1, 0);
    exp_incrMatrixElem_v3(handle_, 0, 0, 2.0, 0);
    exp_createCCS_v3(handle_, 0);
  }
  ~TinySystem() { exp_deleteMatrix_v3(&handle_); }
  TinySystem(const TinySystem&) = delete;
  TinySystem& operator=(const TinySystem&) = delete;
  symRealSPDMatrixLinSys* get() const { return handle_; }

 private:
  symRealSPDMatrixLinSys* handle_ = nullptr;
};

void BM_UnframedGetLastError(benchmark::State& state) {
  TinySystem system;
  for (auto _ : state) {
    BSTR text = exp_getLastError_v3(system.get());
    benchmark::DoNotOptimize(text);
    SysFreeString(text);
  }
}
BENCHMARK(BM_UnframedGetLastError);

void BM_FrameE_SetElement(benchmark::State& state) {
  TinySystem system;
  for (auto _ : state) {
    benchmark::DoNotOptimize(exp_setMatrixElem_v3(system.get(), 0, 0, 2.0, 0));
  }
}
BENCHMARK(BM_FrameE_SetElement);

void BM_FrameEF_GetMaxDiagCached(benchmark::State& state) {
  TinySystem system;
  double maxDiag = 0.0;
  exp_getMaxDiag_v3(system.get(), &maxDiag);
  for (auto _ : state) {
    benchmark::DoNotOptimize(exp_getMaxDiag_v3(system.get(), &maxDiag));
  }
}
BENCHMARK(BM_FrameEF_GetMaxDiagCached);

constexpr int32_t kRecords = 1 << 20;

// Appending records through the export, as a host assembles.
void BM_AppendThroughExport(benchmark::State& state) {
  symRealSPDMatrixLinSys* handle = nullptr;
  exp_initMatrix_v3(&handle, kRecords, 0);
  for (auto _ : state) {
    state.PauseTiming();
    exp_initMatrix_v3(&handle, kRecords, 0);
    state.ResumeTiming();
    for (int32_t k = 0; k < kRecords; ++k) exp_incrMatrixElem_v3(handle, k, k, 1.0, 0);
  }
  exp_deleteMatrix_v3(&handle);
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_AppendThroughExport)->Unit(benchmark::kMillisecond);

// The same appends into a reserved vector: the work without the frame and the call.
void BM_AppendPlainVector(benchmark::State& state) {
  struct Record {
    int32_t row;
    int32_t column;
    double value;
  };
  std::vector<Record> records;
  for (auto _ : state) {
    state.PauseTiming();
    records.clear();
    records.reserve(10 * static_cast<size_t>(kRecords));
    state.ResumeTiming();
    for (int32_t k = 0; k < kRecords; ++k) records.push_back(Record{k, k, 1.0});
    benchmark::DoNotOptimize(records.data());
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_AppendPlainVector)->Unit(benchmark::kMillisecond);

}  // namespace
