// Several threads at once, each with objects of its own (the interface promises one caller at a
// time per object, and nothing stops a host from running two objects side by side): the results
// are those of one thread after the other, bit for bit; the shared log keeps every line whole;
// the process-wide error text is never torn; and Lanczos runs, which ARPACK cannot run two at a
// time, still come out right.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <latch>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "export_helpers.h"
#include "host_sequence.h"
#include "test_support.h"

namespace orv::test {
namespace {

// Runs body(t) on threads 0 .. count-1, all released together.
template <class Body>
void onThreads(int count, const Body& body) {
  std::latch start(count);
  std::vector<std::thread> threads;
  threads.reserve(static_cast<size_t>(count));
  for (int t = 0; t < count; ++t) {
    threads.emplace_back([&start, &body, t] {
      start.arrive_and_wait();
      body(t);
    });
  }
  for (std::thread& thread : threads) thread.join();
}

HostResults runAlone(const Problem& problem, const std::string& dumpPath) {
  HostSequence host(problem, "", dumpPath);
  EXPECT_EQ(host.runAll(), "");
  host.release();
  return host.results();
}

TEST(Concurrency, TwoObjectsOnTwoThreadsGiveTheResultsOfOneAfterTheOther) {
  const std::vector<Problem> problems = {frameProblem(3, 2, 2, 11u), frameProblem(2, 3, 1, 12u)};
  const ScratchFile dump0("dump0.ijv");
  const ScratchFile dump1("dump1.ijv");
  const std::string dumps[2] = {dump0.path(), dump1.path()};
  std::vector<HostResults> alone;
  for (int p = 0; p < 2; ++p) alone.push_back(runAlone(problems[p], dumps[p]));

  for (int round = 0; round < 3; ++round) {
    std::vector<HostResults> together(2);
    std::vector<std::string> failed(2);
    onThreads(2, [&](int t) {
      HostSequence host(problems[t], "", dumps[t]);
      failed[t] = host.runAll();
      host.release();
      together[t] = host.results();
    });
    for (int t = 0; t < 2; ++t) {
      EXPECT_EQ(failed[t], "") << "round " << round << ", thread " << t;
      EXPECT_EQ(firstDifference(together[t], alone[t]), "")
          << "round " << round << ", thread " << t;
    }
  }
}

// The run of one thread, written to the shared log: objects of its own, assembled, converted,
// factorised with the norm estimate logging one line per iteration, and a few calls that fail,
// with and without an object. Deleting an object turns the log off for everybody, so the objects
// are kept in `objects` for the caller to delete once every thread is done.
void loggingWorkload(int thread, int repeats, std::deque<SystemHandle>& objects,
                     std::vector<std::string>& badTexts) {
  const int n = 30 + thread;
  for (int r = 0; r < repeats; ++r) {
    SystemHandle& system = objects.emplace_back();
    EXPECT_EQ(exp_initMatrix_v3(system.address(), n, 0), 0);
    for (int i = 0; i < n; ++i) {
      exp_incrMatrixElem_v3(system.get(), i, i, 4.0 + i, 0);
      if (i > 0) exp_incrMatrixElem_v3(system.get(), i, i - 1, -1.0, 0);
    }
    EXPECT_EQ(exp_createCCS_v3(system.get(), 0), 0);
    EXPECT_EQ(exp_factor_v3(system.get(), "metis_node"), 0);
    EXPECT_EQ(exp_incrMatrixElem_v3(system.get(), n, 0, 1.0, 0), -1);
    EXPECT_EQ(exp_factor_v3(nullptr, ""), -1);
    const std::string own = lastError(system.get());
    if (own != "Element index out of range") badTexts.push_back(own);
    const std::string shared = lastError(nullptr);
    if (!shared.empty() && shared != "symRealSPDMatrixLinSys not allocated") {
      badTexts.push_back(shared);
    }
  }
}

// A line with every number replaced by '#' and no spaces, so that lines of one kind compare
// equal.
std::string shape(const std::string& line) {
  std::string out;
  for (size_t i = 0; i < line.size();) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    if (std::isdigit(c) || ((c == '-' || c == '+' || c == '.') && i + 1 < line.size() &&
                            std::isdigit(static_cast<unsigned char>(line[i + 1])))) {
      while (i < line.size() && (std::isdigit(static_cast<unsigned char>(line[i])) ||
                                 std::strchr("+-.e", line[i]) != nullptr)) {
        ++i;
      }
      out += '#';
    } else if (c == ' ') {
      ++i;  // widths of printed numbers vary
    } else {
      out += line[i++];
    }
  }
  return out;
}

std::map<std::string, int> shapes(const std::string& text) {
  std::map<std::string, int> counts;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) ++counts[shape(line)];
  return counts;
}

TEST(Concurrency, LogLinesAndErrorTextsStayWholeUnderManyThreads) {
  // Every kind of line the workload logs, from one thread alone.
  std::map<std::string, int> known;
  {
    const ScratchFile log("alone.log");
    ASSERT_EQ(exp_logDestination_v3(nullptr, log.c_str()), 0);
    std::deque<SystemHandle> objects;
    std::vector<std::string> bad;
    loggingWorkload(0, 1, objects, bad);
    exp_logDestination_v3(nullptr, "");
    known = shapes(readFile(log.path()));
  }
  ASSERT_GT(known.size(), 20u);

  constexpr int kThreads = 8;
  constexpr int kRepeats = 6;
  const ScratchFile log("together.log");
  ASSERT_EQ(exp_logDestination_v3(nullptr, log.c_str()), 0);
  std::vector<std::vector<std::string>> badTexts(kThreads);
  std::vector<std::deque<SystemHandle>> objects(kThreads);
  onThreads(kThreads, [&](int t) { loggingWorkload(t, kRepeats, objects[t], badTexts[t]); });
  exp_logDestination_v3(nullptr, "");
  objects.clear();
  for (int t = 0; t < kThreads; ++t) EXPECT_TRUE(badTexts[t].empty()) << badTexts[t].front();

  const std::map<std::string, int> seen = shapes(readFile(log.path()));
  int lines = 0;
  for (const auto& [kind, count] : seen) {
    lines += count;
    EXPECT_EQ(known.count(kind), 1u)
        << "torn or unknown line: \"" << kind << "\" (" << count << " times)";
  }
  EXPECT_EQ(seen.at("ERROR:Elementindexoutofrange"), kThreads * kRepeats);
  EXPECT_EQ(seen.at("ERROR:symRealSPDMatrixLinSysnotallocated"), kThreads * kRepeats);
  std::printf("%d log lines from %d threads, all whole\n", lines, kThreads);
}

// The smallest eigenpairs of a frame by the Lanczos route, and by the dense route for reference.
struct Modes {
  std::vector<double> values;
  std::vector<double> vectors;
  std::vector<double> denseValues;
};

Modes eigenpairs(symRealSPDMatrixLinSys* system, int32_t n, int32_t count) {
  Modes m;
  m.values.assign(static_cast<size_t>(count), 0.0);
  m.vectors.assign(static_cast<size_t>(n) * count, 0.0);
  struct Descriptor {
    SAFEARRAY header;
    SAFEARRAYBOUND second;
  } eig{}, eiv{};
  eig.header.cDims = 1;
  eig.header.pvData = m.values.data();
  eig.header.rgsabound[0].cElements = static_cast<uint32_t>(count);
  eiv.header.cDims = 2;
  eiv.header.pvData = m.vectors.data();
  eiv.header.rgsabound[0].cElements = static_cast<uint32_t>(count);
  eiv.second.cElements = static_cast<uint32_t>(n);
  SAFEARRAY* ep = &eig.header;
  SAFEARRAY* vp = &eiv.header;
  int32_t found = 0;
  EXPECT_EQ(exp_eigenSystem_v3(system, count, &ep, &vp, &found), 0) << lastError(system);
  EXPECT_EQ(found, count);
  return m;
}

TEST(Concurrency, LanczosRunsOnTwoThreadsAtOnceAreRight) {
  const std::vector<Problem> problems = {frameProblem(4, 2, 2, 21u), frameProblem(3, 3, 2, 22u)};
  constexpr int32_t kModes = 6;
  std::vector<SystemHandle> systems(2);
  std::vector<Modes> alone;
  for (int p = 0; p < 2; ++p) {
    const Problem& problem = problems[p];
    ASSERT_EQ(exp_initMatrix_v3(systems[p].address(), problem.n, 0), 0);
    ASSERT_EQ(exp_initMatrix_v3(systems[p].address(), problem.n, 1), 0);
    for (const models::Triplet& t : problem.stiffness) {
      exp_incrMatrixElem_v3(systems[p].get(), t.row, t.col, t.value, 0);
    }
    for (const models::Triplet& t : problem.mass) {
      exp_incrMatrixElem_v3(systems[p].get(), t.row, t.col, t.value, 1);
    }
    ASSERT_EQ(exp_createCCS_v3(systems[p].get(), 0), 0);
    ASSERT_EQ(exp_createCCS_v3(systems[p].get(), 1), 0);
    alone.push_back(eigenpairs(systems[p].get(), problem.n, kModes));
    // The dense route, asked for more than 0.15 n modes, gives the reference eigenvalues.
    const Modes dense = eigenpairs(systems[p].get(), problem.n, problem.n / 4);
    for (int k = 0; k < kModes; ++k) {
      EXPECT_NEAR(alone[p].values[k], dense.values[k], 1e-9 * dense.values[k]) << "mode " << k;
    }
  }
  for (int round = 0; round < 5; ++round) {
    std::vector<Modes> together(2);
    onThreads(2, [&](int t) { together[t] = eigenpairs(systems[t].get(), problems[t].n, kModes); });
    for (int t = 0; t < 2; ++t) {
      EXPECT_EQ(together[t].values, alone[t].values) << "round " << round << ", thread " << t;
      EXPECT_EQ(together[t].vectors, alone[t].vectors) << "round " << round << ", thread " << t;
    }
  }
}

// Blocks wide enough that each solve splits its columns over two threads of its own, on two
// objects at once: four sweeping threads, and two solves changing the BLAS thread count.
TEST(Concurrency, WideBlocksSplitOverThreadsOnTwoObjectsAtOnce) {
  const std::vector<Problem> problems = {frameProblem(6, 4, 4, 31u), frameProblem(7, 4, 3, 32u)};
  constexpr int32_t kColumns = 96;
  std::vector<SystemHandle> systems(2);
  std::vector<std::vector<double>> rhs(2);
  const auto solve = [&](int p, std::vector<double>& x) {
    struct Descriptor {
      SAFEARRAY header;
      SAFEARRAYBOUND second;
    } xd{}, bd{};
    for (Descriptor* d : {&xd, &bd}) {
      d->header.cDims = 2;
      d->header.rgsabound[0].cElements = kColumns;
      d->second.cElements = static_cast<uint32_t>(problems[p].n);
    }
    xd.header.pvData = x.data();
    bd.header.pvData = rhs[p].data();
    SAFEARRAY* xp = &xd.header;
    SAFEARRAY* bp = &bd.header;
    return exp_solve_v3(systems[p].get(), &xp, &bp);
  };
  std::vector<std::vector<double>> alone(2);
  for (int p = 0; p < 2; ++p) {
    const Problem& problem = problems[p];
    ASSERT_EQ(exp_initMatrix_v3(systems[p].address(), problem.n, 0), 0);
    for (const models::Triplet& t : problem.stiffness) {
      exp_incrMatrixElem_v3(systems[p].get(), t.row, t.col, t.value, 0);
    }
    ASSERT_EQ(exp_createCCS_v3(systems[p].get(), 0), 0);
    ASSERT_EQ(exp_factor_v3(systems[p].get(), "metis_node"), 0);
    const size_t n = static_cast<size_t>(problem.n);
    for (int32_t c = 0; c < kColumns; ++c) {
      const double* column = problem.rhs.data() + (c % problem.nrhs) * n;
      for (size_t i = 0; i < n; ++i) rhs[p].push_back(column[i] * (1.0 + c));
    }
    alone[p].assign(rhs[p].size(), 0.0);
    ASSERT_EQ(solve(p, alone[p]), 0);
  }
  for (int round = 0; round < 3; ++round) {
    std::vector<std::vector<double>> together(2);
    std::vector<int32_t> status(2, -9);
    onThreads(2, [&](int t) {
      together[t].assign(rhs[t].size(), 0.0);
      status[t] = solve(t, together[t]);
    });
    for (int t = 0; t < 2; ++t) {
      EXPECT_EQ(status[t], 0);
      EXPECT_EQ(together[t], alone[t]) << "round " << round << ", thread " << t;
    }
  }
}

}  // namespace
}  // namespace orv::test

extern "C" int openblas_get_num_threads();

namespace orv::test {
namespace {

// A wide solve used to lower OpenBLAS's thread count, a setting of the whole process, while it
// split its columns over two threads. A BLAS call running on another thread at that moment (a
// second object's solve, or the host's own) came out wrong: relative errors of order 10 in the
// solutions of two objects solved side by side.
TEST(Concurrency, WideSolveChangedTheBlasThreadCountOfTheWholeProcess) {
  const int threads = openblas_get_num_threads();
  const Problem problem = frameProblem(6, 4, 4, 41u);
  constexpr int32_t kColumns = 64;
  SystemHandle system;
  ASSERT_EQ(exp_initMatrix_v3(system.address(), problem.n, 0), 0);
  for (const models::Triplet& t : problem.stiffness) {
    exp_incrMatrixElem_v3(system.get(), t.row, t.col, t.value, 0);
  }
  ASSERT_EQ(exp_createCCS_v3(system.get(), 0), 0);
  ASSERT_EQ(exp_factor_v3(system.get(), "metis_node"), 0);
  std::vector<double> b(static_cast<size_t>(problem.n) * kColumns, 1.0);
  std::vector<double> x(b.size(), 0.0);
  struct Descriptor {
    SAFEARRAY header;
    SAFEARRAYBOUND second;
  } xd{}, bd{};
  for (Descriptor* d : {&xd, &bd}) {
    d->header.cDims = 2;
    d->header.rgsabound[0].cElements = kColumns;
    d->second.cElements = static_cast<uint32_t>(problem.n);
  }
  xd.header.pvData = x.data();
  bd.header.pvData = b.data();
  SAFEARRAY* xp = &xd.header;
  SAFEARRAY* bp = &bd.header;

  std::atomic<bool> solving{true};
  std::atomic<int> lowest{threads};
  std::thread watcher([&] {
    while (solving.load()) lowest = std::min(lowest.load(), openblas_get_num_threads());
  });
  for (int r = 0; r < 10; ++r) EXPECT_EQ(exp_solve_v3(system.get(), &xp, &bp), 0);
  solving = false;
  watcher.join();
  EXPECT_EQ(lowest.load(), threads);
  EXPECT_EQ(openblas_get_num_threads(), threads);
}

TEST(Concurrency, OneCombinationObjectServesManyThreadsAtOnce) {
  constexpr int kModes = 40;
  std::vector<float> frequencies(kModes);
  struct alignas(16) Block {
    float value[24];
  };
  std::vector<Block> in(kModes);
  for (int i = 0; i < kModes; ++i) {
    frequencies[i] = 1.0f + 0.37f * static_cast<float>(i);
    for (int l = 0; l < 24; ++l) in[i].value[l] = std::sin(static_cast<float>(i * 24 + l));
  }
  for (int kind = 1; kind <= 3; ++kind) {
    void* object = nullptr;
    ASSERT_EQ(exp_mediaSismica_init_v3(&object, kind, kModes, frequencies.data(), 0.05f), 0);
    Block alone{};
    ASSERT_EQ(exp_mediaSismica_calc24_v3(object, in[0].value, alone.value), 0);
    constexpr int kThreads = 6;
    std::vector<Block> out(kThreads * 50);
    onThreads(kThreads, [&](int t) {
      for (int r = 0; r < 50; ++r) {
        Block& block = out[static_cast<size_t>(t) * 50 + r];
        block = Block{};
        exp_mediaSismica_calc24_v3(object, in[0].value, block.value);
      }
    });
    for (const Block& block : out) {
      EXPECT_EQ(std::memcmp(block.value, alone.value, sizeof alone.value), 0) << "kind " << kind;
    }
    EXPECT_EQ(exp_mediaSismica_free_v3(&object), 0);
  }
}

}  // namespace
}  // namespace orv::test
