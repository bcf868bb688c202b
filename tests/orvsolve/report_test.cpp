// The default run of orvsolve, checked against a dense analysis of the same building frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <regex>

#include "building.h"
#include "run.h"
#include "test_support.h"

namespace orv::test {
namespace {

using models::kMass;
using models::kStiffness;
using models::kUx;
using models::kUy;
using models::kUz;

double dot(const std::vector<double>& a, const std::vector<double>& b) {
  return std::inner_product(a.begin(), a.end(), b.begin(), 0.0);
}

// The dense counterpart of the report: K and M assembled into full matrices, all eigenpairs.
struct DenseFrame {
  models::BuildingFrame frame{cli::referenceBuilding()};
  int n = frame.size();
  std::vector<double> k;
  std::vector<double> m;
  DenseEigen modes;

  DenseFrame() {
    models::TripletSink sink;
    frame.assemble(sink);
    k = denseSymmetric(n, sink.entries(kStiffness));
    m = denseSymmetric(n, sink.entries(kMass));
    modes = generalizedEigen(k, m, n, true);
  }
  std::vector<double> massTimes(const std::vector<double>& x) const {
    std::vector<double> y(x.size(), 0.0);
    const auto size = static_cast<std::size_t>(n);
    for (std::size_t c = 0; c < size; ++c) {
      for (std::size_t r = 0; r < size; ++r) y[r] += m[r + c * size] * x[c];
    }
    return y;
  }
  std::vector<double> mode(int i) const {
    const auto size = static_cast<std::size_t>(n);
    const auto first = modes.vectors.begin() + static_cast<std::ptrdiff_t>(i * size);
    return {first, first + static_cast<std::ptrdiff_t>(size)};
  }
};

const DenseFrame& denseFrame() {
  static const DenseFrame dense;
  return dense;
}

// The report of a default run, made once in a scratch folder as its working directory.
struct DefaultRun {
  ScratchFile folder{"orvsolve.log"};
  Outcome run = runOrvsolve({}, folder.folder());
};

const DefaultRun& defaultRun() {
  static const DefaultRun r;
  return r;
}

double number(const std::string& text, const std::string& pattern) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex(pattern))) {
    ADD_FAILURE() << "no match for " << pattern;
    return std::nan("");
  }
  return std::stod(m[1].str());
}

// Eurocode 8 type 1, ground type C, ag = 0.25 g, 5 % damping, between TB = 0.2 s and TD = 2 s.
double spectralAcceleration(double period) {
  EXPECT_GE(period, 0.2);
  EXPECT_LE(period, 2.0);
  return 2.5 * 0.25 * cli::kGravity * 1.15 * std::min(1.0, 0.6 / period);
}

TEST(OrvsolveReport, RunsQuietlyAndWritesTheLogInTheWorkingFolder) {
  const DefaultRun& r = defaultRun();
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  EXPECT_EQ(r.run.err, "") << "progress must stay off when the outputs are not terminals";
  const std::string log = readFile(r.folder.path());
  EXPECT_EQ(log.rfind("Version 3, 0, 0, 0 - RELEASE\n", 0), 0u);
  // Checks 2, 4, 8 and 16 each leave their own lines.
  EXPECT_NE(log.find("Maximum diaginal element at row"), std::string::npos);
  EXPECT_NE(log.find("Maximum diagonal residual at row"), std::string::npos);
  EXPECT_NE(log.find("Rel. Err. Norm-1 calculation started"), std::string::npos);
  EXPECT_EQ(countOf(log, "Number of right hand sides: 3\n"), 1);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(log, m, std::regex("Norm-1 condition number estimate: (\\S+)")));
  char expected[64];
  std::snprintf(expected, sizeof expected, "condition number estimate of K: %.3g",
                std::stod(m[1].str()));
  EXPECT_NE(r.run.out.find(expected), std::string::npos) << r.run.out;
  EXPECT_NE(r.run.out.find("720 equations"), std::string::npos);
}

TEST(OrvsolveReport, EigenvaluesPeriodsAndMassesAgreeWithDenseLapack) {
  const DefaultRun& r = defaultRun();
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  const DenseFrame& dense = denseFrame();
  const std::vector<std::vector<double>> rows = tableAfter(r.run.out, "mode  period [s]");
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(cli::kModeCount)) << r.run.out;

  const std::vector<double> rx = dense.frame.translation(kUx);
  const std::vector<double> ry = dense.frame.translation(kUy);
  const std::vector<double> mrx = dense.massTimes(rx);
  const std::vector<double> mry = dense.massTimes(ry);
  for (int i = 0; i < cli::kModeCount; ++i) {
    SCOPED_TRACE("mode " + std::to_string(i + 1));
    const std::vector<double>& row = rows[static_cast<std::size_t>(i)];
    ASSERT_EQ(row.size(), 8u);
    const double lambda = dense.modes.values[static_cast<std::size_t>(i)];
    EXPECT_EQ(row[0], i + 1);
    EXPECT_NEAR(row[2], lambda, 1e-9 * lambda);
    EXPECT_NEAR(row[1], 2.0 * std::numbers::pi / std::sqrt(lambda), 5.1e-5);
    // dsygvd's vectors have phi^T M phi = 1.
    const std::vector<double> phi = dense.mode(i);
    EXPECT_NEAR(row[4], 100.0 * std::pow(dot(phi, mrx), 2) / dot(rx, mrx), 0.0051);
    EXPECT_NEAR(row[6], 100.0 * std::pow(dot(phi, mry), 2) / dot(ry, mry), 0.0051);
  }
}

TEST(OrvsolveReport, BaseShearsAreTheCombinedEffectiveMassTimesSpectrum) {
  const DefaultRun& r = defaultRun();
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  const DenseFrame& dense = denseFrame();
  const std::vector<double> rx = dense.frame.translation(kUx);
  const std::vector<double> ry = dense.frame.translation(kUy);
  const std::vector<double> mr[2] = {dense.massTimes(rx), dense.massTimes(ry)};
  const std::string titles[2] = {"earthquake along X", "earthquake along Y"};
  for (int direction = 0; direction < 2; ++direction) {
    SCOPED_TRACE(titles[direction]);
    // The base shear of mode i is its effective mass times Se(Ti), positive whatever the sign of
    // the mode shape, so the absolute sum is the plain sum.
    double squares = 0.0, magnitudes = 0.0;
    for (int i = 0; i < cli::kModeCount; ++i) {
      const double period =
          2.0 * std::numbers::pi / std::sqrt(dense.modes.values[static_cast<std::size_t>(i)]);
      const double shear =
          std::pow(dot(dense.mode(i), mr[direction]), 2) * spectralAcceleration(period);
      squares += shear * shear;
      magnitudes += std::fabs(shear);
    }
    const std::string part = r.run.out.substr(r.run.out.find(titles[direction]));
    const std::vector<std::vector<double>> rows = tableAfter(part, "storey        SRSS");
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(cli::kStoreys)) << r.run.out;
    const std::vector<double>& base = rows.back();
    ASSERT_EQ(base[0], 1);
    EXPECT_NEAR(base[1], std::sqrt(squares) / 1e3, 0.11);
    EXPECT_NEAR(base[3], magnitudes / 1e3, 0.11);
    for (const std::vector<double>& row : rows) {
      // SRSS <= CQC (cross terms enter with their magnitude) <= absolute sum, for shear and drift.
      EXPECT_LE(row[1], row[2]);
      EXPECT_LE(row[2], row[3]);
      EXPECT_LE(row[4], row[5]);
      EXPECT_LE(row[5], row[6]);
    }
  }
}

TEST(OrvsolveReport, StaticRoofDisplacementsAgreeWithDenseSolution) {
  const DefaultRun& r = defaultRun();
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  const DenseFrame& dense = denseFrame();
  const std::vector<double> rz = dense.frame.translation(kUz);
  const double weight = dot(rz, dense.massTimes(rz)) * cli::kGravity;
  const std::vector<double> forces =
      models::BuildingFrame::triangularStoreyForces(cli::kStoreys, cli::kLateralShare * weight);
  std::vector<double> loads = dense.frame.lateralLoad(kUx, forces);
  const std::vector<double> loadY = dense.frame.lateralLoad(kUy, forces);
  loads.insert(loads.end(), loadY.begin(), loadY.end());
  const std::vector<double> u = solveDense(dense.k, dense.n, loads);
  const auto n = static_cast<std::size_t>(dense.n);
  const double roofX =
      dense.frame.storeyDisplacement(std::span(u.data(), n), cli::kStoreys, kUx) * 1e3;
  const double roofY =
      dense.frame.storeyDisplacement(std::span(u.data() + n, n), cli::kStoreys, kUy) * 1e3;
  EXPECT_NEAR(number(r.run.out, "lateral X[^\\n]*roof ([0-9.]+) mm"), roofX, 0.0051);
  EXPECT_NEAR(number(r.run.out, "lateral Y[^\\n]*roof ([0-9.]+) mm"), roofY, 0.0051);
  EXPECT_NEAR(number(r.run.out, "W = ([0-9]+) kN"), weight / 1e3, 0.51);
}

}  // namespace
}  // namespace orv::test
