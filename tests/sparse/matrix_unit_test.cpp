// The matrix services the solvers use inside the library.
#include <gtest/gtest.h>

#include <cmath>

#include "factor/factor.h"
#include "sparse/sparse.h"
#include "test_support.h"

namespace {

using orv::ccsSymMatrix;
using orv::test::countOf;
using orv::test::readFile;
using orv::test::ScratchFile;

// Builds a converted matrix from lower-triangle records.
void assemble(ccsSymMatrix& m, int n, std::initializer_list<orv::Triplet> records) {
  m.initialise(n, 8);
  for (const orv::Triplet& t : records) m.incrElement(t.row, t.column, t.value);
  m.createCCS();
}

TEST(CountNonzeroDiagonal, CountsStoredNonZeroDiagonalEntriesOnly) {
  ccsSymMatrix m('B');
  assemble(m, 3, {{0, 0, 2.0}, {1, 1, 0.0}, {2, 0, 1.0}});
  EXPECT_EQ(m.countNonzeroDiagonal(), 1);
  m.setElement(1, 1, std::nan(""));
  EXPECT_EQ(m.countNonzeroDiagonal(), 2);
  ccsSymMatrix empty('B');
  EXPECT_EQ(empty.countNonzeroDiagonal(), 0);
}

TEST(FindEntry, FindsEveryStoredPositionAndNothingElse) {
  ccsSymMatrix m('A');
  // Column 0 holds rows 0, 2, 3, 5, 7, 8: ends, middle and the gaps between.
  assemble(m, 9, {{0, 0, 1}, {2, 0, 1}, {3, 0, 1}, {5, 0, 1}, {7, 0, 1}, {8, 0, 1}, {4, 4, 1}});
  const int stored[] = {0, 2, 3, 5, 7, 8};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(m.findEntry(stored[k], 0), k);
  for (int row : {1, 4, 6}) EXPECT_EQ(m.findEntry(row, 0), -1) << row;
  EXPECT_EQ(m.findEntry(4, 4), 6);
  EXPECT_EQ(m.findEntry(1, 1), -1);  // empty column
  EXPECT_EQ(m.findEntry(0, 9), -1);  // no such column
}

TEST(Norm1, LargestColumnSumOfTheFullMatrixCachedUntilAnEdit) {
  ScratchFile log("norm.log");
  ASSERT_EQ(orv::setLogDestination(log.path(), ""), 0);
  ccsSymMatrix m('B');
  // Column 1 has no diagonal entry; its off-diagonal entry counts in row and column sums.
  assemble(m, 3, {{0, 0, 4.0}, {1, 0, -1.0}, {2, 1, -7.0}, {2, 2, 3.0}});
  EXPECT_EQ(m.computeNorm1(), 10.0);
  EXPECT_EQ(m.computeNorm1(), 10.0);
  m.setElement(0, 0, -40.0);
  EXPECT_EQ(m.computeNorm1(), 41.0);
  orv::setLogDestination("", "");
  const std::string text = readFile(log.path());
  EXPECT_EQ(countOf(text, "Norm1(Mat) calculation started\n"), 2);
  EXPECT_EQ(countOf(text, "Norm1(Mat) = 10\nNorm1(Mat) calculation completed\n"), 1);
  EXPECT_EQ(countOf(text, "Norm1(Mat) = 41\nNorm1(Mat) calculation completed\n"), 1);
}

TEST(ToDense, FillsBothTrianglesAndKeepsWhatTheArrayHeld) {
  ccsSymMatrix m('B');
  assemble(m, 2, {{0, 0, 4.0}, {1, 0, -1.0}});
  std::vector<double> dense = {9.0, 9.0, 9.0, 9.0, 9.0};
  m.toDense(dense);
  EXPECT_EQ(dense, (std::vector<double>{4.0, -1.0, -1.0, 9.0}));
  std::vector<double> fresh;
  m.toDense(fresh);
  EXPECT_EQ(fresh, (std::vector<double>{4.0, -1.0, -1.0, 0.0}));
}

TEST(MultiplyColumns, EachColumnIsAProduct) {
  orv::ccsSymSPDMatrix a;
  assemble(a, 2, {{0, 0, 4.0}, {1, 0, -1.0}, {1, 1, 3.0}});
  const double X[4] = {1.0, 2.0, 0.0, 1.0};
  double Y[4] = {};
  a.multiplyColumns(X, Y, 2);
  EXPECT_EQ(Y[0], 2.0);
  EXPECT_EQ(Y[1], 5.0);
  EXPECT_EQ(Y[2], -1.0);
  EXPECT_EQ(Y[3], 3.0);
  a.multiplyColumns(X, Y, 0);
}

TEST(AdoptCCS, TakesTheRecordAndItsDimension) {
  auto record = std::make_unique<orv::CcsRecord>(2, 1);
  record->colptr = {0, 1, 1};
  record->rowind = {1};
  record->values = {5.0};
  ccsSymMatrix m('B');
  m.adoptCCS(std::move(record));
  EXPECT_EQ(m.n(), 2);
  EXPECT_TRUE(m.isCCS());
  const double x[2] = {1.0, 1.0};
  double y[2];
  m.multiply(x, y);
  EXPECT_EQ(y[0], 5.0);
  EXPECT_EQ(y[1], 5.0);
}

}  // namespace
