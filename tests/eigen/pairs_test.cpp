// Real stiffness and mass pairs and generated structural models: both routes against dense
// LAPACK, and the A- and B-normalisation of the vectors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "library_pair.h"
#include "models/models.h"

namespace orv::test {
namespace {

struct Case {
  std::string name;
  std::function<Pair()> make;
  int iterativeCount;  // at most 0.15 n
  int denseCount;      // above 0.15 n
};

std::ostream& operator<<(std::ostream& out, const Case& c) { return out << c.name; }

Pair frame() {
  models::FrameParameters p;
  p.storeys = 3;
  p.baysX = 3;
  p.baysY = 2;
  p.floorMass = 500.0;
  return modelPair(models::BuildingFrame(p));
}

Pair brick() {
  models::BrickParameters p;
  p.nx = 8;
  p.ny = 2;
  p.nz = 3;
  p.ly = 1.0;
  p.lz = 1.5;
  return modelPair(models::BrickSolid(p));
}

const Case kCases[] = {
    {"bcsstk02", [] { return readPair("converted/bcsstk02.mtx", "bcsstm02.mtx"); }, 9, 20},
    {"bcsstk05", [] { return readPair("bcsstk05.mtx", "bcsstm05.mtx"); }, 20, 40},
    {"lund", [] { return readPair("LUNDA.mtx", "lund_b.mtx"); }, 20, 30},
    {"bcsstk01_singular_mass", [] { return readPair("converted/bcsstk01.mtx", "bcsstm01.mtx"); }, 5,
     30},
    {"bcsstk11", [] { return readPair("bcsstk11.mtx", "bcsstm11.mtx"); }, 20, 250},
    {"frame", frame, 12, 40},
    {"brick", brick, 15, 50},
};

class Pairs : public ::testing::TestWithParam<Case> {
 protected:
  static void SetUpTestSuite() { log = new Log; }
  static void TearDownTestSuite() {
    delete log;
    log = nullptr;
  }

  // Runs the driver for count eigenpairs; the route taken is told by the log.
  void solveAndCheck(LibraryPair& lib, const Pair& pair, int count, const char* routeLine) {
    const int n = pair.k.n;
    std::vector<double> values(static_cast<size_t>(count), 0.0);
    std::vector<double> vectors(static_cast<size_t>(n) * count, 0.0);
    log->fresh();
    const int found = eigenSystem(lib.A, lib.B, count, values.data(), vectors.data());
    EXPECT_NE(log->fresh().find(routeLine), std::string::npos);
    const int finite = std::min(count, lib.B.countNonzeroDiagonal());
    ASSERT_EQ(found, finite);
    const std::vector<double> lambda = smallestEigenvalues(pair, found);
    double worst = 0.0;
    for (int k = 0; k < found; ++k) {
      worst = std::max(worst, std::fabs(values[k] - lambda[k]) / lambda[k]);
    }
    EXPECT_LT(worst, 1e-9) << "largest relative difference from dsygvd";
    const Normalisation norm = normalisation(pair, vectors.data(), values.data(), found);
    EXPECT_LT(norm.kOrthonormality, 1e-9);
    EXPECT_LT(norm.mScaling, 1e-9);
  }

  static Log* log;
};

Log* Pairs::log = nullptr;

TEST_P(Pairs, BothRoutesAgreeWithDenseLapack) {
  const Case& c = GetParam();
  const Pair pair = c.make();
  LibraryPair lib(pair);
  ASSERT_LE(c.iterativeCount, 0.15 * pair.k.n);
  ASSERT_GT(c.denseCount, 0.15 * pair.k.n);
  {
    SCOPED_TRACE("iterative");
    solveAndCheck(lib, pair, c.iterativeCount, "Attempting search of selected eigenvalues only\n");
  }
  {
    SCOPED_TRACE("dense after a forced iterative failure");
    ForceLanczosFailure fail;
    solveAndCheck(lib, pair, c.iterativeCount, "Search of selected eigenvalues failed\n");
  }
  {
    SCOPED_TRACE("dense by share of the spectrum");
    solveAndCheck(lib, pair, c.denseCount, "Attempting dense search method\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Eigen, Pairs, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return test.param.name; });

// The reference list holds every eigenvalue of (bcsstk11, bcsstm11) from a dense solver of a third
// party. A dense solver that reduces the pair through a factor of M errs by a few ulps of the
// largest eigenvalue, which is 4.5e8 times the smallest here, so that bounds the agreement.
TEST(ReferenceList, Bcsstk11SmallestEigenvaluesMatchThePublishedList) {
  const Pair pair = readPair("bcsstk11.mtx", "bcsstm11.mtx");
  std::vector<double> reference = readColumn("bcsst11eig.mtx");
  ASSERT_EQ(reference.size(), 1473u);
  std::sort(reference.begin(), reference.end());
  LibraryPair lib(pair);
  const int count = 20;
  std::vector<double> values(count);
  ASSERT_EQ(eigenSystem(lib.A, lib.B, count, values.data(), nullptr), count);
  const double bound = 10.0 * std::numeric_limits<double>::epsilon() * reference.back();
  for (int k = 0; k < count; ++k) EXPECT_NEAR(values[k], reference[k], bound) << "k = " << k;
}

}  // namespace
}  // namespace orv::test
