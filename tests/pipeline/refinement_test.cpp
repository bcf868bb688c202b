// Iterative refinement on ill-conditioned real stiffness matrices: with a threshold no column can
// meet, every column goes through every refinement pass, and no pass may make a column's relative
// residual worse beyond rounding.
#include <cmath>
#include <cstdio>
#include <random>
#include <sstream>

#include "models/matrix_market.h"
#include "pipeline_support.h"

namespace {

using orv::test::Array;
using orv::test::lastError;

struct Row {
  int column;
  double residual;
};

// The table rows of the post-solve check, in log order.
std::vector<Row> tableRows(const std::string& text) {
  std::vector<Row> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    int column = 0;
    double normR = 0.0;
    double normB = 0.0;
    double e = 0.0;
    double m = 0.0;
    char verdict[8] = {};
    if (std::sscanf(line.c_str(), " %d %lf %lf %lf %lf %7s", &column, &normR, &normB, &e, &m,
                    verdict) == 6) {
      rows.push_back(Row{column, e});
    }
  }
  return rows;
}

class Refinement : public orv::test::LoggedSystem,
                   public ::testing::WithParamInterface<const char*> {};

TEST_P(Refinement, NoPassRaisesAColumnsResidualBeyondRounding) {
  const auto matrix = orv::models::readSymmetric(std::string(ORV_MATRICES_DIR) + "/" + GetParam());
  const int n = matrix.n;
  ASSERT_EQ(exp_initMatrix_v3(system.address(), n, 0), 0);
  for (const auto& t : matrix.lower) {
    ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), t.row, t.col, t.value, 0), 0);
  }
  ASSERT_EQ(exp_createCCS_v3(system.get(), 0), 0);
  ASSERT_EQ(setCheck(8, 0, 0.0), 0);        // these matrices are meant to be ill conditioned
  ASSERT_EQ(setCheck(16, 1, -30.0, 2), 0);  // unreachable: every pass runs on every column

  // Columns: A times ones, A times a random vector, a random vector, a unit load.
  const int nrhs = 4;
  Array x(n, nrhs);
  Array b(n, nrhs);
  const unsigned seed = 7;
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  std::vector<double> ones(n, 1.0);
  std::vector<double> r(n);
  for (double& v : r) v = value(random);
  ASSERT_EQ(exp_multVector_v3(system.get(), ones.data(), b.data().data(), 0), 0);
  ASSERT_EQ(exp_multVector_v3(system.get(), r.data(), b.data().data() + n, 0), 0);
  for (int i = 0; i < n; ++i) b[2 * static_cast<size_t>(n) + i] = value(random);
  b[3 * static_cast<size_t>(n) + n / 2] = 1.0;

  newLog();
  EXPECT_EQ(exp_solve_v3(system.get(), x.address(), b.address()), -1);
  EXPECT_EQ(lastError(system.get()), "Post-factor checks failed. System is ill conditioned");
  const std::vector<Row> rows = tableRows(newLog());
  ASSERT_EQ(rows.size(), 16u) << "a first pass and three refinement passes of four columns";

  std::vector<double> previous(nrhs, INFINITY);
  for (size_t k = 0; k < rows.size(); ++k) {
    const Row& row = rows[k];
    ASSERT_EQ(row.column, static_cast<int>(k % nrhs));
    std::printf("%s column %d pass %zu: relative residual %.3e\n", GetParam(), row.column, k / nrhs,
                row.residual);
    // Rounding: the residual of a computed solution cannot be expected below a few units of
    // the double precision.
    EXPECT_LE(row.residual, std::max(previous[row.column], 1e-15) * 1.5)
        << "column " << row.column << " pass " << k / nrhs;
    previous[row.column] = row.residual;
  }
  // The solution is kept: the first column solves A x = A 1.
  double worst = 0.0;
  for (int i = 0; i < n; ++i) worst = std::max(worst, std::fabs(x[i] - 1.0));
  std::printf("%s: largest error of the A x = A 1 solution %.3e\n", GetParam(), worst);
}

INSTANTIATE_TEST_SUITE_P(IllConditionedStiffness, Refinement,
                         ::testing::Values("bcsstk18.mtx", "bcsstk25.mtx", "s3rmt3m3.mtx"),
                         [](const auto& parameter) {
                           std::string name = parameter.param;
                           return name.substr(0, name.find('.'));
                         });

}  // namespace
