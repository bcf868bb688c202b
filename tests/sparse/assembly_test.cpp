// Assembly from records, conversion to the compressed-column record and edits in place.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

#include "export_helpers.h"
#include "test_support.h"

namespace {

using orv::test::countOf;
using orv::test::lastError;
using orv::test::readFile;
using orv::test::ScratchFile;
using orv::test::SystemHandle;

class Assembly : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(exp_logDestination_v3(nullptr, log.c_str()), 0);
    ASSERT_EQ(exp_initMatrix_v3(system.address(), 6, 0), 0);
    ASSERT_EQ(exp_initMatrix_v3(system.address(), 6, 1), 0);
  }
  void TearDown() override { exp_logDestination_v3(nullptr, ""); }

  int incr(int row, int column, double value, int which = 0) {
    return exp_incrMatrixElem_v3(system.get(), row, column, value, which);
  }
  int set(int row, int column, double value, int which = 0) {
    return exp_setMatrixElem_v3(system.get(), row, column, value, which);
  }
  // The matrix as its dump file reads.
  std::string dump(int which = 0) {
    ScratchFile file("m.ijv");
    EXPECT_EQ(exp_writeMatrix_v3(system.get(), file.c_str(), which), 0);
    return readFile(file.path());
  }

  ScratchFile log{"assembly.log"};
  SystemHandle system;
};

TEST_F(Assembly, RecordsOfOnePositionAreSummedAndASetBeforeConversionAddsToo) {
  ASSERT_EQ(incr(3, 1, 1.5), 0);
  ASSERT_EQ(incr(3, 1, 2.5), 0);
  ASSERT_EQ(incr(5, 5, 1.0), 0);
  ASSERT_EQ(exp_createCCS_v3(system.get(), 0), 0);
  EXPECT_EQ(dump(),
            "6 2\n"
            "4 2 4.00000000000000000e+00\n"
            "6 6 1.00000000000000000e+00\n");

  ASSERT_EQ(exp_initMatrix_v3(system.address(), 6, 0), 0);
  ASSERT_EQ(incr(3, 1, 1.5), 0);
  ASSERT_EQ(incr(3, 1, 2.5), 0);
  ASSERT_EQ(set(3, 1, 7.0), 0);
  ASSERT_EQ(exp_createCCS_v3(system.get(), 0), 0);
  EXPECT_EQ(dump(), "6 1\n4 2 1.10000000000000000e+01\n");
}

TEST_F(Assembly, AfterConversionSetReplacesAndIncrementAdds) {
  ASSERT_EQ(incr(3, 1, 1.5), 0);
  ASSERT_EQ(exp_createCCS_v3(system.get(), 0), 0);
  ASSERT_EQ(set(3, 1, 7.0), 0);
  EXPECT_EQ(dump(), "6 1\n4 2 7.00000000000000000e+00\n");
  ASSERT_EQ(incr(3, 1, 1.0), 0);
  EXPECT_EQ(dump(), "6 1\n4 2 8.00000000000000000e+00\n");
}

TEST_F(Assembly, PositionOutsideThePatternIsNotFoundAndChangesNothing) {
  ASSERT_EQ(incr(5, 5, 2.0), 0);
  ASSERT_EQ(incr(0, 0, 3.0), 0);
  ASSERT_EQ(exp_createCCS_v3(system.get(), 0), 0);
  const std::string before = dump();
  EXPECT_EQ(set(5, 0, 1.0), -1);
  EXPECT_EQ(lastError(system.get()), "Element not found");
  EXPECT_EQ(incr(5, 0, 1.0), -1);
  EXPECT_EQ(lastError(system.get()), "Element not found");
  EXPECT_EQ(dump(), before);
}

TEST_F(Assembly, ExplicitZeroKeepsItsPlaceInThePattern) {
  ASSERT_EQ(incr(2, 0, 0.0), 0);
  ASSERT_EQ(incr(2, 0, 1.0), 0);
  ASSERT_EQ(incr(2, 0, -1.0), 0);
  ASSERT_EQ(exp_createCCS_v3(system.get(), 0), 0);
  EXPECT_EQ(dump(), "6 1\n3 1 0.00000000000000000e+00\n");
  EXPECT_EQ(set(2, 0, 9.5), 0);
  EXPECT_EQ(dump(), "6 1\n3 1 9.50000000000000000e+00\n");
}

TEST_F(Assembly, LogCountsDistinctPositionsNotRecords) {
  for (int k = 0; k < 4; ++k) ASSERT_EQ(incr(1, 0, 1.0), 0);
  ASSERT_EQ(incr(4, 4, 1.0), 0);
  ASSERT_EQ(exp_createCCS_v3(system.get(), 0), 0);
  const std::string text = readFile(log.path());
  EXPECT_EQ(countOf(text, "Number of nonzero elements: 2\n"), 1) << text;
  EXPECT_EQ(countOf(text, "A: Matrix assembly completed in "), 1);
  EXPECT_EQ(countOf(text, "A: CCS matrix creation started\n"), 1);
  EXPECT_EQ(countOf(text, "A: CCS matrix creation completed in "), 1);
  EXPECT_LT(text.find("A: Matrix assembly completed"), text.find("A: CCS matrix creation started"));
  EXPECT_LT(text.find("Number of nonzero elements"), text.find("A: CCS matrix creation completed"));
}

TEST_F(Assembly, SecondConversionFailsAndKeepsTheFirst) {
  ASSERT_EQ(incr(1, 1, 2.0), 0);
  ASSERT_EQ(exp_createCCS_v3(system.get(), 0), 0);
  const std::string first = dump();
  EXPECT_EQ(exp_createCCS_v3(system.get(), 0), -1);
  EXPECT_EQ(lastError(system.get()), "Matrix already in CCS form");
  EXPECT_EQ(dump(), first);
}

TEST_F(Assembly, EmptyMatrixCannotBeConvertedAndKeepsAssembling) {
  EXPECT_EQ(exp_createCCS_v3(system.get(), 1), -1);
  EXPECT_EQ(lastError(system.get()), "Matrix is empty");
  ASSERT_EQ(incr(0, 0, 1.0, 1), 0);
  EXPECT_EQ(exp_createCCS_v3(system.get(), 1), 0);
  EXPECT_EQ(countOf(readFile(log.path()), "B: Matrix assembly completed in "), 1);
}

TEST_F(Assembly, IndicesOutsideTheDimensionAreRefusedAndNothingIsStored) {
  for (auto [row, column] : std::vector<std::pair<int, int>>{{-1, 0}, {0, -1}, {6, 0}, {0, 6}}) {
    EXPECT_EQ(incr(row, column, 1.0), -1);
    EXPECT_EQ(lastError(system.get()), "Element index out of range");
    EXPECT_EQ(set(row, column, 1.0, 1), -1);
    EXPECT_EQ(lastError(system.get()), "Element index out of range");
  }
  EXPECT_EQ(exp_createCCS_v3(system.get(), 0), -1);
  EXPECT_EQ(lastError(system.get()), "Matrix is empty");
}

TEST_F(Assembly, UninitialisedMatrixRefusesEveryIndex) {
  SystemHandle empty;
  ASSERT_EQ(exp_initMatrix_v3(empty.address(), 0, 0), 0);
  EXPECT_EQ(exp_incrMatrixElem_v3(empty.get(), 0, 0, 1.0, 0), -1);
  EXPECT_EQ(lastError(empty.get()), "Element index out of range");
}

TEST_F(Assembly, RecordsInAnyOrderGiveTheSameRecord) {
  std::vector<std::tuple<int, int, double>> records;
  for (int j = 0; j < 6; ++j) {
    for (int i = j; i < 6; ++i) {
      if ((i + 2 * j) % 3 == 0) {
        records.emplace_back(i, j, i + 10.0 * j);
        records.emplace_back(i, j, 0.5);  // a duplicate, exact in any order
      }
    }
  }
  std::string expected;
  for (unsigned seed : {1u, 2u, 3u}) {
    std::mt19937 random(seed);
    std::shuffle(records.begin(), records.end(), random);
    ASSERT_EQ(exp_initMatrix_v3(system.address(), 6, 0), 0);
    for (auto [i, j, v] : records) ASSERT_EQ(incr(i, j, v), 0);
    ASSERT_EQ(exp_createCCS_v3(system.get(), 0), 0);
    if (expected.empty()) {
      expected = dump();
    } else {
      EXPECT_EQ(dump(), expected) << "seed " << seed;
    }
  }
  EXPECT_EQ(expected.substr(0, expected.find('\n')), "6 9");
}

TEST_F(Assembly, RecordAboveTheDiagonalIsKeptAsGiven) {
  ASSERT_EQ(incr(0, 2, 4.0), 0);
  ASSERT_EQ(exp_createCCS_v3(system.get(), 0), 0);
  EXPECT_EQ(dump(), "6 1\n1 3 4.00000000000000000e+00\n");
  EXPECT_EQ(set(0, 2, 5.0), 0);
}

TEST(NullObject, EveryMatrixExportFailsWithTheProcessWideText) {
  double value = 0.0;
  double x[1] = {1.0};
  double y[1] = {0.0};
  const std::vector<std::function<int()>> calls = {
      [] { return exp_incrMatrixElem_v3(nullptr, 0, 0, 1.0, 0); },
      [] { return exp_setMatrixElem_v3(nullptr, 0, 0, 1.0, 0); },
      [] { return exp_createCCS_v3(nullptr, 0); },
      [&] { return exp_multVector_v3(nullptr, x, y, 0); },
      [&] { return exp_getMaxDiag_v3(nullptr, &value); },
      [] { return exp_writeMatrix_v3(nullptr, "unused.ijv", 0); },
  };
  for (size_t k = 0; k < calls.size(); ++k) {
    EXPECT_EQ(calls[k](), -1) << "export " << k;
    EXPECT_EQ(lastError(nullptr), "symRealSPDMatrixLinSys not allocated") << "export " << k;
  }
}

}  // namespace
