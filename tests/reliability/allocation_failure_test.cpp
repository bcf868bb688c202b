// Allocation number k fails, for every k, over a whole host session through the exports: every
// failure is reported as documented, leaks nothing, and leaves the object usable, so that the
// failed call done again and the rest of the session give the results of a session without
// failure, bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "allocation_hooks.h"
#include "export_helpers.h"
#include "host_sequence.h"
#include "test_support.h"

namespace orv::test {
namespace {

// The texts a failure of each export may leave when memory runs out: "Out of memory" or the
// operation's own message, as the public header lists them.
const std::map<std::string, std::set<std::string>>& allowedTexts() {
  static const std::map<std::string, std::set<std::string>> texts = [] {
    const std::set<std::string> factor = {
        "Out of memory", "Optimal ordering calculation failed", "Matrix permutation failed",
        "Symbolic factorization failed", "Numeric factorization failed"};
    std::set<std::string> solve = factor;
    std::set<std::string> eigen = factor;
    eigen.insert("Can't calculate eigensystem");
    return std::map<std::string, std::set<std::string>>{
        {"exp_initMatrix_v3", {"Out of memory", "symRealSPDMatrixLinSys not allocated"}},
        {"exp_logDestination_v3", {"Out of memory"}},
        {"exp_incrMatrixElem_v3", {"Out of memory"}},
        {"exp_setMatrixElem_v3", {"Out of memory"}},
        {"exp_createCCS_v3", {"Memory allocation for ccs matrix failed", "Out of memory"}},
        {"exp_checksSettings_v3", {"Out of memory"}},
        {"exp_factor_v3", factor},
        {"exp_getMaxDiag_v3", {"Out of memory"}},
        {"exp_multVector_v3", {"Out of memory"}},
        {"exp_solve_v3", solve},
        {"exp_eigenSystem_v3", eigen},
        {"exp_writeMatrix_v3", {"Out of memory"}},
    };
  }();
  return texts;
}

std::string exportOf(const std::string& stepName) { return stepName.substr(0, stepName.find(' ')); }

struct Tally {
  int64_t injected = 0;                     // runs in which the failing allocation was reached
  std::map<std::string, int64_t> byStep;    // failures seen by the host, per export
  std::map<std::string, int64_t> byText;    // and per text
  std::map<std::string, int64_t> absorbed;  // failures the library got round, per export
};

// What one session with a failing allocation showed the host. The strings have their room before
// the session starts, so that filling them is not taken for a leak.
struct Outcome {
  bool reached = false;  // the failing allocation was reached
  bool failed = false;   // and an export reported it
  std::string step;
  FailureKind kind = FailureKind::text;
  int32_t status = 0;
  std::string text;
  std::string difference;  // first result that differs from the reference

  Outcome() {
    step.reserve(64);
    text.reserve(64);
    difference.reserve(64);
  }
};

// One session with allocation k failing: the failed call is done again at once, the rest of the
// session follows.
void sessionWithFailure(const Problem& problem, const HostResults& reference, int64_t k,
                        AllocationFailure::Mode mode, Outcome& outcome, int64_t& leaked) {
  const ScratchFile log("session.log");
  const ScratchFile dump("dump.ijv");
  const int64_t liveBefore = liveAllocations();
  {
    HostSequence host(problem, log.path(), dump.path());
    AllocationFailure failure(k, mode);
    for (const HostSequence::Step& step : host.steps()) {
      const bool struckBefore = failure.struck();
      const int32_t status = step.call();
      if (status == 0) {
        if (failure.struck() && !struckBefore) outcome.step = step.name;
        continue;
      }
      // The harness allocates nothing while armed, so a failure here is the injected one.
      failure.stop();
      ASSERT_TRUE(failure.struck()) << step.name << " failed with " << status;
      ASSERT_FALSE(outcome.failed) << step.name << " failed after the failure was over";
      outcome.failed = true;
      outcome.step = step.name;
      outcome.kind = step.kind;
      outcome.status = status;
      if (step.kind == FailureKind::text) outcome.text = lastError(host.handle());
      ASSERT_EQ(step.call(), 0) << step.name << " done again after allocation " << k << " failed";
    }
    outcome.reached = failure.struck();
    host.release();
    outcome.difference = firstDifference(host.results(), reference);
  }
  leaked = liveAllocations() - liveBefore;
}

// Every k in turn, over the session on a building frame of a few hundred equations.
void sweep(AllocationFailure::Mode mode) {
  const Problem problem = frameProblem(4, 2, 2, 20240611u);
  std::printf("%d equations, %zu + %zu records\n", problem.n, problem.stiffness.size(),
              problem.mass.size());
  HostResults reference;
  {
    const ScratchFile log("reference.log");
    const ScratchFile dump("reference.ijv");
    HostSequence host(problem, log.path(), dump.path());
    ASSERT_EQ(host.runAll(), "");
    host.release();
    reference = host.results();
  }
  ASSERT_EQ(reference.lanczosFound, HostSequence::kLanczosModes);
  ASSERT_EQ(reference.denseFound, HostSequence::denseModes(problem.n));
  ASSERT_EQ(reference.dspgvdInfo, 0);

  Tally tally;
  for (int64_t k = 0;; ++k) {
    Outcome outcome;
    int64_t leaked = 0;
    sessionWithFailure(problem, reference, k, mode, outcome, leaked);
    if (::testing::Test::HasFatalFailure()) return;
    EXPECT_EQ(leaked, 0) << "blocks leaked with allocation " << k << " failing";
    EXPECT_EQ(outcome.difference, "") << "allocation " << k;
    if (!outcome.reached) break;
    ++tally.injected;
    const std::string name = exportOf(outcome.step);
    if (!outcome.failed) {
      ++tally.absorbed[name];
      continue;
    }
    ++tally.byStep[name];
    switch (outcome.kind) {
      case FailureKind::text: {
        EXPECT_EQ(outcome.status, -1) << outcome.step << " at allocation " << k;
        ++tally.byText[outcome.text];
        const auto allowed = allowedTexts().find(name);
        ASSERT_NE(allowed, allowedTexts().end()) << outcome.step;
        EXPECT_EQ(allowed->second.count(outcome.text), 1u)
            << outcome.step << " at allocation " << k << ": \"" << outcome.text << "\"";
        break;
      }
      case FailureKind::silent:
      case FailureKind::nullString:
        EXPECT_EQ(outcome.status, -1) << outcome.step << " at allocation " << k;
        break;
    }
  }
  std::printf("%lld allocation points, each made to fail in turn\n",
              static_cast<long long>(tally.injected));
  std::printf("failures per export:\n");
  for (const auto& [name, count] : tally.byStep) {
    std::printf("  %-28s %lld\n", name.c_str(), static_cast<long long>(count));
  }
  std::printf("texts:\n");
  for (const auto& [text, count] : tally.byText) {
    std::printf("  \"%s\": %lld\n", text.c_str(), static_cast<long long>(count));
  }
  std::printf("failures the library got round with the same results:\n");
  for (const auto& [name, count] : tally.absorbed) {
    std::printf("  %-28s %lld\n", name.c_str(), static_cast<long long>(count));
  }
  EXPECT_GT(tally.injected, 100);
}

// Faults found by the sweeps, each with the smallest case that shows it.

// A std::bad_alloc reached the barrier's std::exception clause and was reported as
// "std::bad_alloc".
TEST(AllocationFailure, ExhaustedMemoryWasReportedAsStdBadAlloc) {
  SystemHandle system;
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 3, 0), 0);
  const ScratchFile log("run.log");
  int32_t status = 0;
  {
    const AllocationFailure nothing(0, AllocationFailure::Mode::fromThenOn);
    status = exp_logDestination_v3(system.get(), log.c_str());
  }
  EXPECT_EQ(status, -1);
  EXPECT_EQ(lastError(system.get()), "Out of memory");
}

// Copying a failure's text into the object needs memory; when there was none, the barrier's own
// catch clause threw std::bad_alloc across the interface.
TEST(AllocationFailure, RecordingATextWithoutMemoryThrewAcrossTheInterface) {
  SystemHandle system;
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 3, 0), 0);
  int32_t status = 0;
  {
    const AllocationFailure nothing(0, AllocationFailure::Mode::fromThenOn);
    status = exp_initMatrix_v3(system.address(), 4, 1);
  }
  EXPECT_EQ(status, -1);
  EXPECT_EQ(lastError(system.get()), "Out of memory");
  // With memory back the text is the operation's own again.
  EXPECT_EQ(exp_initMatrix_v3(system.address(), 4, 1), -1);
  EXPECT_EQ(lastError(system.get()), "Cannot initialise B with different size than A");
}

TEST(AllocationFailure, RecordingTheProcessWideTextWithoutMemoryThrewAcrossTheInterface) {
  lastError(nullptr);
  int32_t status = 0;
  {
    const AllocationFailure nothing(0, AllocationFailure::Mode::fromThenOn);
    status = exp_factor_v3(nullptr, "metis_node");
  }
  EXPECT_EQ(status, -1);
  EXPECT_EQ(lastError(nullptr), "symRealSPDMatrixLinSys not allocated");
}

// exp_getLastError_v3 emptied the text before it had its copy: without memory the host got null
// and the text was gone.
TEST(AllocationFailure, FetchingATextWithoutMemoryLostIt) {
  SystemHandle system;
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 3, 0), 0);
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 4, 1), -1);
  ASSERT_EQ(exp_createCCS_v3(nullptr, 0), -1);
  for (symRealSPDMatrixLinSys* obj :
       {system.get(), static_cast<symRealSPDMatrixLinSys*>(nullptr)}) {
    BSTR text = nullptr;
    {
      const AllocationFailure nothing(0);
      text = exp_getLastError_v3(obj);
    }
    EXPECT_EQ(text, nullptr);
    SysFreeString(text);
  }
  EXPECT_EQ(lastError(nullptr), "symRealSPDMatrixLinSys not allocated");
  EXPECT_EQ(lastError(system.get()), "Cannot initialise B with different size than A");
}

TEST(AllocationFailure, EveryAllocationOfAHostSessionFailsInTurn) {
  sweep(AllocationFailure::Mode::once);
}

// From allocation k on nothing can be had, so the failure is also recorded and reported without
// memory.
TEST(AllocationFailure, EveryAllocationFromTheKthOnFails) {
  sweep(AllocationFailure::Mode::fromThenOn);
}

}  // namespace
}  // namespace orv::test
