// The default run of orvsolve: response-spectrum analysis of the built-in building frame.
#include "building.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <numeric>

#include "commands.h"
#include "library.h"
#include "report.h"

namespace orv::cli {

namespace {

using models::kMass;
using models::kStiffness;
using models::kUx;
using models::kUy;
using models::kUz;

// Modal responses per mode: for each storey, the storey shear and the inter-storey drift under
// the earthquake along X, then the same along Y.
constexpr int kQuantities = 24;
static_assert(4 * kStoreys == kQuantities);
constexpr int kShearX = 0;
constexpr int kDriftX = kStoreys;
constexpr int kShearY = 2 * kStoreys;
constexpr int kDriftY = 3 * kStoreys;

constexpr unsigned kAllChecks = 1 | 2 | 4 | 8 | 16;

double dot(std::span<const double> a, std::span<const double> b) {
  return std::inner_product(a.begin(), a.end(), b.begin(), 0.0);
}

// Single-precision blocks on a 16-byte boundary, as the modal combination requires.
class AlignedFloats {
 public:
  explicit AlignedFloats(std::size_t count)
      : data_(static_cast<float*>(std::aligned_alloc(16, (count * sizeof(float) + 15) / 16 * 16))),
        count_(count) {
    if (!data_) throw std::bad_alloc();
    std::fill(data_.get(), data_.get() + count, 0.0f);
  }
  float* data() { return data_.get(); }
  float& operator[](std::size_t k) { return data_[k]; }
  void clear() { std::fill(data_.get(), data_.get() + count_, 0.0f); }

 private:
  struct Free {
    void operator()(float* p) const { std::free(p); }
  };
  std::unique_ptr<float[], Free> data_;
  std::size_t count_;
};

// A modal-combination object of the library.
class Combination {
 public:
  Combination(int kind, int modes, const float* periods, float damping) {
    if (exp_mediaSismica_init_v3(&handle_, kind, modes, periods, damping) != 0) {
      throw LibraryError("exp_mediaSismica_init_v3 failed for kind " + std::to_string(kind));
    }
  }
  ~Combination() { exp_mediaSismica_free_v3(&handle_); }
  Combination(const Combination&) = delete;
  Combination& operator=(const Combination&) = delete;

  void combine(const float* modal, float* result) const {
    if (exp_mediaSismica_calc24_v3(handle_, modal, result) != 0) {
      throw LibraryError("exp_mediaSismica_calc24_v3 failed");
    }
  }

 private:
  void* handle_ = nullptr;
};

struct Mode {
  double eigenvalue;
  double period;
  double acceleration;  // spectral, m/s2
  double massX;         // effective modal mass shares
  double massY;
};

// Storey shears (bottom up) of the forces f along component: the sum over the floors above.
std::vector<double> storeyShears(const models::BuildingFrame& frame, std::span<const double> f,
                                 int component) {
  std::vector<double> floorForces;
  for (int level = 1; level <= frame.parameters().storeys; ++level) {
    double sum = 0.0;
    for (const int node : frame.storeyNodes(level)) sum += f[frame.dof(node, component)];
    floorForces.push_back(sum);
  }
  return models::BuildingFrame::storeyShears(floorForces);
}

void printStaticCase(const models::BuildingFrame& frame, std::span<const double> u,
                     const char* name, int component, double baseShear) {
  const int storeys = frame.parameters().storeys;
  const double h = frame.parameters().storeyHeight;
  const std::vector<double> drifts = frame.storeyDrifts(u, component);
  const auto worst = std::max_element(
      drifts.begin(), drifts.end(), [](double a, double b) { return std::fabs(a) < std::fabs(b); });
  std::printf("  %-10s inverted triangle, base shear %.2f W = %.0f kN: roof %.2f mm,\n", name,
              kLateralShare, baseShear / 1e3,
              1e3 * frame.storeyDisplacement(u, storeys, component));
  std::printf("  %-10s largest drift %.2f mm in storey %d (1/%.0f of the storey height)\n", "",
              1e3 * std::fabs(*worst), static_cast<int>(worst - drifts.begin()) + 1,
              h / std::fabs(*worst));
}

void printCombined(const char* title, const char* axis, const float* srss, const float* cqc,
                   const float* abs, int shear, int drift) {
  std::printf("  %-22s storey shear %s [kN]%14s inter-storey drift %s [mm]\n", title, axis, "",
              axis);
  std::printf("  storey        SRSS        CQC        ABS          SRSS      CQC      ABS\n");
  for (int s = kStoreys - 1; s >= 0; --s) {
    std::printf("  %6d  %10.1f %10.1f %10.1f    %10.2f %8.2f %8.2f\n", s + 1, srss[shear + s] / 1e3,
                cqc[shear + s] / 1e3, abs[shear + s] / 1e3, srss[drift + s] * 1e3,
                cqc[drift + s] * 1e3, abs[drift + s] * 1e3);
  }
}

// The inertia of the rigid translations: M r gives the mass moving with the ground.
struct GroundInertia {
  std::vector<double> rx, ry;
  std::vector<double> mrx, mry, mrz;
  double massX = 0.0;
  double massY = 0.0;
  double weight = 0.0;
};

GroundInertia groundInertia(const models::BuildingFrame& frame, const LinearSystem& system) {
  GroundInertia g;
  g.rx = frame.translation(kUx);
  g.ry = frame.translation(kUy);
  const std::vector<double> rz = frame.translation(kUz);
  g.mrx = system.multiply(g.rx, kMass);
  g.mry = system.multiply(g.ry, kMass);
  g.mrz = system.multiply(rz, kMass);
  g.massX = dot(g.rx, g.mrx);
  g.massY = dot(g.ry, g.mry);
  g.weight = dot(rz, g.mrz) * kGravity;
  return g;
}

// Gravity, lateral X and lateral Y as the three columns of one block.
struct StaticCases {
  double baseShear = 0.0;
  std::vector<double> u;
  double residuals[3] = {};
};

StaticCases solveStaticCases(const Session& session, const models::BuildingFrame& frame,
                             LinearSystem& system, const GroundInertia& g) {
  const auto n = static_cast<std::size_t>(frame.size());
  StaticCases cases;
  cases.baseShear = kLateralShare * g.weight;
  const std::vector<double> storeyForces =
      models::BuildingFrame::triangularStoreyForces(frame.parameters().storeys, cases.baseShear);
  std::vector<double> loads(3 * n);
  for (std::size_t i = 0; i < n; ++i) loads[i] = -kGravity * g.mrz[i];
  const std::vector<double> lateralX = frame.lateralLoad(kUx, storeyForces);
  const std::vector<double> lateralY = frame.lateralLoad(kUy, storeyForces);
  std::copy(lateralX.begin(), lateralX.end(), loads.begin() + static_cast<std::ptrdiff_t>(n));
  std::copy(lateralY.begin(), lateralY.end(), loads.begin() + static_cast<std::ptrdiff_t>(2 * n));
  cases.u = watched(session, [&] { return system.solve(loads, 3); });
  for (std::size_t c = 0; c < 3; ++c) {
    const std::span<const double> uc(cases.u.data() + c * n, n);
    const std::span<const double> fc(loads.data() + c * n, n);
    std::vector<double> r = system.multiply(uc, kStiffness);
    for (std::size_t i = 0; i < n; ++i) r[i] -= fc[i];
    cases.residuals[c] = norm1(r) / norm1(fc);
  }
  return cases;
}

// Peak modal responses: mode i along X moves as Gx Sd(Ti) phi_i, with Gx = phi^T M r / phi^T M
// phi; its inertia forces Gx Se(Ti) M phi_i give the storey shears.
struct ModalResponses {
  std::vector<Mode> modes;
  AlignedFloats values;  // kQuantities per mode
};

ModalResponses modalResponses(const models::BuildingFrame& frame, const LinearSystem& system,
                              const GroundInertia& g, const Eigenpairs& pairs,
                              const ElasticSpectrum& spectrum) {
  const auto n = static_cast<std::size_t>(frame.size());
  const auto modeCount = static_cast<std::size_t>(pairs.found);
  ModalResponses result{{}, AlignedFloats(modeCount * kQuantities)};
  for (std::size_t i = 0; i < modeCount; ++i) {
    const std::span<const double> phi(pairs.vectors.data() + i * n, n);
    const std::vector<double> mphi = system.multiply(phi, kMass);
    const double generalisedMass = dot(phi, mphi);
    const double lx = dot(phi, g.mrx);
    const double ly = dot(phi, g.mry);
    Mode mode;
    mode.eigenvalue = pairs.values[i];
    mode.period = 2.0 * std::numbers::pi / std::sqrt(mode.eigenvalue);
    mode.acceleration = spectrum(mode.period);
    mode.massX = lx * lx / generalisedMass / g.massX;
    mode.massY = ly * ly / generalisedMass / g.massY;
    result.modes.push_back(mode);

    const struct {
      double participation;
      int component;
      int shear;
      int drift;
    } directions[] = {{lx / generalisedMass, kUx, kShearX, kDriftX},
                      {ly / generalisedMass, kUy, kShearY, kDriftY}};
    for (const auto& d : directions) {
      const double a = d.participation * mode.acceleration;
      std::vector<double> force(n), displacement(n);
      for (std::size_t j = 0; j < n; ++j) {
        force[j] = a * mphi[j];
        displacement[j] = a / mode.eigenvalue * phi[j];
      }
      const std::vector<double> shears = storeyShears(frame, force, d.component);
      const std::vector<double> drifts = frame.storeyDrifts(displacement, d.component);
      for (int s = 0; s < kStoreys; ++s) {
        result.values[i * kQuantities + static_cast<std::size_t>(d.shear + s)] =
            static_cast<float>(shears[s]);
        result.values[i * kQuantities + static_cast<std::size_t>(d.drift + s)] =
            static_cast<float>(drifts[s]);
      }
    }
  }
  return result;
}

struct Combined {
  AlignedFloats srss{kQuantities};
  AlignedFloats cqc{kQuantities};
  AlignedFloats abs{kQuantities};
};

Combined combineModes(ModalResponses& responses) {
  std::vector<float> periods;
  for (const Mode& m : responses.modes) periods.push_back(static_cast<float>(m.period));
  const int count = static_cast<int>(responses.modes.size());
  Combined c;
  Combination(1, count, nullptr, 0.0f).combine(responses.values.data(), c.srss.data());
  Combination(2, count, periods.data(), static_cast<float>(kDamping))
      .combine(responses.values.data(), c.cqc.data());
  Combination(3, count, nullptr, 0.0f).combine(responses.values.data(), c.abs.data());
  return c;
}

void printModel(const models::BuildingFrame& frame, const LogSummary& log, const GroundInertia& g) {
  const models::FrameParameters& parameters = frame.parameters();
  std::printf("Model\n");
  std::printf("  %d storeys of %.2f m, %d x %d bays of %.2f m x %.2f m, fixed base\n",
              parameters.storeys, parameters.storeyHeight, parameters.baysX, parameters.baysY,
              parameters.bayX, parameters.bayY);
  std::printf("  concrete (E = 30 GPa, 2500 kg/m3): columns 0.50 x 0.50 m, beams 0.30 x 0.60 m\n");
  std::printf("  floor mass %.0f kg/m2 lumped at the column heads, consistent member masses\n",
              parameters.floorMass);
  const int groundNodes = (parameters.baysX + 1) * (parameters.baysY + 1);
  std::printf("  %d nodes (%d fixed), %d equations, %zu beam-column elements\n", frame.nodeCount(),
              groundNodes, frame.size(), frame.members().size());
  if (log.logged) {
    std::printf("  stored entries (lower triangle): K %ld, M %ld\n",
                log.storedEntries.count('A') ? log.storedEntries.at('A') : 0L,
                log.storedEntries.count('B') ? log.storedEntries.at('B') : 0L);
  }
  std::printf("  mass %.1f t, weight W = %.0f kN\n\n", g.massX / 1e3, g.weight / 1e3);
}

void printStaticCases(const models::BuildingFrame& frame, const StaticCases& cases,
                      const GroundInertia& g) {
  const auto n = static_cast<std::size_t>(frame.size());
  std::printf("\nStatic load cases (3 right-hand sides, one call of exp_solve_v3)\n");
  const std::span<const double> gravity(cases.u.data(), n);
  const double roofSettlement = frame.storeyDisplacement(gravity, frame.parameters().storeys, kUz);
  double deflection = 0.0;
  for (int node = 0; node < frame.nodeCount(); ++node) {
    const int d = frame.dof(node, kUz);
    if (d >= 0) deflection = std::min(deflection, gravity[static_cast<std::size_t>(d)]);
  }
  std::printf("  %-10s W = %.0f kN: roof settles %.2f mm, largest deflection %.2f mm\n", "gravity",
              g.weight / 1e3, -1e3 * roofSettlement, -1e3 * deflection);
  printStaticCase(frame, {cases.u.data() + n, n}, "lateral X", kUx, cases.baseShear);
  printStaticCase(frame, {cases.u.data() + 2 * n, n}, "lateral Y", kUy, cases.baseShear);
  std::printf("  relative residuals |K u - f|_1 / |f|_1: %.1e, %.1e, %.1e\n", cases.residuals[0],
              cases.residuals[1], cases.residuals[2]);
}

void printModes(const std::vector<Mode>& modes) {
  std::printf("\nVibration modes: the %zu smallest eigenvalues of K x = lambda M x\n",
              modes.size());
  std::printf(
      "  mode  period [s]     eigenvalue [1/s2]  Se [m/s2]  mass X [%%]   sum X  "
      "mass Y [%%]   sum Y\n");
  double sumX = 0.0, sumY = 0.0;
  for (std::size_t i = 0; i < modes.size(); ++i) {
    const Mode& m = modes[i];
    sumX += m.massX;
    sumY += m.massY;
    std::printf("  %4zu  %10.4f  %20.15g  %9.3f  %10.2f  %6.2f  %10.2f  %6.2f\n", i + 1, m.period,
                m.eigenvalue, m.acceleration, 100.0 * m.massX, 100.0 * sumX, 100.0 * m.massY,
                100.0 * sumY);
  }
  std::printf(
      "  mass = effective modal mass (phi^T M r)^2 / phi^T M phi over r^T M r, r the unit\n"
      "  ground displacement; modes with neither are torsional or in-plane floor modes\n"
      "  (the frame has no rigid floor diaphragm).\n");
}

void printCombinations(const ElasticSpectrum& spectrum, Combined& c, std::size_t modeCount,
                       double weight) {
  std::printf(
      "\nElastic response spectrum (Eurocode 8, type 1, ground type C): ag = %.2f g, "
      "S = %.2f,\n  TB = %.2f s, TC = %.2f s, TD = %.2f s, %.0f %% damping\n",
      spectrum.ag / kGravity, spectrum.S, spectrum.TB, spectrum.TC, spectrum.TD, 100.0 * kDamping);
  std::printf(
      "\nPeak responses of %zu modes combined by SRSS, CQC (%.0f %% damping) and "
      "absolute sum\n",
      modeCount, 100.0 * kDamping);
  printCombined("earthquake along X", "X", c.srss.data(), c.cqc.data(), c.abs.data(), kShearX,
                kDriftX);
  printCombined("earthquake along Y", "Y", c.srss.data(), c.cqc.data(), c.abs.data(), kShearY,
                kDriftY);
  std::printf("  base shear (CQC): X %.0f kN = %.1f %% of W, Y %.0f kN = %.1f %% of W\n",
              c.cqc[kShearX] / 1e3, 100.0 * c.cqc[kShearX] / weight, c.cqc[kShearY] / 1e3,
              100.0 * c.cqc[kShearY] / weight);
}

}  // namespace

int runBuildingAnalysis(const Session& session) {
  requireLogWritable(session.logPath);
  const models::BuildingFrame frame(referenceBuilding());
  const ElasticSpectrum spectrum;

  startLog(session);
  LinearSystem system;
  watched(session, [&] { system.assemble(frame); });
  system.enableChecks(kAllChecks);
  watched(session, [&] { system.factor("metis_node"); });
  const GroundInertia ground = groundInertia(frame, system);
  const StaticCases cases = solveStaticCases(session, frame, system, ground);
  const Eigenpairs pairs = watched(session, [&] { return system.eigenpairs(kModeCount); });
  if (pairs.found < 1) {
    throw LibraryError("exp_eigenSystem_v3 found no eigenvalue of the frame");
  }
  ModalResponses responses = modalResponses(frame, system, ground, pairs, spectrum);
  Combined combined = combineModes(responses);
  const LogSummary log = summariseLogFile(session.logPath);

  std::printf("orvsolve: earthquake analysis of a building frame%s%s\n\n", log.logged ? ", " : "",
              log.banner.c_str());
  printModel(frame, log, ground);
  std::printf("Solver: checks %s enabled, ordering metis_node\n", checkList(kAllChecks).c_str());
  printLibrarySummary(log, session.logPath);
  printStaticCases(frame, cases, ground);
  printModes(responses.modes);
  printCombinations(spectrum, combined, responses.modes.size(), ground.weight);
  return 0;
}

}  // namespace orv::cli
