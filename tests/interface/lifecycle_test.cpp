// Creation, re-initialisation and destruction of a linear system, read from the log.
#include <gtest/gtest.h>

#include "export_helpers.h"
#include "test_support.h"

namespace {

using orv::test::lastError;
using orv::test::readFile;
using orv::test::ScratchFile;
using orv::test::SystemHandle;

const std::string kBanner = "Version 3, 0, 0, 0 - RELEASE\n";
const std::string kSeparator =
    "***********************************************************************\n";

std::string initialised(char tag, int n) {
  return std::string(1, tag) + ": Matrix initialised to " + std::to_string(n) +
         " degree of freedom\n" + tag + ": Matrix assembly started\n";
}

std::string released(char tag) { return std::string(1, tag) + ": All memory released\n"; }

class Lifecycle : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(exp_logDestination_v3(nullptr, log.c_str()), 0); }
  void TearDown() override { exp_logDestination_v3(nullptr, ""); }
  std::string logText() const { return readFile(log.path()); }

  ScratchFile log{"lifecycle.log"};
};

TEST_F(Lifecycle, SeparatorHasSeventyOneAsterisks) { EXPECT_EQ(kSeparator.size(), 72u); }

TEST_F(Lifecycle, InitialisingATwiceReleasesItBetween) {
  SystemHandle system;
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 3, 0), 0);
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 3, 0), 0);
  EXPECT_EQ(logText(), kBanner + kSeparator + initialised('A', 3) + kSeparator + released('A') +
                           initialised('A', 3));
}

TEST_F(Lifecycle, InitialisingAReleasesBBeforeA) {
  SystemHandle system;
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 3, 0), 0);
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 3, 1), 0);
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 4, 0), 0);
  EXPECT_EQ(logText(), kBanner + kSeparator + initialised('A', 3) + initialised('B', 3) +
                           kSeparator + released('B') + released('A') + initialised('A', 4));
}

TEST_F(Lifecycle, BOfAnotherSizeFailsAndTheNewObjectStaysInTheHandle) {
  SystemHandle system;
  EXPECT_EQ(exp_initMatrix_v3(system.address(), 5, 1), -1);
  ASSERT_NE(system.get(), nullptr);
  EXPECT_EQ(lastError(system.get()), "Cannot initialise B with different size than A");
  EXPECT_EQ(exp_initMatrix_v3(system.address(), 0, 1), 0);
  EXPECT_EQ(logText(), kBanner + "ERROR: Cannot initialise B with different size than A\n\n");
}

TEST_F(Lifecycle, BOfAnotherSizeLeavesTheEarlierBUntouched) {
  SystemHandle system;
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 3, 0), 0);
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 3, 1), 0);
  EXPECT_EQ(exp_initMatrix_v3(system.address(), 2, 1), -1);
  exp_deleteMatrix_v3(system.address());
  EXPECT_EQ(logText(), kBanner + kSeparator + initialised('A', 3) + initialised('B', 3) +
                           "ERROR: Cannot initialise B with different size than A\n\n" +
                           released('A') + released('B'));
}

TEST_F(Lifecycle, NonPositiveDimensionLeavesTheMatrixEmptyWithoutAPhase) {
  SystemHandle system;
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 0, 0), 0);
  ASSERT_EQ(exp_initMatrix_v3(system.address(), -4, 0), 0);
  EXPECT_EQ(logText(), kBanner + kSeparator + kSeparator);
}

TEST_F(Lifecycle, DimensionTooLargeToReserveFailsAndTheObjectStaysUsable) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer aborts on an allocation this large instead of throwing";
#endif
  SystemHandle system;
  EXPECT_EQ(exp_initMatrix_v3(system.address(), 2147483647, 0), -1);
  EXPECT_EQ(lastError(system.get()), "Out of memory");
  EXPECT_EQ(exp_initMatrix_v3(system.address(), 2, 0), 0);
  EXPECT_EQ(exp_initMatrix_v3(system.address(), 2, 1), 0);
}

TEST_F(Lifecycle, DeleteReleasesAThenBAndTurnsLoggingOff) {
  SystemHandle system;
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 2, 0), 0);
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 2, 1), 0);
  exp_deleteMatrix_v3(system.address());
  EXPECT_EQ(system.get(), nullptr);
  SystemHandle other;
  ASSERT_EQ(exp_initMatrix_v3(other.address(), 2, 0), 0);
  EXPECT_EQ(logText(), kBanner + kSeparator + initialised('A', 2) + initialised('B', 2) +
                           released('A') + released('B'));
}

TEST_F(Lifecycle, DeletingAnyObjectTurnsLoggingOffForAllOfThem) {
  SystemHandle first;
  SystemHandle second;
  ASSERT_EQ(exp_initMatrix_v3(first.address(), 0, 0), 0);
  ASSERT_EQ(exp_initMatrix_v3(second.address(), 2, 0), 0);
  exp_deleteMatrix_v3(first.address());
  ASSERT_EQ(exp_initMatrix_v3(second.address(), 2, 1), 0);
  EXPECT_EQ(logText(), kBanner + kSeparator + kSeparator + initialised('A', 2));
}

TEST_F(Lifecycle, DeletingAnUninitialisedObjectLogsNothing) {
  SystemHandle system;
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 0, 1), 0);
  exp_deleteMatrix_v3(system.address());
  EXPECT_EQ(logText(), kBanner);
}

TEST(Delete, ZeroHandleAndNullPointerDoNothing) {
  symRealSPDMatrixLinSys* handle = nullptr;
  exp_deleteMatrix_v3(&handle);
  EXPECT_EQ(handle, nullptr);
  exp_deleteMatrix_v3(nullptr);
}

}  // namespace
