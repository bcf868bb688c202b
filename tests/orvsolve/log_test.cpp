// What orvsolve reads from the library's log, and the progress line it shows while a call runs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "log.h"
#include "test_support.h"

namespace orv::cli {
namespace {

TEST(OrvsolveLog, SummarySumsRepeatedPhasesAndKeepsTheLastEstimate) {
  const std::string log =
      "Version 3, 0, 0, 0 - RELEASE\n"
      "A: Matrix initialised to 3 degree of freedom\n"
      "A: Matrix assembly started\n"
      "B: Matrix initialised to 3 degree of freedom\n"
      "B: Matrix assembly started\n"
      "A: Matrix assembly completed in 1.00e-03 sec (2.00e-03 CPU)\n\n"
      "A: CCS matrix creation started\n"
      "Number of nonzero elements: 5\n"
      "A: CCS matrix creation completed in 1.50e-04 sec (1.00e-04 CPU)\n\n"
      "B: CCS matrix creation started\n"
      "Number of nonzero elements: 3\n"
      "B: CCS matrix creation completed in 2.00e-05 sec (1.00e-05 CPU)\n\n"
      "A: Post-factor checks started\n"
      "Norm-1 condition number estimate: 15416.5\n"
      "A: Post-factor checks completed in 8.01e-04 sec (1.44e-03 CPU)\n\n"
      "A: Right hand sides solutions started\n"
      "A: Right hand sides solutions completed in 1.00e-04 sec (2.00e-04 CPU)\n\n"
      "A: Post-solve checks started\n"
      "Norm-1 condition number estimate: 2.5e+07\n"
      "A: Right hand sides solutions started\n"
      "A: Right hand sides solutions completed in 3.00e-04 sec (4.00e-04 CPU)\n\n"
      "A: Eigensystem calculation started\n"
      "Attempting search of selected eigenvalues only\n"
      "Back-transformation completed: 12 eigenvalues valid\n";
  const LogSummary s = summariseLog(log);
  EXPECT_EQ(s.banner, "Version 3, 0, 0, 0 - RELEASE");
  ASSERT_EQ(s.phases.size(), 5u);
  EXPECT_EQ(s.phases[0].tag, 'A');
  EXPECT_EQ(s.phases[0].name, "Matrix assembly");
  EXPECT_EQ(s.phases[2].tag, 'B');
  EXPECT_EQ(s.phases[2].name, "CCS matrix creation");
  EXPECT_EQ(s.phases[4].name, "Right hand sides solutions");
  EXPECT_EQ(s.phases[4].count, 2);
  EXPECT_DOUBLE_EQ(s.phases[4].wall, 4.0e-4);
  EXPECT_DOUBLE_EQ(s.phases[4].cpu, 6.0e-4);
  ASSERT_TRUE(s.condition.has_value());
  EXPECT_EQ(*s.condition, 2.5e7);
  EXPECT_EQ(s.storedEntries.at('A'), 5);
  EXPECT_EQ(s.storedEntries.at('B'), 3);
  EXPECT_EQ(s.eigenRoute,
            (std::vector<std::string>{"Attempting search of selected eigenvalues only",
                                      "Back-transformation completed: 12 eigenvalues valid"}));
}

TEST(OrvsolveLog, FailureContextIsTheFailedPhaseLinesBeforeTheLastError) {
  const std::string log =
      "Version 3, 0, 0, 0 - RELEASE\n"
      "A: Numeric factorization started\n"
      "ERROR: Numeric factorization failed\n\n"
      "A: Post-factor checks started\n"
      "Norm1(Mat) calculation completed\n"
      "Norm-1 condition number estimate: 1.2e+13\n"
      "log10(Norm1CondNumEst) greater than 12\n"
      "A: Post-factor checks completed in 1.44e-02 sec (1.81e-02 CPU)\n\n"
      "ERROR: Post-factor checks failed. System is ill conditioned\n\n"
      "A: All memory released\n";
  EXPECT_EQ(failureContext(log, 2),
            (std::vector<std::string>{"Norm-1 condition number estimate: 1.2e+13",
                                      "log10(Norm1CondNumEst) greater than 12"}));
  EXPECT_EQ(failureContext(log.substr(0, log.find("ERROR: Post")), 3), std::vector<std::string>{});
  EXPECT_EQ(failureContext("Version 3, 0, 0, 0 - RELEASE\n", 3), std::vector<std::string>{});
}

// Standard error sent to a file for the life of the object.
class CapturedStderr {
 public:
  explicit CapturedStderr(const std::string& path) : saved_(dup(STDERR_FILENO)) {
    std::fflush(stderr);
    std::FILE* f = std::fopen(path.c_str(), "w");
    dup2(fileno(f), STDERR_FILENO);
    std::fclose(f);
  }
  ~CapturedStderr() {
    std::fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
  }
  CapturedStderr(const CapturedStderr&) = delete;
  CapturedStderr& operator=(const CapturedStderr&) = delete;

 private:
  int saved_;
};

void append(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::app) << text << std::flush;
}

// Waits up to two seconds for text to show in the file at path.
bool appears(const std::string& path, const std::string& text) {
  for (int k = 0; k < 200; ++k) {
    if (test::readFile(path).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(OrvsolveLog, ProgressShowsEachPhaseLineAsTheLogGrowsThenErasesIt) {
  const test::ScratchFile log("library.log");
  const std::string shown = log.folder() + "/stderr.txt";
  append(log.path(), "Version 3, 0, 0, 0 - RELEASE\nA: Matrix assembly started\n");
  {
    const CapturedStderr capture(shown);
    {
      const Progress progress(log.path(), true);
      append(log.path(), "A: Numeric factorization started\nSupernodal Multifrontal LL^T\n");
      EXPECT_TRUE(appears(shown, "\r\033[Korvsolve: A: Numeric factorization started"));
      append(log.path(), "A: Numeric factorization completed in 2.18e-03 sec (4.35e-03 CPU)\n");
      EXPECT_TRUE(appears(shown, "\r\033[Korvsolve: A: Numeric factorization completed in"));
    }
  }
  const std::string text = test::readFile(shown);
  EXPECT_EQ(text,
            "\r\033[Korvsolve: A: Numeric factorization started"
            "\r\033[Korvsolve: A: Numeric factorization completed in 2.18e-03 sec (4.35e-03 CPU)"
            "\r\033[K")
      << "lines logged before the call and lines that are no phase are not shown";
}

TEST(OrvsolveLog, DisabledProgressWritesNothing) {
  const test::ScratchFile log("library.log");
  const std::string shown = log.folder() + "/stderr.txt";
  append(log.path(), "Version 3, 0, 0, 0 - RELEASE\n");
  {
    const CapturedStderr capture(shown);
    const Progress progress(log.path(), false);
    append(log.path(), "A: Numeric factorization started\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  EXPECT_EQ(test::readFile(shown), "");
}

}  // namespace
}  // namespace orv::cli
