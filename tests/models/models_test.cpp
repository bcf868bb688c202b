// The models' physics against closed forms, assembled densely and solved by LAPACK; Matrix Market
// files against the real matrices' README, exact error messages and a bit-exact round trip.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numbers>
#include <random>
#include <tuple>

#include "dense.h"
#include "models/models.h"
#include "test_support.h"

namespace orv::models {
namespace {

namespace t = orv::test;

// Dense K or M; every consumer relies on the sink contract: lower triangle, within the matrix.
std::vector<double> dense(const Model& model, int which) {
  const t::DenseSink sink = t::assembleDense(model);
  EXPECT_EQ(sink.upperRecords() + sink.outOfRangeRecords(), 0u);
  return sink.matrix(which);
}

// A free frame has exactly six zero-energy modes, its rigid motions, whatever the orientation of
// its members.
TEST(BuildingFrame, FreeFrameHasExactlySixRigidBodyModes) {
  const BuildingFrame f({.storeys = 1, .baysX = 1, .baysY = 1, .fixedBase = false});
  const std::vector<double> lambda = t::eigenvalues(dense(f, kStiffness), f.size());
  EXPECT_LT(std::fabs(lambda[5]), 1e-12 * lambda.back());
  EXPECT_GT(lambda[6], 1e-6 * lambda.back());
}

// Cubic elements give a cantilever's static tip response exactly (the default orientation puts
// the local y axis vertical, so bending in Z uses Iz) and its first axial and torsional frequencies
// π / 2L sqrt(E / ρ) and π / 2L sqrt(G J / ρ Ip) and bending frequencies β² sqrt(E I / (ρ A L⁴))
// closely, lumped masses less so.
TEST(Cantilever, TipResponseAndFrequenciesMatchBeamTheory) {
  // Rectangle 0.1 wide (local z) by 0.2 deep (local y).
  const BeamSection s = rectangularSection(210e9, 0.3, 7850.0, 0.1, 0.2);
  const double P = 1000.0, L = 10.0;
  const std::pair<int, double> rows[] = {{kUz, P * L * L * L / (3 * s.E * s.Iz)},
                                         {kUy, P * L * L * L / (3 * s.E * s.Iy)},
                                         {kUx, P * L / (s.E * s.A)},
                                         {kRx, P * L / (s.G * s.J)}};
  const Cantilever tip({.elements = 24, .length = L, .section = s});
  for (const auto& [dof, expected] : rows) {
    std::vector<double> f(tip.size(), 0.0);
    f[tip.dof(tip.tipNode(), dof)] = P;
    const std::vector<double> u = t::solveSpd(dense(tip, kStiffness), tip.size(), f);
    EXPECT_NEAR(u[tip.dof(tip.tipNode(), dof)], expected, 1e-9 * expected);
  }
  for (const MassKind kind : {MassKind::Consistent, MassKind::Lumped}) {
    const Cantilever c({.elements = 24, .length = L, .section = s, .mass = kind});
    const std::vector<double> lambda =
        t::generalizedEigen(dense(c, kStiffness), dense(c, kMass), c.size(), false).values;
    std::vector<double> omegas = {
        std::numbers::pi / (2 * L) * std::sqrt(s.E / s.rho),
        std::numbers::pi / (2 * L) * std::sqrt(s.G * s.J / (s.rho * (s.Iy + s.Iz)))};
    for (const double beta : {1.875104, 4.694091, 7.854757}) {
      for (const double I : {s.Iy, s.Iz})
        omegas.push_back(beta * beta * std::sqrt(s.E * I / (s.rho * s.A * L * L * L * L)));
    }
    for (const double omega : omegas) {
      double nearest = omega;
      for (double l : lambda) nearest = std::min(nearest, std::fabs(std::sqrt(l) - omega));
      EXPECT_LT(nearest, (kind == MassKind::Consistent ? 0.005 : 0.01) * omega) << omega;
    }
  }
}

// Practically rigid beams make every storey a shear storey of 6 columns of 12 E I / h³ each (I = Iz
// for sway along X, Iy along Y); an inverted triangle of 100 kN gives storey shears of 100, 90, 70
// and 40 kN. A rigid translation carries the total mass: ρAL of every member plus the floor mass,
// less the lumped halves of the first storey's columns on the fixed base.
TEST(BuildingFrame, ShearBuildingDriftsAndTotalMass) {
  FrameParameters p{.storeys = 4, .baysX = 2, .baysY = 1, .bayY = 5.0, .mass = MassKind::Lumped};
  p.column = rectangularSection(30e9, 0.2, 2500.0, 0.3, 0.5);
  p.floorMass = 650.0;
  p.column.A *= 1e4;
  for (double* v : {&p.beam.A, &p.beam.Iy, &p.beam.Iz, &p.beam.J}) *v *= 1e4;
  const BuildingFrame f(p);
  const double shears[] = {100e3, 90e3, 70e3, 40e3}, h = p.storeyHeight;
  const double total =
      4 * (6 * h * p.column.rho * p.column.A + 39 * p.beam.rho * p.beam.A + 650.0 * 60) -
      3 * h * p.column.rho * p.column.A;
  for (const auto& [component, I] : {std::pair{kUx, p.column.Iz}, std::pair{kUy, p.column.Iy}}) {
    const std::vector<double> load =
        f.lateralLoad(component, BuildingFrame::triangularStoreyForces(4, 100e3));
    const std::vector<double> drifts =
        f.storeyDrifts(t::solveSpd(dense(f, kStiffness), f.size(), load), component);
    ASSERT_EQ(drifts.size(), 4u);
    for (int s = 0; s < 4; ++s) {
      const double expected = shears[s] * h * h * h / (6 * 12 * p.column.E * I);
      EXPECT_NEAR(drifts[s], expected, 1e-3 * expected) << "storey " << s + 1;
    }
    const std::vector<double> r = f.translation(component);
    EXPECT_NEAR(t::dot(r.data(), f.multiply(r, kMass).data(), f.size()), total, 1e-12 * total);
  }
}

// Patch test: eight elements, distorted by an off-centre middle node, fill the unit cube. A linear
// field u = a + G x leaves the middle node in equilibrium and the boundary forces carry the
// uniform stress of isotropic elasticity; the patch's consistent mass totals ρ V.
TEST(Hex8Element, PatchTestReproducesALinearField) {
  std::vector<Vec3> x(27);
  for (int i = 0; i < 27; ++i) x[i] = {0.5 * (i % 3), 0.5 * (i / 3 % 3), 0.5 * (i / 9)};
  x[13] = {0.46, 0.55, 0.43};
  const double G[3][3] = {{1.2e-3, 0.4e-3, -0.3e-3}, {-0.2e-3, -0.5e-3, 0.7e-3}, {0.9e-3, 0, 8e-4}};
  std::vector<double> u(81), unit(81);
  for (int i = 0; i < 81; ++i) {
    u[i] = 1e-3 + G[i % 3][0] * x[i / 3][0] + G[i % 3][1] * x[i / 3][1] + G[i % 3][2] * x[i / 3][2];
    unit[i] = i % 3 == 0;
  }
  t::DenseSink sink(81);
  for (int e = 0; e < 8; ++e) {
    Hex8Coordinates xe;
    std::array<int, 24> dofs;
    for (int a = 0; a < 8; ++a) {
      const int node = e % 2 + (a + 1) / 2 % 2 + 3 * (e / 2 % 2 + a % 4 / 2) + 9 * (e / 4 + a / 4);
      xe[a] = x[node];
      for (int c = 0; c < 3; ++c) dofs[3 * a + c] = 3 * node + c;
    }
    emitElement(sink, dofs, hex8Stiffness(xe, 70e9, 0.33), kStiffness);
    emitElement(sink, dofs, hex8Mass(xe, 1.0), kMass);
  }
  const std::vector<double> f = t::multiply(sink.matrix(kStiffness), 81, u.data());
  for (int i = 39; i < 42; ++i) EXPECT_NEAR(f[i], 0.0, 1e-12 * 70e9) << "centre DOF " << i;
  // The face x = 1 carries the traction of the uniform stress: σxx = λ tr ε + 2 μ εxx, σxy = μ γxy.
  const double mu = 70e9 / 2.66, lambda = 70e9 * 0.33 / (1.33 * 0.34);
  const double traction[] = {lambda * (G[0][0] + G[1][1] + G[2][2]) + 2 * mu * G[0][0],
                             mu * (G[0][1] + G[1][0])};
  for (int c = 0; c < 2; ++c) {
    double sum = 0.0;
    for (int node = 2; node < 27; node += 3) sum += f[3 * node + c];
    EXPECT_NEAR(sum, traction[c], 1e-9 * traction[0]) << "component " << c;
  }
  EXPECT_NEAR(t::dot(unit.data(), t::multiply(sink.matrix(kMass), 81, unit.data()).data(), 81), 1.0,
              1e-13);
  // On the unit cube (ν = 0, μ = E / 2), ∫ N0² = 1/27 and ∫ E N0,x² + μ (N0,y² + N0,z²) = 2E/9.
  Hex8Coordinates cube;
  for (int a = 0; a < 8; ++a) cube[a] = {double((a + 1) / 2 % 2), double(a % 4 / 2), double(a / 4)};
  EXPECT_NEAR(hex8Mass(cube, 27.0)[0], 1.0, 1e-14);
  EXPECT_NEAR(hex8Stiffness(cube, 9.0, 0.0)[0], 2.0, 1e-14);
}

// Every Matrix Market file of the real matrices: order and stored entries (explicit zeros among
// them) as the folder's README lists them.
// Counts whose node total does not fit 32-bit indices are refused before anything is built, even
// where the count plus one, or the product of three, overflows.
TEST(ModelSizes, OverflowingCountsAreRefused) {
  constexpr int kMax = std::numeric_limits<int>::max();
  const int rows[][3] = {
      {kMax, 1, 1}, {1, kMax, 2}, {kMax, kMax, kMax}, {1 << 11, 1 << 11, 1 << 9}};
  for (const auto& c : rows) {
    SCOPED_TRACE(std::to_string(c[0]) + "x" + std::to_string(c[1]) + "x" + std::to_string(c[2]));
    EXPECT_THAT([&] { BrickSolid({.nx = c[0], .ny = c[1], .nz = c[2]}); },
                testing::ThrowsMessage<std::invalid_argument>(
                    testing::StrEq("BrickSolid: too many DOFs for 32-bit indices")));
    FrameParameters p;
    p.storeys = c[0];
    p.baysX = c[1];
    p.baysY = c[2];
    EXPECT_THAT([&] { BuildingFrame{p}; },
                testing::ThrowsMessage<std::invalid_argument>(
                    testing::StrEq("BuildingFrame: too many DOFs for 32-bit indices")));
  }
}

TEST(MatrixMarketReader, ReadsEveryRealMatrix) {
  const std::tuple<const char*, int, long> rows[] = {{"bcsstk04.mtx", 132, 1890},
                                                     {"bcsstk05.mtx", 153, 1288},
                                                     {"bcsstk08.mtx", 1074, 7017},
                                                     {"bcsstk11.mtx", 1473, 17857},
                                                     {"bcsstk13.mtx", 2003, 42943},
                                                     {"bcsstk14.mtx", 1806, 32630},
                                                     {"bcsstk18.mtx", 11948, 80519},
                                                     {"bcsstk25.mtx", 15439, 133840},
                                                     {"s3rmt3m3.mtx", 5357, 106526},
                                                     {"LUNDA.mtx", 147, 1298},
                                                     {"lund_b.mtx", 147, 1294},
                                                     {"bcsstm01.mtx", 48, 48},
                                                     {"bcsstm02.mtx", 66, 66},
                                                     {"bcsstm05.mtx", 153, 153},
                                                     {"bcsstm08.mtx", 1074, 1074},
                                                     {"bcsstm11.mtx", 1473, 1473},
                                                     {"converted/bcsstk01.mtx", 48, 224},
                                                     {"converted/bcsstk02.mtx", 66, 2211},
                                                     {"converted/bcsstk16.mtx", 4884, 147631},
                                                     {"converted/bcsstm03.mtx", 112, 112},
                                                     {"converted/bcsstm04.mtx", 132, 132}};
  for (const auto& [file, n, stored] : rows) {
    const SymmetricMatrix m = readSymmetric(t::matrixPath(file));
    EXPECT_EQ(m.n, n) << file;
    EXPECT_EQ(long(m.lower.size()), stored) << file;
  }
  EXPECT_EQ(readArray(t::matrixPath("bcsst11eig.mtx")).values.size(), 1473u);
}

// Each malformed input names the file and the 1-based line ('+' stands for the banner of a
// symmetric coordinate file; no text, for no file).
TEST(MatrixMarketReader, MalformedInputErrors) {
  const std::pair<const char*, const char*> rows[] = {
      {"hello\n",
       "1: bad banner 'hello', expected '%%MatrixMarket matrix <format> <field> <symmetry>'"},
      {"+% comment\n3 x 3\n", "3: bad size line '3 x 3', expected 'rows columns entries'"},
      {"+3 4 0\n", "2: matrix is not square (3 x 4) but declared symmetric"},
      {"+3 3 3\n1 1 1.0\n2 2 1.0\n\n", "6: end of file after 2 of the 3 declared entries"},
      {"+3 3 2\n1 1 1.0\n2 2 1.0\n% late\n3 3 1.0\n", "6: more entries than the 2 declared"},
      {"+3 3 2\n1 1 1.0\n4 2 1.0\n", "4: row index 4 outside 1..3"},
      {"+3 3 1\n2 1 1.5x\n", "3: value '1.5x' is not a number"},
      {"+3 3 1\n2 1 -nan\n", "3: value '-nan' is not a finite number"},
      {"+3 3 2\n1 1 1e-400\n2 1 inf\n", "4: value 'inf' is not a finite number"},
      {"+3 3 1\n2 1 -1e400\n", "3: value '-1e400' is too large for a double (at most 1.8e308)"},
      {"%%Matrix\x01Market\x1b[2J matrix\n",
       "1: not a text file (it holds control bytes), "
       "expected a Matrix Market file"},
      {"+3 3 1\n2 1\n", "3: bad entry '2 1', expected 'row column value'"},
      {"+3 3 2\n1 1 1.0\n1 3 2.0\n", "4: entry (1, 3) above the diagonal of a symmetric file"},
      {"%%MatrixMarket matrix coordinate real general\n2 2 2\n2 1 3\n1 2 1.5\n",
       "3: matrix is not symmetric: entry (2, 1) = 3 but (1, 2) = 1.5"},
      {nullptr, " cannot open file: No such file or directory"},
      {"/", " is a directory, not a file"}};
  const t::ScratchFile file("input.mtx");
  for (const auto& [text, message] : rows) {
    std::remove(file.c_str());
    const std::string banner = "%%MatrixMarket matrix coordinate real symmetric\n";
    if (text && text[0] == '/') std::filesystem::create_directory(file.path());
    if (text && text[0] != '/')
      std::ofstream(file.path()) << (text[0] == '+' ? banner + (text + 1) : text);
    EXPECT_THAT(
        [&] { readSymmetric(file.path()); },
        testing::ThrowsMessage<MatrixMarketError>(testing::StrEq(file.path() + ":" + message)));
  }
}

// Written values read back bit for bit, over the whole exponent range and at its ends; repeated
// positions are kept.
TEST(MatrixMarketWriter, RoundTripIsExact) {
  const t::ScratchFile file("round.mtx");
  std::mt19937 random(20240611);
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-1074, 1023);
  std::vector<Triplet> lower = {{7, 0, 4.9e-324}, {8, 1, -1.7976931348623157e308}, {8, 1, 1.0 / 3}};
  for (int k = 0; k < 300; ++k)
    lower.push_back({39 - k % 7, k % 33, std::ldexp(mantissa(random), exponent(random))});
  writeSymmetric(file.path(), 40, lower, "first comment line\nsecond");
  EXPECT_EQ(readSymmetric(file.path()).lower, lower);
}

}  // namespace
}  // namespace orv::models
