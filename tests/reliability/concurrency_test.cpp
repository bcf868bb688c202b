// Sessions on objects of their own on several threads at once (the interface promises one caller
// at a time per object, and nothing stops a host from running objects side by side) do what they
// do one after the other: the same results bit for bit, the same log lines, the same error texts.
#include <gtest/gtest.h>

#include <barrier>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "host_sequence.h"

extern "C" int openblas_get_num_threads();

namespace orv::test {
namespace {

// The lines of a log, each run of numbers and spaces as '#', but for the lines of the calls
// without an object.
std::multiset<std::string> shapes(const std::string& path) {
  std::istringstream in(
      std::regex_replace(readFile(path), std::regex("([-+.]?[0-9][-+.0-9e]*| )+"), "#"));
  std::multiset<std::string> lines{std::istream_iterator<std::string>(in), {}};
  lines.erase("ERROR:#symRealSPDMatrixLinSys#not#allocated");
  return lines;
}

// `count` sessions on a size^3 grid with columns, columns + 1, ... right-hand sides into a shared
// log, each followed by a call that fails: one after the other, then each on a thread of its own,
// step by step together, while a thread watches OpenBLAS's thread count (a setting of the whole
// process) and logs as fast as it can, so that a line written in pieces gets torn.
void sessionsAtOnce(int count, int size, uint32_t columns) {
  std::deque<HostSequence> sessions;  // alone, then together; deleting one turns the log off
  for (int t = 0; t < 2 * count; ++t) sessions.emplace_back(size, columns + t % count);
  std::barrier sync(count);
  const auto run = [&sync](HostSequence& session, bool lockstep) {
    for (const Step& step : session.steps) {
      if (lockstep) sync.arrive_and_wait();
      EXPECT_EQ(step.call(), 0) << step.name;
    }
    EXPECT_EQ(exp_incrMatrixElem_v3(session.handle, -1, 0, 1, 0), -1);
    EXPECT_EQ(lastError(session.handle), "Element index out of range");
  };
  const ScratchFile aloneLog("alone.log"), togetherLog("together.log");
  ASSERT_EQ(exp_logDestination_v3(nullptr, aloneLog.c_str()), 0);
  for (int t = 0; t < count; ++t) run(sessions[t], false);
  ASSERT_EQ(exp_logDestination_v3(nullptr, togetherLog.c_str()), 0);
  const int blasThreads = openblas_get_num_threads();
  std::atomic<int> lowest = blasThreads;
  {
    std::jthread watcher([&](std::stop_token stop) {
      for (; !stop.stop_requested(); exp_factor_v3(nullptr, "")) {
        lowest = std::min(lowest.load(), openblas_get_num_threads());
      }
    });
    std::vector<std::jthread> threads;  // joined before the watcher stops
    for (int t = count; t < 2 * count; ++t) threads.emplace_back(run, std::ref(sessions[t]), true);
  }
  exp_logDestination_v3(nullptr, "");
  EXPECT_EQ(lowest, blasThreads);
  EXPECT_EQ(shapes(togetherLog.path()), shapes(aloneLog.path()));
  for (int t = 0; t < count; ++t) EXPECT_TRUE(sessions[count + t].sameOutputs(sessions[t])) << t;
}

// Blocks wide enough that each solve splits its columns over two threads of its own (when the
// BLAS runs single-threaded, as under ThreadSanitizer).
TEST(Concurrency, WideBlocksSplitOverThreadsOnTwoObjectsAtOnce) { sessionsAtOnce(2, 10, 96); }

// On a factor large enough, a solve of a few columns sweeps two groups of subtrees on two threads
// of its own, the second setting its updates of their common ancestors aside; one column is less
// work than a second thread pays for. Each column of the block is that column solved alone.
TEST(Concurrency, SubtreesOfTheFactorSweptOnTwoThreads) {
  const Lower a = gridLaplacian(24, 24, 24, 0.1);
  const auto n = static_cast<uint32_t>(a.n);
  symRealSPDMatrixLinSys* handle = nullptr;
  ASSERT_EQ(exp_initMatrix_v3(&handle, a.n, 0), 0);
  for (const models::Triplet& t : a.entries) {
    ASSERT_EQ(exp_incrMatrixElem_v3(handle, t.row, t.col, t.value, 0), 0);
  }
  ASSERT_EQ(exp_createCCS_v3(handle, 0), 0);
  ASSERT_EQ(exp_factor_v3(handle, "metis_node"), 0);
  Array b(n, 8), x(n, 8), column(n, 1), single(n, 1);
  for (size_t i = 0; i < b.data().size(); ++i) b[i] = std::sin(0.01 * static_cast<double>(i));
  ASSERT_EQ(exp_solve_v3(handle, x.address(), b.address()), 0);
  for (size_t c = 0; c < 8; ++c) {
    std::copy_n(b.data().begin() + static_cast<ptrdiff_t>(c * n), n, column.data().begin());
    ASSERT_EQ(exp_solve_v3(handle, single.address(), column.address()), 0);
    for (size_t i = 0; i < n; ++i) EXPECT_NEAR(x[c * n + i], single[i], 1e-12) << c << ", " << i;
  }
  exp_deleteMatrix_v3(&handle);
}

TEST(Concurrency, LogLinesAndErrorTextsStayWholeUnderManyThreads) { sessionsAtOnce(16, 3, 2); }

// A wide solve used to lower OpenBLAS's thread count while it split its columns over two threads:
// a BLAS call on another thread at that moment came out wrong.
TEST(Concurrency, WideSolveChangedTheBlasThreadCountOfTheWholeProcess) {
  sessionsAtOnce(1, 10, 96);
}

}  // namespace
}  // namespace orv::test
