// The built-in example of orvsolve: a reinforced-concrete building frame and the elastic design
// spectrum it is analysed for. The tests rebuild the same frame from these definitions.
#pragma once

#include "models/frame.h"

namespace orv::cli {

// Six storeys of 3.2 m, 4 bays of 6 m along X and 3 bays of 5 m along Y, 0.5 x 0.5 m columns,
// 0.3 x 0.6 m beams, consistent member masses, and 0.8 t/m2 of floor mass (slab, finishes and
// the quasi-permanent share of the live load) lumped at the column heads. Unequal bays make the
// two sway directions differ, so that the modes do not come in degenerate pairs.
inline constexpr int kStoreys = 6;

inline models::FrameParameters referenceBuilding() {
  models::FrameParameters p;
  p.storeys = kStoreys;
  p.baysX = 4;
  p.baysY = 3;
  p.storeyHeight = 3.2;
  p.bayX = 6.0;
  p.bayY = 5.0;
  p.column = models::concreteColumn();
  p.beam = models::concreteBeam();
  p.floorMass = 800.0;
  return p;
}

inline constexpr int kModeCount = 12;
inline constexpr double kGravity = 9.80665;
inline constexpr double kDamping = 0.05;
// Static lateral load cases: an inverted triangle of storey forces whose sum is this share of the
// building's weight.
inline constexpr double kLateralShare = 0.10;

// Elastic horizontal response spectrum of Eurocode 8 (EN 1998-1, 3.2.2.2), type 1, ground type C,
// 5 % damping (eta = 1): spectral acceleration in m/s2 for the period T in seconds.
struct ElasticSpectrum {
  double ag = 0.25 * kGravity;
  double S = 1.15;
  double TB = 0.20;
  double TC = 0.60;
  double TD = 2.00;
  double eta = 1.0;

  double operator()(double T) const {
    const double plateau = ag * S * eta * 2.5;
    if (T <= TB) return ag * S * (1.0 + T / TB * (eta * 2.5 - 1.0));
    if (T <= TC) return plateau;
    if (T <= TD) return plateau * TC / T;
    return plateau * TC * TD / (T * T);
  }
};

}  // namespace orv::cli
