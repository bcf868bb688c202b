// The eigensystem driver against independent facts: dense LAPACK on real and generated pairs by
// each route and fallback chain, the closed form of the second-difference matrix with the exact
// log of each route, and hand-worked back-transformations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ostream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "dense.h"
#include "eigen/eigen.h"
#include "log_capture.h"
#include "models/models.h"

namespace orv::test {
namespace {

// A pair in the library's form, A factored, and the arrays of its latest solve (filled with -7
// beforehand).
struct Solved {
  explicit Solved(const Pair& p) : pair(p) {
    const auto assemble = [](auto& m, const Lower& a) {
      m.initialise(a.n, a.entries.size());
      for (const models::Triplet& e : a.entries) m.incrElement(e.row, e.col, e.value);
      m.createCCS();
    };
    assemble(A, p.k);
    assemble(B, p.m);
    A.factor("");
  }
  int solve(int count, const EigenRoutes& routes = defaultRoutes()) {
    values.assign(static_cast<size_t>(std::max(count, 1)), -7.0);
    vectors.assign(values.size() * static_cast<size_t>(pair.k.n), -7.0);
    return eigenSystem(A, B, count, values.data(), vectors.data(), routes);
  }

  Pair pair;
  ccsSymSPDMatrix A;
  ccsSymMatrix B{'B'};
  std::vector<double> values, vectors;
};

const std::string kLanczos = "Attempting search of selected eigenvalues only\n";
const std::string kDense =
    "Attempting dense search method\nCreating dense matrix B\nDense matrix B created\n"
    "Creating dense matrix Z\nDense matrix Z created\n";
const std::string kFailed = kLanczos + "Search of selected eigenvalues failed\n";

int32_t failingRoute(const llFactor&, const ccsSymMatrix&, int32_t, double*, double*, int64_t*) {
  return 0;
}
bool alwaysPays(const llFactor&, int32_t, int32_t) { return true; }

// The driver's route chain, each route taken or made to fail.
const struct RouteCase {
  const char* why;
  EigenRoutes routes;
  bool dense;       // asked for the dense count
  std::string log;  // "block" stands for the block route's outcome
} kRoutes[] = {
    {"block route", {.blockPays = alwaysPays}, false, "block"},
    {"ARPACK route", {.block = nullptr}, false, kLanczos},
    {"ARPACK after a block failure",
     {.block = failingRoute, .blockPays = alwaysPays},
     false,
     kFailed + kLanczos},
    {"dense after both failed",
     {failingRoute, failingRoute, alwaysPays},
     false,
     kFailed + kFailed + kDense},
    {"dense by share of the spectrum", {}, true, kDense},
};

// A real pair by its files, a generated model, or (k empty) the second-difference matrix
// tridiag(-1, 2, -1) of order `finite` with M = I, whose eigenvalues are 2 - 2 cos(k π / (n + 1)).
// finite: the eigenvalues that are finite (non-zero diagonal entries of M, 0: all); a count for
// Lanczos (at most 0.15 n) and one for the dense route; whether n leaves the block search room
// for a basis of 2 count + 3 blocks of 4.
struct PairCase {
  std::string name, k, m;
  int finite, lanczosCount, denseCount;
  bool blockRoom = true;
};

// The direct sum of `copies` copies of each pair: every eigenvalue of a part repeats that often.
Pair directSum(const std::vector<std::pair<Pair, int>>& parts) {
  Pair sum;
  for (const auto& part : parts) {
    for (int copy = 0; copy < part.second; ++copy) {
      for (auto [from, to] : {std::pair{&part.first.k, &sum.k}, {&part.first.m, &sum.m}}) {
        for (models::Triplet e : from->entries) {
          e.row += sum.k.n;
          e.col += sum.k.n;
          to->entries.push_back(e);
        }
      }
      sum.k.n = sum.m.n = sum.k.n + part.first.k.n;
    }
  }
  return sum;
}

Pair makePair(const PairCase& c) {
  if (c.k.empty()) return Pair{secondDifference(c.finite), diagonal(std::vector(c.finite, 1.0))};
  if (c.k == "repeated") {
    const Pair brick = modelPair(models::BrickSolid({.nx = 4, .nz = 2}));
    const Pair frame = modelPair(models::BuildingFrame({.storeys = 2, .baysX = 1, .baysY = 1}));
    return directSum({{brick, 3}, {frame, 4}});
  }
  if (c.k == "frame")
    return modelPair(models::BuildingFrame({.storeys = 3, .baysY = 2, .floorMass = 500}));
  if (c.k == "brick") return modelPair(models::BrickSolid({.nx = 8, .nz = 3, .lz = 1.5}));
  return readPair(c.k, c.m);
}

// Lanczos is taken while 0.15 n >= the count: never at n = 6, for one at n = 7, for 3 at n = 20.
// B = A makes every eigenvalue 1: asked for 10 of them after a Lanczos failure, the dense search's
// index cut fell between equal eigenvalues and it returned fewer.
const PairCase kPairs[] = {
    {"second_difference_6_negative_count", "", "", 6, -5, 1, false},
    {"second_difference_7", "", "", 7, 1, 2, false},
    {"second_difference_20", "", "", 20, 3, 4},
    {"bcsstk02", "converted/bcsstk02.mtx", "bcsstm02.mtx", 0, 9, 20},
    {"bcsstk05", "bcsstk05.mtx", "bcsstm05.mtx", 0, 20, 40},
    {"lund", "LUNDA.mtx", "lund_b.mtx", 0, 20, 30},
    {"bcsstk01_singular_mass", "converted/bcsstk01.mtx", "bcsstm01.mtx", 24, 5, 30},
    {"bcsstk04_singular_mass", "bcsstk04.mtx", "converted/bcsstm04.mtx", 66, 15, 40},
    {"bcsstk08_clustered", "bcsstk08.mtx", "bcsstm08.mtx", 0, 60, 200},
    {"bcsstk11", "bcsstk11.mtx", "bcsstm11.mtx", 0, 20, 250},
    {"frame", "frame", "", 0, 12, 40},
    {"brick", "brick", "", 0, 15, 50},
    {"bricks_3_and_frames_4_times_repeated", "repeated", "", 0, 40, 100},
    {"BEqualToAEigenvaluesTiedAcrossTheDenseCutWereLost", "bcsstk05.mtx", "bcsstk05.mtx", 0, 10,
     40},
};

void PrintTo(const PairCase& c, std::ostream* out) { *out << c.name; }

class Pairs : public ::testing::TestWithParam<PairCase> {};

// Each route's exact log (times aside), eigenvalues and vectors.
TEST_P(Pairs, AgreeWithDenseLapackByEveryRoute) {
  const PairCase& c = GetParam();
  Solved s(makePair(c));
  LogCapture log;
  for (const RouteCase& r : kRoutes) {
    SCOPED_TRACE(r.why);
    const int count = r.dense ? c.denseCount : c.lanczosCount;
    const int found = std::max(0, c.finite > 0 ? std::min(count, c.finite) : count);
    ASSERT_EQ(s.solve(count, r.routes), found);
    const std::string nev = std::to_string(found);  // every converged eigenvalue is valid here
    const std::string route = r.log != "block" ? r.log
                              : c.blockRoom    ? kLanczos
                                               : kFailed + kLanczos;
    const std::string back = route + "Back transforming " + nev +
                             " eigenvalues\nBack-transformation completed: " + nev +
                             " eigenvalues valid\n";
    EXPECT_EQ(std::regex_replace(log.fresh(), std::regex("in .* CPU\\)"), "in T"),
              "A: Eigensystem calculation started\nSearching " + nev +
                  " smallest eigenvalues and related eigenvectors\n" + (found > 0 ? back : "") +
                  "A: Eigensystem calculation completed in T\n\n");
    std::vector<double> lambda = smallestEigenvalues(s.pair, found);
    for (int k = 0; k < found && c.k.empty(); ++k) {
      lambda[k] = secondDifferenceEigenvalue(k + 1, c.finite);
    }
    for (int k = 0; k < found; ++k) EXPECT_NEAR(s.values[k], lambda[k], 1e-9 * lambda[k]) << k;
    const Normalisation norm = normalisation(s.pair, s.vectors.data(), lambda.data(), found);
    EXPECT_LT(norm.kOrthonormality, 1e-9);
    EXPECT_LT(norm.mScaling, 1e-9);
  }
}

INSTANTIATE_TEST_SUITE_P(Eigen, Pairs, ::testing::ValuesIn(kPairs),
                         [](const auto& test) { return test.param.name; });

// ARPACK keeps the seed of its starting vectors from one run to the next: a second run on the same
// pair used to start elsewhere and end with other rounding errors and signs of the eigenvectors.
TEST(Lanczos, ResultDependedOnTheRunsBeforeIt) {
  Solved s(readPair("bcsstk05.mtx", "bcsstm05.mtx"));
  ASSERT_EQ(s.solve(5), 5);
  const std::vector<double> first[] = {s.values, s.vectors};
  ASSERT_EQ(s.solve(5), 5);
  EXPECT_EQ(s.values, first[0]);
  EXPECT_EQ(s.vectors, first[1]);
}

// ORV_EIGEN_ARPACK leaves only the ARPACK route; the block route is chosen for many pairs with a
// factor beyond cache only.
TEST(Routes, ArpackSwitchAndChoice) {
  const struct {
    const char* why;
    const char* value;  // null: unset
    bool block;
  } rows[] = {
      {"unset", nullptr, true}, {"empty", "", true}, {"zero", "0", true}, {"set", "1", false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    if (row.value != nullptr) {
      setenv("ORV_EIGEN_ARPACK", row.value, 1);
    } else {
      unsetenv("ORV_EIGEN_ARPACK");
    }
    EXPECT_EQ(static_cast<bool>(defaultRoutes().block), row.block);
    EXPECT_TRUE(defaultRoutes().arpack);
  }
  unsetenv("ORV_EIGEN_ARPACK");
  Solved s(readPair("bcsstk05.mtx", "bcsstm05.mtx"));
  EXPECT_FALSE(chooseBlockRoute(s.A.L(), s.A.n(), 20));
  // The block route is left to ARPACK's smaller basis when its own does not fit.
  EXPECT_TRUE(memoryFits(1));
  EXPECT_FALSE(memoryFits(uint64_t{1} << 62));
}

// Hand-worked: pairs sorted by μ descending, λ = 1/μ kept while 0 < λ < 1e12, at most nev and
// nconv of them; the first invalid one ends the list. Positions from found on stay untouched.
TEST(BackTransform, KeepsTheLeadingRunOfValidEigenvalues) {
  const struct {
    const char* why;
    int nev;
    std::vector<double> mu, lambda;
  } rows[] = {
      {"sorted and inverted", 3, {0.5, 2.0, 0.25}, {0.5, 2.0, 4.0}},
      {"a negative λ ends the list", 3, {1.0, -1.0, 2.0}, {0.5, 1.0}},
      {"μ = 0 gives +∞", 2, {0.0, 4.0}, {0.25}},
      {"λ = 1e12 is too large", 2, {1e-12, 1.0}, {1.0}},
      {"λ just below 1e12 is valid", 2, {2.0, 1.0 / 999999999999.0}, {0.5, 999999999999.0}},
      {"NaN sorts last and ends the list", 3, {std::nan(""), 1.0, 2.0}, {0.5, 1.0}},
      {"at most nev", 2, {1.0, 2.0, 3.0, 4.0}, {0.25, 1.0 / 3.0}},
      {"at most nconv", 5, {1.0, 2.0}, {0.5, 1.0}},
  };
  Solved s(Pair{diagonal({1.0, 4.0, 9.0}), diagonal({1.0, 1.0, 1.0})});
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    std::vector<double> values(row.mu.size() + 1, -7.0);
    ASSERT_EQ(backTransform(s.A.L(), s.A.invPerm(), static_cast<int>(row.mu.size()), row.nev,
                            row.mu.data(), values.data(), nullptr, nullptr),
              static_cast<int>(row.lambda.size()));
    for (size_t k = 0; k < row.lambda.size(); ++k) EXPECT_DOUBLE_EQ(values[k], row.lambda[k]);
    EXPECT_EQ(values[row.lambda.size()], -7.0);
  }
}

}  // namespace
}  // namespace orv::test
