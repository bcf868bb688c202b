// The Windows stand-ins: string layout, fault text and the floating-point guard.
#include <fenv.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "platform/platform.h"

namespace {

TEST(Bstr, HoldsLengthBeforeAndTwoNulsAfterTheBytes) {
  const char text[] = "ab\0cd";  // an embedded NUL is part of the string
  BSTR s = SysAllocStringByteLen(text, 5);
  ASSERT_NE(s, nullptr);
  uint32_t prefix = 0;
  std::memcpy(&prefix, s - 4, 4);
  EXPECT_EQ(prefix, 5u);
  EXPECT_EQ(SysStringByteLen(s), 5u);
  EXPECT_EQ(std::memcmp(s, text, 5), 0);
  EXPECT_EQ(s[5], '\0');
  EXPECT_EQ(s[6], '\0');
  SysFreeString(s);
}

TEST(Bstr, NullTextGivesZeroBytesAndNullStringIsHarmless) {
  BSTR s = SysAllocStringByteLen(nullptr, 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringByteLen(s), 3u);
  EXPECT_EQ(s[0] | s[1] | s[2], 0);
  SysFreeString(s);
  SysFreeString(nullptr);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
}

TEST(Bstr, EmptyStringIsNotNull) {
  BSTR s = orv::makeBstr("");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringByteLen(s), 0u);
  EXPECT_EQ(s[0], '\0');
  SysFreeString(s);
}

TEST(SEException, FormatsUpperCaseHexWithoutLeadingZeros) {
  EXPECT_STREQ(orv::SE_Exception(0xC0000005u).what(), "CException n. C0000005");
  EXPECT_STREQ(orv::SE_Exception(0x1Du).what(), "CException n. 1D");
}

// Keeps the compiler from folding the division at build time.
double divide(double a, double b) {
  volatile double numerator = a;
  volatile double denominator = b;
  return numerator / denominator;
}

TEST(FpuGuard, MasksTrapsInsideAndRestoresCallersTrapsWithoutPendingFlags) {
  feclearexcept(FE_ALL_EXCEPT);
  ASSERT_EQ(feenableexcept(FE_DIVBYZERO | FE_INVALID), 0);
  double result = 0.0;
  {
    orv::FpuGuard guard;
    EXPECT_EQ(fegetexcept(), 0);
    result = divide(1.0, 0.0);
    EXPECT_NE(fetestexcept(FE_DIVBYZERO), 0);
  }
  const int traps = fegetexcept();
  const int pending = fetestexcept(FE_ALL_EXCEPT);
  fedisableexcept(FE_ALL_EXCEPT);
  EXPECT_TRUE(std::isinf(result));
  EXPECT_EQ(traps, FE_DIVBYZERO | FE_INVALID);
  EXPECT_EQ(pending, 0);
}

TEST(FpuGuard, CoversTheX87UnitToo) {
  feclearexcept(FE_ALL_EXCEPT);
  ASSERT_EQ(feenableexcept(FE_DIVBYZERO), 0);
  long double result = 0.0L;
  {
    orv::FpuGuard guard;
    volatile long double numerator = 1.0L;
    volatile long double denominator = 0.0L;
    result = numerator / denominator;
  }
  const int traps = fegetexcept();
  const int pending = fetestexcept(FE_ALL_EXCEPT);
  fedisableexcept(FE_ALL_EXCEPT);
  EXPECT_TRUE(std::isinf(result));
  EXPECT_EQ(traps, FE_DIVBYZERO);
  EXPECT_EQ(pending, 0);
}

TEST(FpuGuard, LeavesNoTrapsEnabledWhenTheCallerHadNone) {
  fedisableexcept(FE_ALL_EXCEPT);
  { orv::FpuGuard guard; }
  EXPECT_EQ(fegetexcept(), 0);
}

}  // namespace
