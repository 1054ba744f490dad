// Geometric building blocks of the synthetic surfaces. All fields live on a
// periodic n x n grid (n a power of two), heights in pixel units, so that
// images tile without seams and shading and shadows need no border rules.
#pragma once

#include <cstdint>

#include "grid.h"

namespace gen {

// Root-mean-square gradient magnitude, with the central differences the
// renderer uses (periodic).
double rms_slope(const Grid& h);

// Multiplies h so that rms_slope(h) == target (h unchanged if it is flat).
void scale_to_rms_slope(Grid& h, double target);

enum class RidgeProfile {
  kSine,    // smooth corrugation
  kGroove,  // V-shaped valleys between rounded crests
  kRidge,   // sharp crests between rounded valleys
};

// Parallel ridges running along grain_deg (degrees from the column axis
// towards the row axis) with the given period in pixels. The wave vector is
// rounded to whole cycles per field so the pattern stays periodic. `wander`
// (radians) lets the ridges meander with a smooth random phase.
Grid ridge_field(int n, std::uint64_t seed, double period, double grain_deg, RidgeProfile profile,
                 double wander);

enum class BumpProfile {
  kCap,       // half-ellipsoid: pebble
  kGaussian,  // smooth mound
};

struct BumpParams {
  double radius = 6.0;    // mean radius in pixels
  double spread = 0.3;    // radii uniform in radius * [1 - spread, 1 + spread]
  double coverage = 1.0;  // expected bump area / field area
  BumpProfile profile = BumpProfile::kCap;
  bool pits = false;   // dents instead of bumps
  bool stack = false;  // heights add up; otherwise the highest bump wins
};

// Randomly placed bumps. `feature` receives, per pixel, a random value in
// [-1, 1] belonging to the bump that shapes that pixel (0 on bare ground),
// for per-pebble albedo.
Grid bump_field(int n, std::uint64_t seed, const BumpParams& p, Grid* feature);

enum class CellStyle {
  kCobble,  // rounded stones separated by grooves
  kPlates,  // flat, randomly tilted plates separated by thin cracks
};

struct CellParams {
  double size = 24.0;  // mean cell diameter in pixels
  CellStyle style = CellStyle::kCobble;
  double edge_width = 4.0;  // width of the rounding / crack profile in pixels
  double plate_tilt = 0.0;  // standard deviation of each plate's slope
};

// Voronoi cells of jittered grid points. `feature` receives a random value in
// [-1, 1] per cell.
Grid cell_field(int n, std::uint64_t seed, const CellParams& p, Grid* feature);

}  // namespace gen
