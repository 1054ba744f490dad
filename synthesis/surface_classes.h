// The surface classes of the synthetic texture database: one row of the
// table in surface_classes.cpp per class, each a recipe for a random height
// field plus albedo. Every realisation of a class has the same statistics;
// only the random numbers differ.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "grid.h"
#include "height_field.h"

namespace gen {

enum class Relief {
  kFractal,        // 1/f^beta spectrum, optionally anisotropic
  kBandpass,       // isotropic, one dominant feature size
  kRidges,         // parallel ridges or grooves
  kCrossedRidges,  // two sets of ridges (grain_deg and grain2_deg)
  kBumps,          // pebbles, mounds or pits
  kCells,          // cobbles or cracked plates
};

enum class AlbedoSource {
  kUniform,  // constant albedo
  kNoise,    // smooth fractal mottling
  kFeature,  // one random albedo per pebble or cell
  kHeight,   // darker in the low parts (dirt in cracks and valleys)
};

struct SurfaceClass {
  std::string name;
  std::string description;
  Relief relief = Relief::kFractal;
  double slope = 0.4;  // rms slope of the main relief

  // Fractal and band-pass relief.
  double beta = 3.0;
  double anisotropy = 1.0;
  double grain_deg = 0.0;  // also the direction the ridges run
  double period = 16.0;    // ridge period, or band-pass feature size, in pixels
  double rel_width = 0.3;

  // Ridges.
  RidgeProfile profile = RidgeProfile::kSine;
  double wander = 0.0;
  double grain2_deg = 90.0;

  BumpParams bumps;
  CellParams cells;

  // Fine isotropic roughness added to the main relief.
  double detail_slope = 0.0;
  double detail_beta = 2.6;

  AlbedoSource albedo_source = AlbedoSource::kUniform;
  double albedo_mean = 0.75;
  double albedo_contrast = 0.0;  // relative standard deviation (or range for kFeature)
  double albedo_beta = 3.0;      // spectral slope of kNoise mottling
};

// One random realisation of a class: what the renderer lights. (Not the
// experiment programs' Surface, which names a surface's image files.)
struct ReliefSample {
  Grid height;  // pixel units
  Grid albedo;  // in [0, 1]
};

// The class table, in the database's default name order.
const std::vector<SurfaceClass>& surface_classes();

// nullptr if there is no class of that name.
const SurfaceClass* find_surface_class(const std::string& name);

// One realisation of class c on a periodic n x n grid (n a power of two).
ReliefSample synthesize_surface(const SurfaceClass& c, int n, std::uint64_t seed);

}  // namespace gen
