// Assembly, conversion and the matrix services through the exports, against hand-worked matrices
// and dense products.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "dense.h"
#include "host.h"
#include "models/frame.h"
#include "sparse/sparse.h"

namespace {

// [4 -1 0; -1 5 -2; 0 -2 3], its (1, 2) entry given above the diagonal.
const orv::test::Lower kSmall{3, {{0, 0, 4}, {1, 0, -1}, {1, 1, 5}, {1, 2, -2}, {2, 2, 3}}};

using Matrix = orv::test::LoggedSystem;

// A call on A: an increment, a set or the conversion, and the result it must give.
struct Call {
  char kind;
  int row, column;
  double value;
  int result;
};
Call incr(int i, int j, double value) { return {'i', i, j, value, 0}; }
Call set(int i, int j, double value, int result = 0) { return {'s', i, j, value, result}; }
Call convert() { return {'c', 0, 0, 0.0, 0}; }

TEST_F(Matrix, AssemblyConversionAndEditsGiveTheHandWorkedDump) {
  const struct {
    const char* why;
    std::vector<Call> calls;
    std::string dump;
  } cases[] = {
      {"before conversion the records of a position add up, sets too; zeros and records above "
       "the diagonal keep their place",
       {incr(3, 1, 1.5), incr(3, 1, 2.5), set(3, 1, 7), incr(2, 0, 1), incr(2, 0, -1),
        incr(0, 2, 4), convert()},
       "6 3\n3 1 0.00000000000000000e+00\n4 2 1.10000000000000000e+01\n"
       "1 3 4.00000000000000000e+00\n"},
      {"after conversion a set replaces and an increment adds at a stored position, found in its "
       "sorted column, and finds no other",
       {incr(5, 0, 1), incr(3, 0, 1), incr(0, 0, 1), incr(2, 0, 1), incr(0, 2, 4), convert(),
        set(2, 0, 7), incr(3, 0, 1), set(0, 2, 5), set(1, 0, 9, -1), set(0, 1, 9, -1)},
       "6 5\n1 1 1.00000000000000000e+00\n3 1 7.00000000000000000e+00\n"
       "4 1 2.00000000000000000e+00\n6 1 1.00000000000000000e+00\n1 3 5.00000000000000000e+00\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    ASSERT_EQ(exp_initMatrix_v3(system.address(), 6, 0), 0);
    for (const Call& call : c.calls) {
      const auto edit = call.kind == 's' ? exp_setMatrixElem_v3 : exp_incrMatrixElem_v3;
      EXPECT_EQ(call.kind == 'c' ? exp_createCCS_v3(system.get(), 0)
                                 : edit(system.get(), call.row, call.column, call.value, 0),
                call.result);
      EXPECT_EQ(orv::test::lastError(system.get()), call.result == 0 ? "" : "Element not found");
    }
    orv::test::ScratchFile file("a.ijv");
    ASSERT_EQ(exp_writeMatrix_v3(system.get(), file.c_str(), 0), 0);
    EXPECT_EQ(orv::test::readFile(file.path()), c.dump);
  }
}

TEST_F(Matrix, LargestDiagonalAndNorm1FollowEachEdit) {
  // [4 -1 0; -1 5 -2; 0 -2 3], its (1, 2) entry given above the diagonal.
  assemble(3, {{0, 0, 4}, {1, 0, -1}, {1, 1, 5}, {1, 2, -2}, {2, 2, 3}});
  EXPECT_TRUE(
      std::regex_search(newLog(), std::regex("Number of nonzero elements: 5\nA: CCS matrix "
                                             "creation completed in \\d\\.\\d\\de[+-]\\d\\d sec "
                                             "\\(\\d\\.\\d\\de[+-]\\d\\d CPU\\)\n\n$")));
  ASSERT_EQ(setCheck(8, 1, 99.0, 2), 0);
  // Column sums 5, 8 and 5 (one triangle alone gives 5); then 41 with a(0, 0) = 40.
  for (const auto& [diagonal, largest, norm] :
       {std::tuple{4.0, 5.0, "Norm1(Mat) = 8\n"}, {40.0, 40.0, "Norm1(Mat) = 41\n"}}) {
    ASSERT_EQ(exp_setMatrixElem_v3(system.get(), 0, 0, diagonal, 0), 0);
    double value = 0.0;
    ASSERT_EQ(exp_getMaxDiag_v3(system.get(), &value), 0);
    EXPECT_EQ(value, largest);
    ASSERT_EQ(exp_factor_v3(system.get(), ""), 0);
    EXPECT_EQ(orv::test::countOf(newLog(), norm), 1);
  }
}

TEST_F(Matrix, ProductOfAAndBMatchesTheDenseProduct) {
  const orv::test::Pair pairs[] = {{kSmall, kSmall},
                                   orv::test::modelPair(orv::models::BuildingFrame()),
                                   orv::test::readPair("bcsstk05.mtx", "bcsstm05.mtx")};
  for (const orv::test::Pair& pair : pairs) {
    const int n = pair.k.n;
    std::vector<double> x(n), y(n, 9.0);  // y is overwritten, not added to
    for (int i = 0; i < n; ++i) x[i] = std::cos(0.37 * i) + 0.1;
    for (int which : {0, 1}) {
      const orv::test::Lower& a = which == 0 ? pair.k : pair.m;
      ASSERT_EQ(exp_initMatrix_v3(system.address(), n, which), 0);
      for (const auto& t : a.entries) {
        ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), t.row, t.col, t.value, which), 0);
      }
      ASSERT_EQ(exp_createCCS_v3(system.get(), which), 0);
      ASSERT_EQ(exp_multVector_v3(system.get(), x.data(), y.data(), which), 0);
      const std::vector<double> full = orv::test::dense(a);
      const std::vector<double> expected = orv::test::multiply(full, n, x.data());
      double scale = 0.0;
      for (double v : full) scale = std::max(scale, std::fabs(v));
      for (int i = 0; i < n; ++i) ASSERT_NEAR(y[i], expected[i], 1e-12 * n * scale) << which;
    }
  }
}

// A reused buffer, larger and full of other values, comes back as the full matrix alone.
TEST(DenseCopy, HoldsTheFullMatrixWhateverTheBufferHeld) {
  orv::ccsSymMatrix m('B');
  m.initialise(kSmall.n, 0);
  for (const auto& t : kSmall.entries) m.incrElement(t.row, t.col, t.value);
  m.createCCS();
  std::vector<double> buffer(16, 7.0);
  m.toDense(buffer);
  EXPECT_EQ(buffer, orv::test::dense(kSmall));
}

}  // namespace
