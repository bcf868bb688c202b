// The call frame: last-error texts, the exception barrier and hardware faults.
#include <gtest/gtest.h>

#include "export_helpers.h"
#include "test_support.h"

namespace {

using orv::test::lastError;
using orv::test::readFile;
using orv::test::ScratchFile;
using orv::test::SystemHandle;

// An address no mapping covers: reading a file name there is an access violation.
const char* const kUnmapped = reinterpret_cast<const char*>(16);

class LastError : public ::testing::Test {
 protected:
  void SetUp() override {
    lastError(nullptr);  // start with no pending process-wide text
    ASSERT_EQ(exp_initMatrix_v3(system.address(), 3, 0), 0);
  }
  SystemHandle system;
};

TEST_F(LastError, NoErrorGivesAnEmptyStringNotANullOne) {
  BSTR text = exp_getLastError_v3(system.get());
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringByteLen(text), 0u);
  SysFreeString(text);
  text = exp_getLastError_v3(nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringByteLen(text), 0u);
  SysFreeString(text);
}

TEST_F(LastError, SecondFetchIsEmpty) {
  EXPECT_EQ(exp_initMatrix_v3(system.address(), 4, 1), -1);
  EXPECT_EQ(lastError(system.get()), "Cannot initialise B with different size than A");
  EXPECT_EQ(lastError(system.get()), "");
}

TEST_F(LastError, FailureWithoutAnObjectSetsTheProcessWideText) {
  EXPECT_EQ(exp_initMatrix_v3(nullptr, 3, 0), -1);
  EXPECT_EQ(lastError(nullptr), "symRealSPDMatrixLinSys not allocated");
  EXPECT_EQ(lastError(nullptr), "");
}

TEST_F(LastError, ObjectTextWinsAndDiscardsTheProcessWideText) {
  EXPECT_EQ(exp_initMatrix_v3(nullptr, 3, 0), -1);
  EXPECT_EQ(exp_initMatrix_v3(system.address(), 5, 1), -1);
  EXPECT_EQ(lastError(system.get()), "Cannot initialise B with different size than A");
  EXPECT_EQ(lastError(nullptr), "");
}

TEST_F(LastError, ObjectWithoutErrorStillDiscardsTheProcessWideText) {
  EXPECT_EQ(exp_initMatrix_v3(nullptr, 3, 0), -1);
  EXPECT_EQ(lastError(system.get()), "");
  EXPECT_EQ(lastError(nullptr), "");
}

TEST_F(LastError, SuccessfulCallsKeepAnOldError) {
  EXPECT_EQ(exp_initMatrix_v3(system.address(), 5, 1), -1);
  EXPECT_EQ(exp_initMatrix_v3(system.address(), 3, 1), 0);
  EXPECT_EQ(lastError(system.get()), "Cannot initialise B with different size than A");
}

TEST_F(LastError, FailureIsLoggedAsAnErrorLine) {
  ScratchFile log("run.log");
  ASSERT_EQ(exp_logDestination_v3(system.get(), log.c_str()), 0);
  EXPECT_EQ(exp_initMatrix_v3(system.address(), 5, 1), -1);
  exp_logDestination_v3(nullptr, "");
  EXPECT_EQ(readFile(log.path()),
            "Version 3, 0, 0, 0 - RELEASE\n"
            "ERROR: Cannot initialise B with different size than A\n\n");
}

TEST(HardwareFault, AccessViolationInAFramedExportIsReportedAndTheLibraryStaysUsable) {
  SystemHandle system;
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 3, 0), 0);
  EXPECT_EQ(exp_logDestination_v3(system.get(), kUnmapped), -1);
  EXPECT_EQ(lastError(system.get()), "CException n. C0000005");

  ScratchFile log("after-fault.log");
  EXPECT_EQ(exp_logDestination_v3(system.get(), log.c_str()), 0);
  EXPECT_EQ(exp_initMatrix_v3(system.address(), 3, 1), 0);
  exp_logDestination_v3(nullptr, "");
  EXPECT_EQ(readFile(log.path()),
            "Version 3, 0, 0, 0 - RELEASE\n"
            "B: Matrix initialised to 3 degree of freedom\n"
            "B: Matrix assembly started\n");
}

TEST(HardwareFault, FaultWithoutAnObjectGoesToTheProcessWideText) {
  EXPECT_EQ(exp_logDestination_v3(nullptr, kUnmapped), -1);
  EXPECT_EQ(lastError(nullptr), "symRealSPDMatrixLinSys not allocated");
}

TEST(HardwareFault, RepeatedFaultsAreEachRecovered) {
  SystemHandle system;
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 2, 0), 0);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(exp_logDestination_v3(system.get(), kUnmapped), -1);
    EXPECT_EQ(lastError(system.get()), "CException n. C0000005");
  }
}

TEST(LogDestination, OpenFailureReturnsMinusOneWithoutErrorText) {
  SystemHandle system;
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 2, 0), 0);
  ScratchFile log("x.log");
  const std::string bad = log.folder() + "/no/such/folder.log";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(exp_logDestination_v3(system.get(), bad.c_str()), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "could not open log file " + bad + ", exiting\n");
  EXPECT_EQ(lastError(system.get()), "");
}

TEST(LogDestination, EmptyNameTurnsLoggingOffAndReturnsZero) {
  ScratchFile log("x.log");
  ASSERT_EQ(exp_logDestination_v3(nullptr, log.c_str()), 0);
  EXPECT_EQ(exp_logDestination_v3(nullptr, ""), 0);
  SystemHandle system;
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 2, 0), 0);
  EXPECT_EQ(readFile(log.path()), "Version 3, 0, 0, 0 - RELEASE\n");
}

TEST(LogDestination, NamingTheSameFileTwiceKeepsOnlyWhatFollowsTheSecondCall) {
  ScratchFile log("x.log");
  SystemHandle system;
  ASSERT_EQ(exp_logDestination_v3(nullptr, log.c_str()), 0);
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 2, 0), 0);
  ASSERT_EQ(exp_logDestination_v3(nullptr, log.c_str()), 0);
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 2, 1), 0);
  exp_logDestination_v3(nullptr, "");
  EXPECT_EQ(readFile(log.path()),
            "Version 3, 0, 0, 0 - RELEASE\n"
            "B: Matrix initialised to 2 degree of freedom\n"
            "B: Matrix assembly started\n");
}

}  // namespace
