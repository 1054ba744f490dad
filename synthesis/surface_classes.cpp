#include "surface_classes.h"

#include <algorithm>
#include <cmath>

#include "rng.h"
#include "spectral.h"

namespace gen {

namespace {

SurfaceClass make(const char* name, const char* description, Relief relief, double slope) {
  SurfaceClass c;
  c.name = name;
  c.description = description;
  c.relief = relief;
  c.slope = slope;
  return c;
}

// The tuning table. Slopes are rms slopes (dimensionless), lengths in pixels,
// angles in degrees from the column axis towards the row axis (0 = the
// features run left-right, 90 = top-bottom).
std::vector<SurfaceClass> build_table() {
  std::vector<SurfaceClass> t;
  SurfaceClass c;

  c = make("aaa", "isotropic fractal, beta 3.2", Relief::kFractal, 0.40);
  c.beta = 3.2;
  t.push_back(c);

  c = make("aab", "isotropic fractal, beta 2.7, finer-grained", Relief::kFractal, 0.45);
  c.beta = 2.7;
  c.albedo_mean = 0.70;
  t.push_back(c);

  c = make("aaj", "smooth fractal, beta 3.8, mottled albedo", Relief::kFractal, 0.30);
  c.beta = 3.8;
  c.albedo_source = AlbedoSource::kNoise;
  c.albedo_contrast = 0.25;
  t.push_back(c);

  c = make("aam", "sinusoidal ridges along 0 deg, period 16, meandering", Relief::kRidges, 0.45);
  c.period = 16;
  c.grain_deg = 0;
  c.wander = 0.6;
  c.detail_slope = 0.10;
  t.push_back(c);

  c = make("aan", "V grooves along 60 deg, period 10", Relief::kRidges, 0.50);
  c.profile = RidgeProfile::kGroove;
  c.period = 10;
  c.grain_deg = 60;
  c.wander = 0.4;
  c.detail_slope = 0.10;
  t.push_back(c);

  c = make("aao", "anisotropic fractal, grain 120 deg, elongation 4", Relief::kFractal, 0.45);
  c.beta = 3.0;
  c.anisotropy = 4.0;
  c.grain_deg = 120;
  t.push_back(c);

  c = make("aar", "wide V grooves along 90 deg, period 24, rough", Relief::kRidges, 0.40);
  c.profile = RidgeProfile::kGroove;
  c.period = 24;
  c.grain_deg = 90;
  c.wander = 0.3;
  c.detail_slope = 0.15;
  t.push_back(c);

  c = make("aas", "small dense pebbles, radius 4", Relief::kBumps, 0.50);
  c.bumps.radius = 4;
  c.bumps.coverage = 1.2;
  c.detail_slope = 0.05;
  t.push_back(c);

  c = make("aba", "large pebbles, radius 12, varied albedo", Relief::kBumps, 0.50);
  c.bumps.radius = 12;
  c.bumps.spread = 0.4;
  c.bumps.coverage = 1.0;
  c.detail_slope = 0.05;
  c.albedo_source = AlbedoSource::kFeature;
  c.albedo_contrast = 0.20;
  t.push_back(c);

  c = make("abj", "sparse smooth mounds, radius 6, on fractal roughness", Relief::kBumps, 0.40);
  c.bumps.radius = 6;
  c.bumps.profile = BumpProfile::kGaussian;
  c.bumps.coverage = 0.6;
  c.bumps.stack = true;
  c.detail_slope = 0.15;
  t.push_back(c);

  c = make("abk", "craters, radius 7", Relief::kBumps, 0.45);
  c.bumps.radius = 7;
  c.bumps.coverage = 0.5;
  c.bumps.pits = true;
  c.detail_slope = 0.10;
  t.push_back(c);

  c = make("acc", "cobbles, cell size 20", Relief::kCells, 0.45);
  c.cells.size = 20;
  c.cells.edge_width = 5;
  c.detail_slope = 0.05;
  t.push_back(c);

  c = make("acd", "cracked tilted plates, cell size 32, dark cracks", Relief::kCells, 0.35);
  c.cells.size = 32;
  c.cells.style = CellStyle::kPlates;
  c.cells.edge_width = 1.5;
  c.cells.plate_tilt = 0.10;
  c.detail_slope = 0.15;
  c.albedo_source = AlbedoSource::kHeight;
  c.albedo_contrast = 0.15;
  t.push_back(c);

  c = make("ace", "small cells, size 15, one albedo per cell", Relief::kCells, 0.35);
  c.cells.size = 15;
  c.cells.edge_width = 3;
  c.albedo_source = AlbedoSource::kFeature;
  c.albedo_contrast = 0.30;
  t.push_back(c);

  c = make("adb", "anisotropic fractal, grain 30 deg, elongation 2.5, beta 2.6", Relief::kFractal,
           0.50);
  c.beta = 2.6;
  c.anisotropy = 2.5;
  c.grain_deg = 30;
  t.push_back(c);

  c = make("adc", "woven: crossed ridges along 45 and 135 deg, period 14", Relief::kCrossedRidges,
           0.45);
  c.period = 14;
  c.grain_deg = 45;
  c.grain2_deg = 135;
  c.wander = 0.3;
  c.detail_slope = 0.05;
  t.push_back(c);

  c = make("add", "granular, feature size 8", Relief::kBandpass, 0.50);
  c.period = 8;
  c.rel_width = 0.3;
  t.push_back(c);

  c = make("ade", "medium pebbles, radius 5.5, strongly varied albedo", Relief::kBumps, 0.45);
  c.bumps.radius = 5.5;
  c.bumps.coverage = 1.0;
  c.detail_slope = 0.05;
  c.albedo_source = AlbedoSource::kFeature;
  c.albedo_contrast = 0.35;
  t.push_back(c);

  c = make("adg", "sharp meandering ridges along 150 deg, period 20, rough, mottled",
           Relief::kRidges, 0.40);
  c.profile = RidgeProfile::kRidge;
  c.period = 20;
  c.grain_deg = 150;
  c.wander = 0.8;
  c.detail_slope = 0.20;
  c.albedo_source = AlbedoSource::kNoise;
  c.albedo_contrast = 0.15;
  t.push_back(c);

  c = make("adh", "gentle fractal, beta 3.4, painted albedo", Relief::kFractal, 0.25);
  c.beta = 3.4;
  c.albedo_source = AlbedoSource::kNoise;
  c.albedo_contrast = 0.40;
  c.albedo_beta = 2.6;
  t.push_back(c);

  return t;
}

// The relief of class c, and in *expected_slope its expected rms slope where
// that is known in closed form (spectral reliefs), else 0.
Grid main_relief(const SurfaceClass& c, int n, std::uint64_t seed, Grid* feature,
                 double* expected_slope) {
  *expected_slope = 0.0;
  switch (c.relief) {
    case Relief::kFractal:
      return fractal_field(n, seed, c.beta, c.anisotropy, c.grain_deg, 0.3, expected_slope);
    case Relief::kBandpass:
      return bandpass_field(n, seed, c.period, c.rel_width, expected_slope);
    case Relief::kRidges:
      return ridge_field(n, seed, c.period, c.grain_deg, c.profile, c.wander);
    case Relief::kCrossedRidges: {
      Grid a = ridge_field(n, seed, c.period, c.grain_deg, c.profile, c.wander);
      const Grid b = ridge_field(n, mix64(seed), c.period, c.grain2_deg, c.profile, c.wander);
      for (std::size_t k = 0; k < a.size(); ++k) a.v[k] += b.v[k];
      return a;
    }
    case Relief::kBumps:
      return bump_field(n, seed, c.bumps, feature);
    case Relief::kCells:
      return cell_field(n, seed, c.cells, feature);
  }
  return Grid(n, n);
}

// Scales h to rms slope `target`: by the expected slope where known, so that
// realisations keep their natural spread, else by the sample slope (the
// geometric reliefs hold many features, so theirs is stable).
void scale_relief(Grid& h, double expected_slope, double target) {
  if (expected_slope > 0.0) {
    const double k = target / expected_slope;
    for (double& x : h.v) x *= k;
  } else {
    scale_to_rms_slope(h, target);
  }
}

}  // namespace

const std::vector<SurfaceClass>& surface_classes() {
  static const std::vector<SurfaceClass> table = build_table();
  return table;
}

const SurfaceClass* find_surface_class(const std::string& name) {
  for (const auto& c : surface_classes())
    if (c.name == name) return &c;
  return nullptr;
}

ReliefSample synthesize_surface(const SurfaceClass& c, int n, std::uint64_t seed) {
  // Independent streams for the parts, so that changing one part of a recipe
  // leaves the random numbers of the others alone.
  const std::uint64_t relief_seed = derive_seed(seed, "relief");
  const std::uint64_t detail_seed = derive_seed(seed, "detail");
  const std::uint64_t albedo_seed = derive_seed(seed, "albedo");

  ReliefSample s;
  Grid feature;
  double expected = 0.0;
  s.height = main_relief(c, n, relief_seed, &feature, &expected);
  scale_relief(s.height, expected, c.slope);
  if (c.detail_slope > 0.0) {
    Grid d = fractal_field(n, detail_seed, c.detail_beta, 1.0, 0.0, 0.3, &expected);
    scale_relief(d, expected, c.detail_slope);
    for (std::size_t k = 0; k < d.size(); ++k) s.height.v[k] += d.v[k];
  }

  s.albedo = Grid(n, n, c.albedo_mean);
  Grid a;  // zero-mean variation, roughly unit scale
  switch (c.albedo_source) {
    case AlbedoSource::kUniform:
      break;
    case AlbedoSource::kNoise:
      a = fractal_field(n, albedo_seed, c.albedo_beta);
      break;
    case AlbedoSource::kFeature:
      if (feature.size() == s.albedo.size()) a = feature;
      break;
    case AlbedoSource::kHeight: {
      a = s.height;
      double mean = 0.0, var = 0.0;
      for (double x : a.v) mean += x;
      mean /= static_cast<double>(a.size());
      for (double x : a.v) var += (x - mean) * (x - mean);
      const double sd = std::sqrt(var / static_cast<double>(a.size()));
      for (double& x : a.v) x = sd > 0.0 ? (x - mean) / sd : 0.0;
      break;
    }
  }
  if (a.size() == s.albedo.size()) {
    for (std::size_t k = 0; k < a.size(); ++k)
      s.albedo.v[k] = std::clamp(c.albedo_mean * (1.0 + c.albedo_contrast * a.v[k]), 0.02, 1.0);
  }
  return s;
}

}  // namespace gen
