// The eigen exports as a host calls them: exp_eigenSystem_v3's descriptors and errors, the
// cantilever of the models library against Euler-Bernoulli theory, and exp_LAPACK_DSPGVD_v3 on
// closed forms and invalid arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "dense.h"
#include "host.h"
#include "models/export_sink.h"
#include "models/models.h"

namespace orv::test {
namespace {

// A = tridiag(-1, 2, -1) of order 4, B diagonal with 1 at unknowns 1 and 3 only: 2 finite
// eigenvalues, whatever the count asked for.
class EigenExport : public LoggedSystem {
 protected:
  void SetUp() override {
    LoggedSystem::SetUp();
    assemble(4, {{0, 0, 2}, {1, 1, 2}, {2, 2, 2}, {3, 3, 2}, {1, 0, -1}, {2, 1, -1}, {3, 2, -1}});
    assemble(4, {{1, 1, 1.0}, {3, 3, 1.0}}, 1);
  }

  const Pair pair{secondDifference(4), Lower{4, {{1, 1, 1.0}, {3, 3, 1.0}}}};
};

// The shapes are checked before any work; found stays as it was.
TEST_F(EigenExport, DescriptorErrors) {
  const struct {
    const char *why, *text;
    int count, eigRows, eigColumns, eivRows, eivColumns;  // rows 0: no descriptor
    bool noData;                                          // the descriptors given have no storage
  } rows[] = {
      {"eig longer than count", "Dimensions of eig are incorrect", 5, 6, 0, 0, 0, false},
      {"eig of two dimensions", "Dimensions of eig are incorrect", 5, 5, 1, 0, 0, false},
      {"eiv of one dimension", "Dimensions of eiv are incorrect", 5, 0, 0, 5, 0, false},
      {"eiv with a column too many", "Dimensions of eiv are incorrect", 5, 5, 0, 4, 6, false},
      {"eiv with a row too few", "Dimensions of eiv are incorrect", 5, 5, 0, 3, 5, false},
      {"eiv columns capped as the search", "Dimensions of eiv are incorrect", 5, 5, 0, 4, 2, false},
      {"eig without storage", "eig data not allocated", 5, 5, 0, 0, 0, true},
      {"eiv without storage", "eiv data not allocated", 5, 0, 0, 4, 5, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    Array eig(row.eigRows, row.eigColumns);
    Array eiv(row.eivRows, row.eivColumns);
    if (row.noData) eig.descriptor().pvData = eiv.descriptor().pvData = nullptr;
    int32_t found = 12345;
    EXPECT_EQ(exp_eigenSystem_v3(system.get(), row.count, row.eigRows ? eig.address() : nullptr,
                                 row.eivRows ? eiv.address() : nullptr, &found),
              -1);
    EXPECT_EQ(lastError(system.get()), row.text);
    EXPECT_EQ(found, 12345);
  }
  EXPECT_EQ(newLog().find("Eigensystem calculation"), std::string::npos);
}

// A null descriptor stands for an array not wanted; eiv has count columns, filled up to found.
TEST_F(EigenExport, WritesTheArraysGivenUpToTheMassCap) {
  SAFEARRAY* none = nullptr;
  Array eig(5, 0, -7.0);
  Array eiv(4, 5, -7.0);
  int32_t found = -1;
  ASSERT_EQ(exp_eigenSystem_v3(system.get(), 5, &none, eiv.address(), &found), 0);
  ASSERT_EQ(found, 2);
  const std::vector<double> lambda = smallestEigenvalues(pair, 2);
  const Normalisation norm = normalisation(pair, eiv.data().data(), lambda.data(), 2);
  EXPECT_LT(norm.kOrthonormality, 1e-12);
  EXPECT_LT(norm.mScaling, 1e-12);
  EXPECT_EQ(eiv[8], -7.0);
  ASSERT_EQ(exp_eigenSystem_v3(system.get(), 5, eig.address(), nullptr, &found), 0);
  EXPECT_NEAR(eig[1], lambda[1], 1e-12 * lambda[1]);
  EXPECT_EQ(countOf(newLog(), "Searching 2 smallest eigenvalues\n"), 1);
}

// LAPACK's bisection never ends on some matrices holding NaN (this one was found by the fuzzer):
// the dense route refuses them.
class EigenExportNonFinite : public LoggedSystem {};

TEST_F(EigenExportNonFinite, MassWithNanFailsTheDenseSearchInsteadOfHanging) {
  assemble(5, {{0, 0, 4}, {1, 1, 4}, {2, 2, 4}, {3, 3, 4}, {4, 4, 4}});
  assemble(5,
           {{0, 0, 1},
            {1, 0, NAN},
            {1, 1, NAN},
            {2, 2, 1},
            {3, 2, 0.2581988897471611},
            {3, 3, 1.1333333333333331},
            {4, 4, 1}},
           1);
  Array eig(2, 0);
  Array eiv(5, 2);
  int32_t found = -1;
  EXPECT_EQ(exp_eigenSystem_v3(system.get(), 2, eig.address(), eiv.address(), &found), -1);
  EXPECT_EQ(lastError(system.get()), "Can't calculate eigensystem");
  EXPECT_EQ(countOf(newLog(), "Dense search method failed\n"), 1);
}

// The IPE 400 cantilever of the models library: ω = (β L)² / L² √(E I / (ρ A)) for bending about
// either axis of the section, β L = 1.875104, 4.694091, 7.854757.
TEST(EigenExportModels, CantileverBendingFrequenciesMatchEulerBernoulli) {
  const models::Cantilever beam;
  SystemHandle system;
  models::assembleIntoLibrary(beam, system.address(), true);
  Array eig(12, 0);
  int32_t found = -1;
  ASSERT_EQ(exp_eigenSystem_v3(system.get(), 12, eig.address(), nullptr, &found), 0);
  ASSERT_EQ(found, 12);
  const models::CantileverParameters& p = beam.parameters();
  for (const double inertia : {p.section.Iy, p.section.Iz}) {
    for (const double betaL : {1.875104, 4.694091, 7.854757}) {
      const double omega = betaL * betaL / (p.length * p.length) *
                           std::sqrt(p.section.E * inertia / (p.section.rho * p.section.A));
      if (omega * omega > eig[11]) continue;
      double nearest = 1e300;
      for (double l : eig.data()) nearest = std::min(nearest, std::fabs(std::sqrt(l) - omega));
      EXPECT_LT(nearest, 0.005 * omega) << "I = " << inertia << ", β L = " << betaL;
    }
  }
}

// Packed lower triangles: A = tridiag(-1, 2, -1) and B = β I of order n give λₖ = (2 - 2 cos(k π /
// (n + 1))) / β, β zᵀ z = 1, and bp returns B's factor √β I. Failures return a code without any
// text and write nothing.
TEST(DspgvdExport, ClosedFormsAndInvalidArguments) {
  const struct {
    const char* why;
    int n, bpReady, info;
    std::string nulls;  // which of a, s(ource), p (bp), w, z are passed as null
    std::vector<double> ap{2.0}, b{2.0};
  } rows[] = {
      {"n = 1, hand-worked", 1, 0, 0, ""},
      {"order 3, bp ready", 3, 1, 0, "s", {2, -1, 0, 2, -1, 2}, {4, 0, 0, 4, 0, 4}},
      {"B = diag(1, -1): leading minor 2 indefinite", 2, 0, 4, "", {1, 0, 1}, {1, 0, -1}},
      {"n = 0 reads nothing", 0, 0, 0, "aspwz"},
      {"n < 0", -1, 0, -4, ""},
      {"null ap", 1, 0, -1, "a"},
      {"null bpSource with bpReady 0", 1, 0, -1, "s"},
      {"null bp", 1, 1, -1, "p"},
      {"null w", 1, 0, -1, "w"},
      {"null z", 1, 0, -1, "z"},
      {"workspace beyond 32-bit sizes", 32767, 1, -1, "s"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    std::vector<double> ap = row.ap, source = row.b, w(9, -7.0), z(9, -7.0);
    std::vector<double> bp = row.bpReady ? row.b : std::vector<double>(row.b.size(), -7.0);
    double* p[] = {ap.data(), source.data(), bp.data(), w.data(), z.data()};
    for (int i = 0; i < 5; ++i)
      p[i] = row.nulls.find("aspwz"[i]) == std::string::npos ? p[i] : nullptr;
    EXPECT_EQ(exp_LAPACK_DSPGVD_v3(row.n, row.bpReady, p[0], p[1], p[2], p[3], p[4]), row.info);
    EXPECT_EQ(ap, row.ap);
    EXPECT_EQ(lastError(nullptr), "");
    EXPECT_EQ(w[0] == -7.0 && z[0] == -7.0, row.info != 0 || row.n == 0);
    for (int k = 0, n = row.n; row.info == 0 && k < n; ++k) {
      const double* zk = z.data() + static_cast<size_t>(k) * n;
      EXPECT_NEAR(w[k], secondDifferenceEigenvalue(k + 1, n) / row.b[0], 1e-13);
      EXPECT_NEAR(dot(zk, zk, n) * row.b[0], 1.0, 1e-13);
      EXPECT_DOUBLE_EQ(bp[static_cast<size_t>(k * n - k * (k - 1) / 2)], std::sqrt(row.b[0]));
    }
  }
}

}  // namespace
}  // namespace orv::test
