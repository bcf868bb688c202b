#include "host_sequence.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <utility>

namespace orv::test {
namespace {

// A host-side array descriptor with room for two bound records: rgsabound[0] counts the columns,
// rgsabound[1] the rows.
struct Descriptor {
  SAFEARRAY header;
  SAFEARRAYBOUND second;
};

Descriptor describe(double* data, uint32_t rows, uint32_t columns, uint16_t dims) {
  Descriptor d{};
  d.header.cDims = dims;
  d.header.cbElements = sizeof(double);
  d.header.pvData = data;
  d.header.rgsabound[0].cElements = dims == 1 ? rows : columns;
  d.second.cElements = rows;
  return d;
}

// The leading order x order block of a matrix given by lower-triangle records, in LAPACK's packed
// lower storage.
std::vector<double> packedLeading(const std::vector<models::Triplet>& records, int order) {
  std::vector<double> packed(static_cast<size_t>(order) * (order + 1) / 2, 0.0);
  for (const models::Triplet& t : records) {
    if (t.row >= order || t.col >= order) continue;
    const int i = std::max(t.row, t.col);
    const int j = std::min(t.row, t.col);
    packed[static_cast<size_t>(i + j * (2 * order - j - 1) / 2)] += t.value;
  }
  return packed;
}

constexpr int kPackedOrder = 8;

template <class T>
bool sameBits(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

}  // namespace

Problem frameProblem(int storeys, int baysX, int baysY, unsigned seed) {
  models::FrameParameters parameters;
  parameters.storeys = storeys;
  parameters.baysX = baysX;
  parameters.baysY = baysY;
  parameters.floorMass = 800.0;
  const models::BuildingFrame frame(parameters);
  models::TripletSink sink;
  frame.assemble(sink);
  Problem p;
  p.n = frame.size();
  p.stiffness = sink.entries(models::kStiffness);
  p.mass = sink.entries(models::kMass);
  p.nrhs = 4;
  const size_t n = static_cast<size_t>(p.n);
  p.rhs.reserve(n * 4);
  const std::vector<double> gravity = frame.gravityLoad();
  p.rhs.insert(p.rhs.end(), gravity.begin(), gravity.end());
  const std::vector<double> forces = models::BuildingFrame::triangularStoreyForces(storeys, 1e5);
  for (int component : {models::kUx, models::kUy}) {
    const std::vector<double> lateral = frame.lateralLoad(component, forces);
    p.rhs.insert(p.rhs.end(), lateral.begin(), lateral.end());
  }
  std::printf("random right-hand side seed %u\n", seed);
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> uniform(-1e4, 1e4);
  for (size_t i = 0; i < n; ++i) p.rhs.push_back(uniform(random));
  return p;
}

HostSequence::HostSequence(const Problem& problem, std::string logPath, std::string dumpPath)
    : problem_(problem), logPath_(std::move(logPath)), dumpPath_(std::move(dumpPath)) {
  const size_t n = static_cast<size_t>(problem.n);
  const size_t block = n * static_cast<size_t>(problem.nrhs);
  const size_t dense = static_cast<size_t>(denseModes(problem.n));
  results_.productA.assign(n, 0.0);
  results_.productB.assign(n, 0.0);
  results_.x.assign(block, 0.0);
  results_.xSingle.assign(n, 0.0);
  results_.xEdited.assign(block, 0.0);
  results_.lanczosValues.assign(kLanczosModes, 0.0);
  results_.lanczosVectors.assign(n * kLanczosModes, 0.0);
  results_.denseValues.assign(dense, 0.0);
  results_.denseVectors.assign(n * dense, 0.0);
  results_.dspgvdValues.assign(kPackedOrder, 0.0);
  results_.dspgvdVectors.assign(kPackedOrder * kPackedOrder, 0.0);
  modeValues_.assign(kLanczosModes, 0.0f);
  modalIn_.assign(kLanczosModes, HostResults::Block{});
  packedA_ = packedLeading(problem.stiffness, kPackedOrder);
  packedB_ = packedLeading(problem.mass, kPackedOrder);
  packedFactor_.assign(packedB_.size(), 0.0);
  buildSteps();
}

HostSequence::~HostSequence() { release(); }

void HostSequence::release() {
  exp_deleteMatrix_v3(&handle_);
  for (void*& object : modal_) exp_mediaSismica_free_v3(&object);
}

int32_t HostSequence::solve(std::vector<double>& x, int32_t nrhs, bool asVector) {
  const auto rows = static_cast<uint32_t>(problem_.n);
  const auto columns = static_cast<uint32_t>(nrhs);
  const uint16_t dims = asVector ? 1 : 2;
  // The host's right-hand sides are its own and only read: a copy keeps the problem pristine
  // whatever the library does.
  Descriptor xd = describe(x.data(), rows, columns, dims);
  Descriptor bd = describe(const_cast<double*>(problem_.rhs.data()), rows, columns, dims);
  SAFEARRAY* xp = &xd.header;
  SAFEARRAY* bp = &bd.header;
  return exp_solve_v3(handle_, &xp, &bp);
}

int32_t HostSequence::eigen(int32_t count, std::vector<double>& values,
                            std::vector<double>& vectors, int32_t& found) {
  Descriptor ed = describe(values.data(), static_cast<uint32_t>(count), 1, 1);
  Descriptor vd =
      describe(vectors.data(), static_cast<uint32_t>(problem_.n), static_cast<uint32_t>(count), 2);
  SAFEARRAY* ep = &ed.header;
  SAFEARRAY* vp = &vd.header;
  return exp_eigenSystem_v3(handle_, count, &ep, &vp, &found);
}

int32_t HostSequence::combine(int kindIndex) {
  return exp_mediaSismica_calc24_v3(modal_[kindIndex], modalIn_[0].value,
                                    results_.combined[kindIndex].value);
}

void HostSequence::buildSteps() {
  const int32_t n = problem_.n;
  const auto add = [this](std::string name, FailureKind kind, std::function<int32_t()> call) {
    steps_.push_back(Step{std::move(name), kind, std::move(call)});
  };
  add("exp_initMatrix_v3 A", FailureKind::text,
      [this, n] { return exp_initMatrix_v3(&handle_, n, 0); });
  if (!logPath_.empty()) {
    add("exp_logDestination_v3", FailureKind::text,
        [this] { return exp_logDestination_v3(handle_, logPath_.c_str()); });
  }
  add("exp_initMatrix_v3 B", FailureKind::text,
      [this, n] { return exp_initMatrix_v3(&handle_, n, 1); });
  for (int which = 0; which < 2; ++which) {
    const std::vector<models::Triplet>& records = which == 0 ? problem_.stiffness : problem_.mass;
    for (size_t k = 0; k < records.size(); ++k) {
      const models::Triplet t = records[k];
      // Before conversion a set appends a record just as an increment does.
      if (k % 5 == 0) {
        add("exp_setMatrixElem_v3", FailureKind::text, [this, t, which] {
          return exp_setMatrixElem_v3(handle_, t.row, t.col, t.value, which);
        });
      } else {
        add("exp_incrMatrixElem_v3", FailureKind::text, [this, t, which] {
          return exp_incrMatrixElem_v3(handle_, t.row, t.col, t.value, which);
        });
      }
    }
  }
  add("exp_createCCS_v3 A", FailureKind::text, [this] { return exp_createCCS_v3(handle_, 0); });
  add("exp_createCCS_v3 B", FailureKind::text, [this] { return exp_createCCS_v3(handle_, 1); });
  struct Setting {
    int32_t code;
    double value;
    int32_t ivalue;
  };
  for (const Setting s : {Setting{1, 310.0, 0}, Setting{2, 310.0, 0}, Setting{4, 0.001, 0},
                          Setting{8, 12.0, 2}, Setting{16, -7.5, 2}}) {
    add("exp_checksSettings_v3", FailureKind::text, [this, s] {
      int32_t enable = 1;
      double value = s.value;
      int32_t ivalue = s.ivalue;
      const int32_t status = exp_checksSettings_v3(handle_, &enable, &value, &ivalue, s.code);
      return status == 0 && enable != 1 ? 2 : status;
    });
  }
  add("exp_factor_v3", FailureKind::text, [this] { return exp_factor_v3(handle_, "metis_node"); });
  add("exp_getMaxDiag_v3", FailureKind::text,
      [this] { return exp_getMaxDiag_v3(handle_, &results_.maxDiag); });
  add("exp_multVector_v3 A", FailureKind::text, [this] {
    return exp_multVector_v3(handle_, problem_.rhs.data(), results_.productA.data(), 0);
  });
  add("exp_multVector_v3 B", FailureKind::text, [this] {
    return exp_multVector_v3(handle_, problem_.rhs.data(), results_.productB.data(), 1);
  });
  add("exp_solve_v3 block", FailureKind::text,
      [this] { return solve(results_.x, problem_.nrhs, false); });
  add("exp_solve_v3 vector", FailureKind::text,
      [this] { return solve(results_.xSingle, 1, true); });
  add("exp_incrMatrixElem_v3 after conversion", FailureKind::text,
      [this] { return exp_incrMatrixElem_v3(handle_, 0, 0, 0.0, 0); });
  add("exp_solve_v3 refactorised", FailureKind::text,
      [this] { return solve(results_.xEdited, problem_.nrhs, false); });
  add("exp_eigenSystem_v3 Lanczos", FailureKind::text, [this] {
    return eigen(kLanczosModes, results_.lanczosValues, results_.lanczosVectors,
                 results_.lanczosFound);
  });
  add("exp_eigenSystem_v3 dense", FailureKind::text, [this, n] {
    return eigen(denseModes(n), results_.denseValues, results_.denseVectors, results_.denseFound);
  });
  add("exp_writeMatrix_v3", FailureKind::text,
      [this] { return exp_writeMatrix_v3(handle_, dumpPath_.c_str(), 0); });
  for (bool withObject : {true, false}) {
    add(withObject ? "exp_getLastError_v3 object" : "exp_getLastError_v3 process",
        FailureKind::nullString, [this, withObject] {
          BSTR text = exp_getLastError_v3(withObject ? handle_ : nullptr);
          if (text == nullptr) return -1;
          const uint32_t length = SysStringByteLen(text);
          SysFreeString(text);
          return length == 0 ? 0 : 2;
        });
  }
  add("modal inputs", FailureKind::silent, [this] {
    // The modes the Lanczos route found, as a host feeds them to the combination: frequencies
    // and the first 24 components of each mode shape.
    for (int32_t i = 0; i < kLanczosModes; ++i) {
      modeValues_[i] = static_cast<float>(std::sqrt(results_.lanczosValues[i]));
      for (int l = 0; l < 24; ++l) {
        modalIn_[i].value[l] =
            static_cast<float>(results_.lanczosVectors[static_cast<size_t>(i) * problem_.n + l]);
      }
    }
    return results_.lanczosFound == kLanczosModes ? 0 : 2;
  });
  for (int kind = 1; kind <= 3; ++kind) {
    const int index = kind - 1;
    add("exp_mediaSismica_init_v3", FailureKind::silent, [this, kind, index] {
      return exp_mediaSismica_init_v3(&modal_[index], kind, kLanczosModes, modeValues_.data(),
                                      0.05f);
    });
    add("exp_mediaSismica_calc24_v3", FailureKind::silent,
        [this, index] { return combine(index); });
    add("exp_mediaSismica_free_v3", FailureKind::silent,
        [this, index] { return exp_mediaSismica_free_v3(&modal_[index]); });
  }
  add("exp_LAPACK_DSPGVD_v3", FailureKind::silent, [this] {
    results_.dspgvdInfo = exp_LAPACK_DSPGVD_v3(kPackedOrder, 0, packedA_.data(), packedB_.data(),
                                               packedFactor_.data(), results_.dspgvdValues.data(),
                                               results_.dspgvdVectors.data());
    return results_.dspgvdInfo;
  });
}

std::string HostSequence::runAll() {
  for (const Step& step : steps_) {
    if (step.call() != 0) return step.name;
  }
  return {};
}

std::string firstDifference(const HostResults& a, const HostResults& b) {
  if (std::memcmp(&a.maxDiag, &b.maxDiag, sizeof a.maxDiag) != 0) return "maxDiag";
  if (!sameBits(a.productA, b.productA)) return "productA";
  if (!sameBits(a.productB, b.productB)) return "productB";
  if (!sameBits(a.x, b.x)) return "x";
  if (!sameBits(a.xSingle, b.xSingle)) return "xSingle";
  if (!sameBits(a.xEdited, b.xEdited)) return "xEdited";
  if (a.lanczosFound != b.lanczosFound) return "lanczosFound";
  if (!sameBits(a.lanczosValues, b.lanczosValues)) return "lanczosValues";
  if (!sameBits(a.lanczosVectors, b.lanczosVectors)) return "lanczosVectors";
  if (a.denseFound != b.denseFound) return "denseFound";
  if (!sameBits(a.denseValues, b.denseValues)) return "denseValues";
  if (!sameBits(a.denseVectors, b.denseVectors)) return "denseVectors";
  if (std::memcmp(a.combined.data(), b.combined.data(), sizeof a.combined) != 0) return "combined";
  if (a.dspgvdInfo != b.dspgvdInfo) return "dspgvdInfo";
  if (!sameBits(a.dspgvdValues, b.dspgvdValues)) return "dspgvdValues";
  if (!sameBits(a.dspgvdVectors, b.dspgvdVectors)) return "dspgvdVectors";
  return {};
}

}  // namespace orv::test
