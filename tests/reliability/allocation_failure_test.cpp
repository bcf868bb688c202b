// Allocation number k of a whole host session fails, for every k in turn: the export reports -1
// with one of its texts, nothing leaks, and the object stays usable, so that the failed call done
// again and the rest of the session give the results of a session without failure, bit for bit.
#include <gtest/gtest.h>

#include "allocation_hooks.h"
#include "host_sequence.h"

namespace orv::test {
namespace {

// Once: allocation k alone fails; from k on: nothing can be had any more, so the failure is also
// recorded and reported without memory.
TEST(AllocationFailure, EveryAllocationOfAHostSessionFailsInTurnOnceAndFromThenOn) {
  HostSequence reference(6, 3);
  for (const Step& step : reference.steps) ASSERT_EQ(step.call(), 0) << step.name;
  for (const auto mode : {AllocationFailure::Mode::once, AllocationFailure::Mode::fromThenOn}) {
    for (int64_t k = 0, struck = 1; struck; ++k) {
      SCOPED_TRACE("allocation " + std::to_string(k) + " failing");
      const int64_t live = liveAllocations();
      {
        HostSequence host(6, 3);
        AllocationFailure failure(k, mode);
        for (const Step& step : host.steps) {
          const int32_t status = step.call();
          if (status == 0) continue;
          // The harness allocates nothing while armed, so a failure here is the injected one.
          failure.stop();
          const std::string text = lastError(host.handle);
          EXPECT_TRUE(
              failure.struck() && status == -1 &&
              (step.texts.empty() || step.texts.find('|' + text + '|') != std::string::npos))
              << step.name << ": " << status << " \"" << text << '"';
          ASSERT_EQ(step.call(), 0) << step.name << " done again: " << lastError(host.handle);
        }
        struck = failure.struck();
        EXPECT_TRUE(host.sameOutputs(reference));
      }
      EXPECT_EQ(liveAllocations(), live) << "blocks leaked";
      EXPECT_TRUE(struck || k > 100) << k << " allocations in a session";
    }
  }
}

// The result of call(system) made without memory, system of order 3, then the process-wide text
// and the system's (fetching an object's text empties the process-wide one).
std::string withoutMemory(const std::function<int32_t(symRealSPDMatrixLinSys**)>& call) {
  SystemHandle system;
  exp_initMatrix_v3(system.address(), 3, 0);
  const int32_t status = [&] {
    const AllocationFailure nothing(0, AllocationFailure::Mode::fromThenOn);
    return call(system.address());
  }();
  const std::string process = lastError(nullptr);
  return std::to_string(status) + " [" + process + "] " + lastError(system.get());
}

// A std::bad_alloc reached the barrier's std::exception clause and was reported as
// "std::bad_alloc".
TEST(AllocationFailure, ExhaustedMemoryWasReportedAsStdBadAlloc) {
  EXPECT_EQ(withoutMemory([](auto s) { return exp_logDestination_v3(*s, "/missing/session.log"); }),
            "-1 [] Out of memory");
}

// Copying a failure's text into the object needs memory; when there was none, the barrier's own
// catch clause threw std::bad_alloc across the interface.
TEST(AllocationFailure, RecordingATextWithoutMemoryThrewAcrossTheInterface) {
  EXPECT_EQ(withoutMemory([](auto s) { return exp_initMatrix_v3(s, 4, 1); }),
            "-1 [] Out of memory");
  EXPECT_EQ(withoutMemory([](auto) { return exp_factor_v3(nullptr, ""); }),
            "-1 [symRealSPDMatrixLinSys not allocated] ");
}

// exp_getLastError_v3 emptied the text before it had its copy: without memory the host got null
// and the text was gone.
TEST(AllocationFailure, FetchingATextWithoutMemoryLostIt) {
  for (const bool own : {false, true}) {
    EXPECT_EQ(withoutMemory([own](auto s) {
                const int32_t status = exp_createCCS_v3(own ? *s : nullptr, 0);
                return status + (exp_getLastError_v3(own ? *s : nullptr) == nullptr ? -1 : 0);
              }),
              own ? "-2 [] Matrix is empty" : "-2 [symRealSPDMatrixLinSys not allocated] ");
  }
}

}  // namespace
}  // namespace orv::test
