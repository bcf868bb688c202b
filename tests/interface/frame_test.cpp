// What a host sees of the library: its dynamic symbols, the last-error texts, hardware faults
// turned into -1 (the caller's floating-point state around them: recovery_test.cpp), and the log
// of the matrices' lives.
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <set>
#include <sstream>

#include "host.h"

namespace {

using orv::test::lastError;

const std::string kBanner = "Version 3, 0, 0, 0 - RELEASE\n";
const std::string kSizeError = "Cannot initialise B with different size than A";
// An address no mapping covers: reading a file name there is an access violation.
const char* const kUnmapped = reinterpret_cast<const char*>(16);

TEST(DynamicSymbols, AreExactlyTheExportsAndTheStringHelpers) {
  std::istringstream names(
      "exp_initMatrix_v3 exp_deleteMatrix_v3 exp_incrMatrixElem_v3 exp_setMatrixElem_v3 "
      "exp_createCCS_v3 exp_factor_v3 exp_solve_v3 exp_eigenSystem_v3 exp_checksSettings_v3 "
      "exp_getMaxDiag_v3 exp_multVector_v3 exp_writeMatrix_v3 exp_logDestination_v3 "
      "exp_getLastError_v3 exp_LAPACK_DSPGVD_v3 exp_mediaSismica_init_v3 "
      "exp_mediaSismica_calc24_v3 exp_mediaSismica_free_v3 "
      "SysAllocStringByteLen SysStringByteLen SysFreeString");
  const std::set<std::string> expected(std::istream_iterator<std::string>(names), {});
  // The toolchain's nm lists the defined global and weak names of the dynamic symbol table.
  FILE* nm = popen(ORV_NM " -D -g -P --defined-only " ORV_LIBRARY_FILE, "r");
  ASSERT_NE(nm, nullptr);
  std::set<std::string> exported;
  char name[256];
  while (std::fscanf(nm, "%255s %*[^\n]", name) == 1) exported.insert(name);
  EXPECT_EQ(pclose(nm), 0);
  EXPECT_EQ(exported, expected);
}

TEST(LastError, IsFetchedOnceAndTheObjectsFetchDiscardsTheProcessWideText) {
  orv::test::SystemHandle system;
  EXPECT_EQ(exp_initMatrix_v3(system.address(), 5, 1), -1);  // reported on the object it created
  EXPECT_EQ(exp_initMatrix_v3(system.address(), 5, 0), 0);   // a success keeps the text
  EXPECT_EQ(lastError(system.get()), kSizeError);
  EXPECT_EQ(lastError(system.get()), "");  // empty, not null
  EXPECT_EQ(exp_initMatrix_v3(nullptr, 3, 0), -1);
  EXPECT_EQ(lastError(nullptr), "symRealSPDMatrixLinSys not allocated");
  EXPECT_EQ(lastError(nullptr), "");
  EXPECT_EQ(exp_initMatrix_v3(nullptr, 3, 0), -1);
  EXPECT_EQ(exp_initMatrix_v3(system.address(), 4, 1), -1);
  EXPECT_EQ(lastError(system.get()), kSizeError);
  EXPECT_EQ(lastError(nullptr), "");
}

TEST(HardwareFault, IsReportedAsTheExceptionCodeEveryTimeAndTheLibraryStaysUsable) {
  orv::test::SystemHandle system;
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(exp_initMatrix_v3(system.address(), 3, 0), 0);
    EXPECT_EQ(exp_logDestination_v3(system.get(), kUnmapped), -1);
    BSTR text = exp_getLastError_v3(system.get());
    const uint32_t length = reinterpret_cast<const uint32_t*>(text)[-1];  // what hosts read
    EXPECT_EQ(std::string(text, length + 2), std::string("CException n. C0000005\0\0", 24));
    SysFreeString(text);
  }
  EXPECT_EQ(exp_logDestination_v3(nullptr, kUnmapped), -1);
  EXPECT_EQ(lastError(nullptr), "symRealSPDMatrixLinSys not allocated");
}

TEST(HardwareFault, InDeleteOrLastErrorIsAbsorbed) {
  auto* const notAnObject = reinterpret_cast<symRealSPDMatrixLinSys*>(16);
  exp_deleteMatrix_v3(reinterpret_cast<symRealSPDMatrixLinSys**>(16));
  EXPECT_EQ(lastError(nullptr), "symRealSPDMatrixLinSys not allocated");
  symRealSPDMatrixLinSys* handle = notAnObject;
  exp_deleteMatrix_v3(&handle);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(lastError(nullptr), "symRealSPDMatrixLinSys not allocated");
  EXPECT_EQ(exp_getLastError_v3(notAnObject), nullptr);
}

std::string initialised(char tag, int n) {
  return std::string(1, tag) + ": Matrix initialised to " + std::to_string(n) +
         " degree of freedom\n" + tag + ": Matrix assembly started\n";
}

using Lifecycle = orv::test::LoggedSystem;

TEST_F(Lifecycle, LogTellsEachMatrixsLifeUntilDeleteEndsLogging) {
  const std::string separator = std::string(71, '*') + "\n";
  // Order, matrix (0 A, 1 B) and result: no phase for an empty order, A again releases B then A,
  // B of another size fails and leaves the B there was.
  const int calls[][3] = {{0, 0, 0}, {-4, 0, 0}, {3, 0, 0}, {3, 1, 0},
                          {4, 0, 0}, {4, 1, 0},  {2, 1, -1}};
  for (const auto& c : calls) EXPECT_EQ(exp_initMatrix_v3(system.address(), c[0], c[1]), c[2]);
  EXPECT_EQ(newLog(), kBanner + separator + separator + separator + initialised('A', 3) +
                          initialised('B', 3) + separator +
                          "B: All memory released\nA: All memory released\n" + initialised('A', 4) +
                          initialised('B', 4) + "ERROR: " + kSizeError + "\n\n");
  ASSERT_EQ(exp_logDestination_v3(nullptr, ""), 0);
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 4, 1), 0);
  EXPECT_EQ(newLog(), "");
  ASSERT_EQ(exp_logDestination_v3(nullptr, log.c_str()), 0);  // truncates
  exp_deleteMatrix_v3(system.address());
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 2, 0), 0);
  EXPECT_EQ(orv::test::readFile(log.path()),
            kBanner + "A: All memory released\nB: All memory released\n");
}

}  // namespace
