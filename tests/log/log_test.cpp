// The log sink and the phase timer, against the exact text hosts and stored logs rely on.
#include <gtest/gtest.h>

#include <regex>

#include "log/log.h"
#include "test_support.h"

namespace {

using orv::test::readFile;
using orv::test::ScratchFile;

class LogSink : public ::testing::Test {
 protected:
  void TearDown() override { orv::setLogDestination("", ""); }
};

TEST_F(LogSink, BannerCarriesTheBuildVersion) {
  EXPECT_EQ(orv::versionBanner(), "Version 3, 0, 0, 0 - RELEASE\n");
}

TEST_F(LogSink, ReopeningTheSameFileTruncatesIt) {
  ScratchFile log("run.log");
  ASSERT_EQ(orv::setLogDestination(log.path(), "banner\n"), 0);
  orv::taucs_printf("first %d\n", 1);
  ASSERT_EQ(orv::setLogDestination(log.path(), "banner\n"), 0);
  orv::taucs_printf("second %d\n", 2);
  EXPECT_EQ(readFile(log.path()), "banner\nsecond 2\n");
}

TEST_F(LogSink, EveryWriteIsOnDiskWhenTheCallReturns) {
  ScratchFile log("run.log");
  ASSERT_EQ(orv::setLogDestination(log.path(), "b\n"), 0);
  orv::taucs_printf("%s", "flushed\n");
  EXPECT_EQ(readFile(log.path()), "b\nflushed\n");
}

TEST_F(LogSink, EmptyNameClosesTheLogAndTurnsLoggingOff) {
  ScratchFile log("run.log");
  ASSERT_EQ(orv::setLogDestination(log.path(), "b\n"), 0);
  EXPECT_TRUE(orv::logEnabled());
  EXPECT_EQ(orv::setLogDestination("", "ignored\n"), 0);
  EXPECT_FALSE(orv::logEnabled());
  orv::taucs_printf("lost\n");
  EXPECT_EQ(readFile(log.path()), "b\n");
}

TEST_F(LogSink, FileThatCannotBeOpenedIsReportedOnStandardErrorAndLeavesLoggingOff) {
  ScratchFile log("run.log");
  const std::string bad = log.folder() + "/missing-folder/run.log";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(orv::setLogDestination(bad, "b\n"), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "could not open log file " + bad + ", exiting\n");
  EXPECT_FALSE(orv::logEnabled());
}

TEST_F(LogSink, PhaseLinesCarryTheTagAndTwoTimesInExponentForm) {
  ScratchFile log("run.log");
  ASSERT_EQ(orv::setLogDestination(log.path(), ""), 0);
  orv::PhaseTimer timer('B');
  timer.startPhase("Matrix assembly");
  timer.completePhase("Matrix assembly");
  const std::regex expected(
      "B: Matrix assembly started\n"
      "B: Matrix assembly completed in \\d\\.\\d\\de[+-]\\d\\d sec \\(\\d\\.\\d\\de[+-]\\d\\d "
      "CPU\\)"
      "\n\n");
  EXPECT_TRUE(std::regex_match(readFile(log.path()), expected)) << readFile(log.path());
  EXPECT_GE(timer.wallTime(), 0.0);
  EXPECT_GE(timer.cpuTime(), 0.0);
}

TEST(Clocks, AdvanceWithWork) {
  const double wall = orv::wallSeconds();
  const double cpu = orv::cpuSeconds();
  volatile double sink = 0.0;
  for (int k = 0; k < 5'000'000; ++k) sink = sink + 1.0;
  EXPECT_GT(orv::cpuSeconds(), cpu);
  EXPECT_GT(orv::wallSeconds(), wall);
}

}  // namespace
