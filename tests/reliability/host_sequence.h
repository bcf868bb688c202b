// A whole host session through the exports, one export call per step: log, initialisation of A
// and B, assembly record by record, conversion, check settings (1, 2, 4, 8 and 16 on),
// factorisation, the matrix services, solutions of several right-hand sides, an element edit and
// a solution with the refactorised matrix, eigenpairs by the Lanczos route and by the dense route,
// the matrix dump, last-error fetches, modal combination of the modes found (kinds 1, 2, 3) and
// the dense packed eigen-solver.
//
// Every buffer a step writes is allocated when the sequence is built, so running a step
// allocates nothing but what the library allocates.
#pragma once

#include <ORVSparseSolver/exports.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "models/models.h"

namespace orv::test {

// The matrices and loads of one run.
struct Problem {
  int32_t n = 0;
  std::vector<models::Triplet> stiffness;  // in the order a host assembles them
  std::vector<models::Triplet> mass;
  int32_t nrhs = 0;
  std::vector<double> rhs;  // n x nrhs, column-major
};

// A building frame of storeys x baysX x baysY bays with floor masses; the loads are its self
// weight, a lateral load in x and one in y, and a column of random values (seed printed).
Problem frameProblem(int storeys, int baysX, int baysY, unsigned seed);

// Everything the exports hand back to the host in one run.
struct HostResults {
  double maxDiag = 0.0;
  std::vector<double> productA;  // A times the first right-hand side
  std::vector<double> productB;
  std::vector<double> x;        // all right-hand sides solved together
  std::vector<double> xSingle;  // the first one alone, as a vector
  std::vector<double> xEdited;  // all of them after an element edit
  int32_t lanczosFound = -1;
  std::vector<double> lanczosValues;
  std::vector<double> lanczosVectors;
  int32_t denseFound = -1;
  std::vector<double> denseValues;
  std::vector<double> denseVectors;
  struct alignas(16) Block {
    float value[24];
  };
  std::array<Block, 3> combined{};  // modal combination, kinds 1, 2, 3
  int32_t dspgvdInfo = -2;
  std::vector<double> dspgvdValues;
  std::vector<double> dspgvdVectors;
};

// How a failure of a step shows: -1 with a text, -1 alone, or a null string.
enum class FailureKind { text, silent, nullString };

class HostSequence {
 public:
  struct Step {
    std::string name;
    FailureKind kind;
    std::function<int32_t()> call;  // 0 on success
  };

  // logPath and dumpPath name files the run may write; an empty logPath leaves the log alone.
  HostSequence(const Problem& problem, std::string logPath, std::string dumpPath);
  ~HostSequence();
  HostSequence(const HostSequence&) = delete;
  HostSequence& operator=(const HostSequence&) = delete;

  const std::vector<Step>& steps() const { return steps_; }
  // Runs every step in order; the name of the first that failed, or empty.
  std::string runAll();

  symRealSPDMatrixLinSys* handle() const { return handle_; }
  const HostResults& results() const { return results_; }
  // Releases the object and the combination objects (as the host does at the end).
  void release();

  // Modes searched on each route: few for Lanczos, a large share of n for the dense search.
  static constexpr int32_t kLanczosModes = 4;
  static int32_t denseModes(int32_t n) { return n / 5 + 1; }

 private:
  void buildSteps();
  int32_t eigen(int32_t count, std::vector<double>& values, std::vector<double>& vectors,
                int32_t& found);
  int32_t solve(std::vector<double>& x, int32_t nrhs, bool asVector);
  int32_t combine(int kindIndex);

  const Problem& problem_;
  std::string logPath_;
  std::string dumpPath_;
  symRealSPDMatrixLinSys* handle_ = nullptr;
  std::array<void*, 3> modal_{};
  HostResults results_;
  std::vector<Step> steps_;

  // Host-side scratch, sized once.
  std::vector<float> modeValues_;
  std::vector<HostResults::Block> modalIn_;  // one block per mode
  std::vector<double> packedA_;
  std::vector<double> packedB_;
  std::vector<double> packedFactor_;
};

// Results equal bit for bit; the name of the first field that differs, or empty.
std::string firstDifference(const HostResults& a, const HostResults& b);

}  // namespace orv::test
