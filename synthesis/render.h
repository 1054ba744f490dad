// Image formation: a Lambertian height field under a distant point light,
// with attached and cast shadows, sensor noise and 8-bit quantisation.
//
// Coordinates: x along the columns (left to right), y along the rows (top to
// bottom), z out of the surface towards the camera. A light at slant s and
// tilt t lies in direction (cos t sin s, sin t sin s, cos s): tilt 0 lights
// from the right-hand side of the picture, tilt 90 from the bottom.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "grid.h"
#include "image8.h"

namespace gen {

struct ReliefSample;

std::array<double, 3> light_vector(double slant_deg, double tilt_deg);

// Unit normals of a periodic height field, proportional to (-dh/dx, -dh/dy, 1)
// with central differences.
struct Normals {
  Grid nx, ny, nz;
};
Normals surface_normals(const Grid& height);

// 1 where the ray from a point towards the light passes below the height
// field somewhere (the point lies in a cast shadow), 0 elsewhere. The field is
// treated as periodic.
std::vector<std::uint8_t> cast_shadow_mask(const Grid& height, double slant_deg, double tilt_deg);

struct RenderSettings {
  // Grey levels per unit radiance. The brightest possible point (albedo 1,
  // normal facing the light) maps to 220, leaving headroom for noise, so
  // clipping stays rare; the exposure is the same for every light so image
  // intensities are comparable across lights.
  double exposure = 220.0;
  double noise_sigma = 1.5;  // Gaussian sensor noise, grey levels
  double ambient = 0.0;      // ambient radiance as a fraction of the albedo
  bool cast_shadows = true;
  // Acquisition imperfections, applied per image by the database generator
  // (render_image itself renders the light it is given): the lamp's actual
  // direction misses the nominal one by a random angle of this standard
  // deviation (degrees, isotropic), and its intensity varies by this
  // relative standard deviation.
  double direction_jitter_deg = 0.0;
  double intensity_jitter = 0.0;
};

// Renders the top-left width x height part of the surface (which must be at
// least that large) under a light of relative intensity `intensity`. The noise
// comes from its own stream seeded by noise_seed.
Image8 render_image(const ReliefSample& s, const Normals& normals, double slant_deg,
                    double tilt_deg, const RenderSettings& settings, std::uint64_t noise_seed,
                    int width, int height, double intensity = 1.0);

}  // namespace gen
