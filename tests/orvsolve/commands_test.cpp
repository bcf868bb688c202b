// orvsolve solve, eigen, model, --help and --version on real and generated matrices.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

#include "building.h"
#include "run.h"
#include "test_support.h"

namespace orv::test {
namespace {

std::string matrix(const std::string& name) { return std::string(ORV_MATRICES_DIR) + "/" + name; }

double norm1(const std::vector<double>& x) {
  double s = 0.0;
  for (const double v : x) s += std::fabs(v);
  return s;
}

std::vector<double> column(const std::vector<double>& block, int n, int c) {
  const auto first = block.begin() + static_cast<std::ptrdiff_t>(c) * n;
  return {first, first + n};
}

// |K x - b|_1 / |b|_1
double relativeResidual(const models::SymmetricMatrix& k, const std::vector<double>& x,
                        const std::vector<double>& b) {
  std::vector<double> r = multiplySymmetric(k.n, k.lower, x);
  for (std::size_t i = 0; i < r.size(); ++i) r[i] -= b[i];
  return norm1(r) / norm1(b);
}

// Normwise backward error |K x - b|_1 / (|K|_1 |x|_1 + |b|_1): near the machine precision for a
// stable solve however ill-conditioned K is.
double backwardError(const models::SymmetricMatrix& k, const std::vector<double>& x,
                     const std::vector<double>& b) {
  std::vector<double> columnSums(static_cast<std::size_t>(k.n), 0.0);
  for (const models::Triplet& t : k.lower) {
    columnSums[t.col] += std::fabs(t.value);
    if (t.row != t.col) columnSums[t.row] += std::fabs(t.value);
  }
  const double normK = *std::max_element(columnSums.begin(), columnSums.end());
  std::vector<double> r = multiplySymmetric(k.n, k.lower, x);
  for (std::size_t i = 0; i < r.size(); ++i) r[i] -= b[i];
  return norm1(r) / (normK * norm1(x) + norm1(b));
}

// One stiffness-mass pair: eigenvalues against dsygvd, the written vectors against the pair.
void checkEigenpairs(const std::string& kName, const std::string& mName) {
  const models::SymmetricMatrix k = models::readSymmetric(matrix(kName));
  const models::SymmetricMatrix m = models::readSymmetric(matrix(mName));
  constexpr int kCount = 10;
  const ScratchFile vectors("vectors.mtx");
  const std::string log = vectors.folder() + "/eigen.log";
  const Outcome r =
      runOrvsolve({"eigen", matrix(kName), matrix(mName), "--count", std::to_string(kCount),
                   "--vectors", vectors.path(), "--log", log});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::vector<std::vector<double>> rows = tableAfter(r.out, "eigenvalue   omega");
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kCount)) << r.out;

  const std::vector<double> kd = denseSymmetric(k.n, k.lower);
  const std::vector<double> md = denseSymmetric(m.n, m.lower);
  const std::vector<double> expected = generalizedEigen(kd, md, k.n, false).values;
  const models::DenseArray x = models::readArray(vectors.path());
  ASSERT_EQ(x.rows, k.n);
  ASSERT_EQ(x.cols, kCount);
  for (int i = 0; i < kCount; ++i) {
    SCOPED_TRACE("eigenvalue " + std::to_string(i + 1));
    const double lambda = expected[static_cast<std::size_t>(i)];
    EXPECT_NEAR(rows[static_cast<std::size_t>(i)][1], lambda, 1e-9 * lambda);
    const std::vector<double> xi = column(x.values, k.n, i);
    const std::vector<double> kx = multiplySymmetric(k.n, k.lower, xi);
    std::vector<double> r2 = multiplySymmetric(m.n, m.lower, xi);
    double xkx = 0.0;
    for (std::size_t j = 0; j < r2.size(); ++j) {
      xkx += xi[j] * kx[j];
      r2[j] = kx[j] - lambda * r2[j];
    }
    EXPECT_NEAR(xkx, 1.0, 1e-9);
    EXPECT_LT(norm1(r2) / norm1(kx), 1e-8);
  }
}

TEST(OrvsolveEigen, RealPairsAgreeWithDenseLapack) {
  {
    SCOPED_TRACE("bcsstk05 with its diagonal mass");
    checkEigenpairs("bcsstk05.mtx", "bcsstm05.mtx");
  }
  {
    SCOPED_TRACE("lund_a with its consistent mass");
    checkEigenpairs("LUNDA.mtx", "lund_b.mtx");
  }
}

// M with 24 zero diagonal entries out of 48: the pair has 24 finite eigenvalues, those of K
// condensed onto the DOFs that carry mass.
TEST(OrvsolveEigen, SingularMassGivesTheFiniteEigenvaluesOnly) {
  const models::SymmetricMatrix k = models::readSymmetric(matrix("converted/bcsstk01.mtx"));
  const models::SymmetricMatrix m = models::readSymmetric(matrix("bcsstm01.mtx"));
  const ScratchFile log("eigen.log");
  const Outcome r = runOrvsolve({"eigen", matrix("converted/bcsstk01.mtx"), matrix("bcsstm01.mtx"),
                                 "--count", "30", "--log", log.path()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("30 smallest eigenvalues requested, 24 found"), std::string::npos) << r.out;
  const std::vector<std::vector<double>> rows = tableAfter(r.out, "eigenvalue   omega");
  ASSERT_EQ(rows.size(), 24u);

  const std::vector<double> kd = denseSymmetric(k.n, k.lower);
  const std::vector<double> md = denseSymmetric(m.n, m.lower);
  const auto n = static_cast<std::size_t>(k.n);
  std::vector<std::size_t> massive, massless;
  for (std::size_t i = 0; i < n; ++i) (md[i + i * n] != 0.0 ? massive : massless).push_back(i);
  const auto sub = [&](const std::vector<std::size_t>& rowsOf,
                       const std::vector<std::size_t>& cols) {
    std::vector<double> s;
    for (const std::size_t c : cols) {
      for (const std::size_t row : rowsOf) s.push_back(kd[row + c * n]);
    }
    return s;
  };
  const int a = static_cast<int>(massive.size());
  const int z = static_cast<int>(massless.size());
  const std::vector<double> kzzInvKzm =
      solveDense(sub(massless, massless), z, sub(massless, massive));
  const std::vector<double> kmz = sub(massive, massless);
  std::vector<double> condensed = sub(massive, massive);
  std::vector<double> mass(static_cast<std::size_t>(a) * a, 0.0);
  for (int j = 0; j < a; ++j) {
    for (int i = 0; i < a; ++i) {
      for (int t = 0; t < z; ++t) {
        condensed[i + j * a] -= kmz[i + t * a] * kzzInvKzm[t + j * z];
      }
    }
    mass[j + j * a] = md[massive[j] + massive[j] * n];
  }
  const std::vector<double> expected = generalizedEigen(condensed, mass, a, false).values;
  for (int i = 0; i < a; ++i) {
    EXPECT_NEAR(rows[i][1], expected[i], 1e-9 * expected[i]) << "eigenvalue " << i + 1;
  }
}

TEST(OrvsolveSolve, DefaultRightHandSideGivesOnesWithSmallResidual) {
  const ScratchFile out("x.mtx");
  const std::string log = out.folder() + "/solve.log";
  const Outcome r =
      runOrvsolve({"solve", matrix("bcsstk14.mtx"), "--out", out.path(), "--log", log});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("1806 x 1806, 32630 stored entries"), std::string::npos) << r.out;
  const models::SymmetricMatrix k = models::readSymmetric(matrix("bcsstk14.mtx"));
  const models::DenseArray x = models::readArray(out.path());
  ASSERT_EQ(x.rows, k.n);
  ASSERT_EQ(x.cols, 1);
  const std::vector<double> b = multiplySymmetric(k.n, k.lower, std::vector<double>(k.n, 1.0));
  EXPECT_LT(relativeResidual(k, x.values, b), 1e-13);
  for (const double v : x.values) ASSERT_NEAR(v, 1.0, 1e-4);
  EXPECT_NE(readFile(log).find("Ordering method used: metis_node"), std::string::npos);
}

TEST(OrvsolveSolve, BlockOfRandomRightHandSidesWithAllChecks) {
  constexpr unsigned kSeed = 20240611u;
  std::printf("random right-hand sides from seed %u\n", kSeed);
  const models::SymmetricMatrix k = models::readSymmetric(matrix("s3rmt3m3.mtx"));
  constexpr int kColumns = 5;
  std::mt19937 generator(kSeed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<double> b(static_cast<std::size_t>(k.n) * kColumns);
  for (double& v : b) v = uniform(generator);
  const ScratchFile rhs("b.mtx");
  models::writeArray(rhs.path(), k.n, kColumns, b);
  const std::string out = rhs.folder() + "/x.mtx";
  const std::string log = rhs.folder() + "/solve.log";
  const Outcome r = runOrvsolve({"solve", matrix("s3rmt3m3.mtx"), "--rhs", rhs.path(), "--ordering",
                                 "amdv1_1", "--checks", "all", "--out", out, "--log", log});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("checks            1, 2, 4, 8, 16"), std::string::npos) << r.out;
  const models::DenseArray x = models::readArray(out);
  ASSERT_EQ(x.cols, kColumns);
  for (int c = 0; c < kColumns; ++c) {
    EXPECT_LT(backwardError(k, column(x.values, k.n, c), column(b, k.n, c)), 1e-15)
        << "column " << c;
  }
  const std::string text = readFile(log);
  EXPECT_NE(text.find("Ordering method used: amdv1_1"), std::string::npos);
  EXPECT_EQ(countOf(text, "            ok\n"), kColumns);
}

TEST(OrvsolveSolve, CoordinateRightHandSidesAgreeWithDenseSolution) {
  const models::SymmetricMatrix k = models::readSymmetric(matrix("bcsstk05.mtx"));
  const ScratchFile rhs("loads.mtx");
  // Two point loads in the first column, one in the second, and a repeated entry that sums.
  std::FILE* f = std::fopen(rhs.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fprintf(f,
               "%%%%MatrixMarket matrix coordinate real general\n153 2 4\n"
               "10 1 1000.0\n77 1 -250.5\n150 2 3e3\n150 2 1e3\n");
  std::fclose(f);
  const std::string out = rhs.folder() + "/x.mtx";
  const Outcome r = runOrvsolve({"solve", matrix("bcsstk05.mtx"), "--rhs", rhs.path(), "--out", out,
                                 "--log", rhs.folder() + "/solve.log"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<double> b(2 * static_cast<std::size_t>(k.n), 0.0);
  b[9] = 1000.0;
  b[76] = -250.5;
  b[k.n + 149] = 4e3;
  const std::vector<double> expected = solveDense(denseSymmetric(k.n, k.lower), k.n, b);
  const models::DenseArray x = models::readArray(out);
  ASSERT_EQ(x.values.size(), expected.size());
  const double scale = *std::max_element(expected.begin(), expected.end(), [](double p, double q) {
    return std::fabs(p) < std::fabs(q);
  });
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_NEAR(x.values[i], expected[i], 1e-10 * std::fabs(scale)) << "entry " << i;
  }
}

// The files round-trip: what orvsolve writes reads back as the generator's records, summed,
// to the last bit.
TEST(OrvsolveModel, WrittenFilesHoldTheGeneratedMatricesExactly) {
  models::FrameParameters fp = cli::referenceBuilding();
  fp.storeys = 3;
  fp.baysX = 2;
  fp.baysY = 1;
  models::BrickParameters bp;
  bp.nx = 4;
  bp.ny = 1;
  bp.nz = 2;
  const models::BuildingFrame frame(fp);
  const models::BrickSolid solid(bp);
  const struct {
    const char* kind;
    const char* size;
    const models::Model* model;
  } cases[] = {{"frame", "3x2x1", &frame}, {"solid", "4x1x2", &solid}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    const ScratchFile k("k.mtx");
    const std::string m = k.folder() + "/m.mtx";
    const Outcome r = runOrvsolve({"model", c.kind, "--size", c.size, "--write", k.path(), m});
    ASSERT_EQ(r.status, 0) << r.err;
    models::TripletSink sink;
    c.model->assemble(sink);
    const models::SymmetricMatrix kRead = models::readSymmetric(k.path());
    const models::SymmetricMatrix mRead = models::readSymmetric(m);
    EXPECT_EQ(kRead.n, c.model->size());
    EXPECT_EQ(mRead.n, c.model->size());
    EXPECT_EQ(kRead.lower, models::sumDuplicates(sink.entries(models::kStiffness)));
    EXPECT_EQ(mRead.lower, models::sumDuplicates(sink.entries(models::kMass)));

    const Outcome eigen =
        runOrvsolve({"eigen", k.path(), m, "--count", "3", "--log", k.folder() + "/eigen.log"});
    ASSERT_EQ(eigen.status, 0) << eigen.err;
    const std::vector<double> expected =
        generalizedEigen(denseSymmetric(kRead.n, kRead.lower), denseSymmetric(mRead.n, mRead.lower),
                         kRead.n, false)
            .values;
    const std::vector<std::vector<double>> rows = tableAfter(eigen.out, "eigenvalue   omega");
    ASSERT_EQ(rows.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(rows[i][1], expected[i], 1e-9 * expected[i]);
  }
}

TEST(OrvsolveHelp, EveryCommandHasHelpAndTheVersionNamesTheLibrary) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"solve", "--help"}, {"eigen", "--help"}, {"model", "--help"}, {"-h"}}) {
    const Outcome r = runOrvsolve(args);
    EXPECT_EQ(r.status, 0) << args.front();
    EXPECT_EQ(r.out.rfind("usage: orvsolve", 0), 0u) << r.out;
    EXPECT_EQ(r.err, "");
  }
  EXPECT_NE(runOrvsolve({"solve", "--help"}).out.find("--ordering NAME"), std::string::npos);
  EXPECT_NE(runOrvsolve({"eigen", "--help"}).out.find("--vectors"), std::string::npos);
  const Outcome v = runOrvsolve({"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out, "orvsolve 3.0.0.0\nlibrary: Version 3, 0, 0, 0 - RELEASE\n");
}

}  // namespace
}  // namespace orv::test
