// Tests of the image generator's library: random streams, FFT, spectra,
// height fields, rendering physics and the surface classes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "data_set.h"
#include "fft.h"
#include "height_field.h"
#include "numeric.h"
#include "pgm_write.h"
#include "render.h"
#include "rng.h"
#include "spectral.h"
#include "surface_classes.h"
#include "surfaces_cli.h"

namespace fs = std::filesystem;
using namespace gen;

namespace {

ReliefSample flat_surface(int n, double albedo) {
  return ReliefSample{Grid(n, n, 0.0), Grid(n, n, albedo)};
}

RenderSettings noiseless() {
  RenderSettings r;
  r.noise_sigma = 0.0;
  return r;
}

Image8 render(const ReliefSample& s, double slant, double tilt,
              const RenderSettings& rs = noiseless()) {
  return render_image(s, surface_normals(s.height), slant, tilt, rs, 7, s.height.cols,
                      s.height.rows);
}

}  // namespace

TEST(Random, StreamsAreReproducibleAndSeedsIndependent) {
  Rng a(42), b(42), c(43);
  for (int k = 0; k < 100; ++k) {
    const auto x = a.next_u64();
    EXPECT_EQ(x, b.next_u64());
    EXPECT_NE(x, c.next_u64());
  }
  EXPECT_NE(derive_seed(1, "aaa", 0), derive_seed(1, "aaa", 1));
  EXPECT_NE(derive_seed(1, "aaa", 0), derive_seed(1, "aab", 0));
  EXPECT_NE(derive_seed(1, "aaa", 0), derive_seed(2, "aaa", 0));
}

TEST(Random, NormalHasUnitMoments) {
  Rng r(5);
  const int n = 200000;
  double s1 = 0, s2 = 0, s4 = 0;
  for (int k = 0; k < n; ++k) {
    const double x = r.normal();
    s1 += x;
    s2 += x * x;
    s4 += x * x * x * x;
  }
  EXPECT_NEAR(s1 / n, 0.0, 0.01);
  EXPECT_NEAR(s2 / n, 1.0, 0.02);
  EXPECT_NEAR(s4 / n, 3.0, 0.1);  // Gaussian kurtosis, not just any unit-variance law
}

TEST(Fft, CosineLandsInItsTwoBinsAndInverseRestores) {
  const int n = 64;
  std::vector<Complex> a(n);
  for (int k = 0; k < n; ++k) a[k] = std::cos(2 * 3.141592653589793 * 5 * k / n);
  const auto orig = a;
  fft(a, false);
  for (int k = 0; k < n; ++k)
    EXPECT_NEAR(std::abs(a[k]), (k == 5 || k == n - 5) ? n / 2.0 : 0.0, 1e-9);
  fft(a, true);
  for (int k = 0; k < n; ++k) EXPECT_NEAR(std::abs(a[k] - orig[k]), 0.0, 1e-12);
  EXPECT_EQ(next_pow2(200), 256);
  EXPECT_EQ(next_pow2(256), 256);
  std::vector<Complex> bad(12);
  EXPECT_THROW(fft(bad, false), std::invalid_argument);
}

TEST(Spectral, ExpectedScaleAndSlopeMatchTheSample) {
  // A band-pass field has many independent features, so one realisation's
  // statistics sit close to the expectations the synthesis scales by.
  double slope = 0.0;
  const Grid g = bandpass_field(128, 3, 8.0, 0.3, &slope);
  double var = 0.0;
  for (double x : g.v) var += x * x;
  EXPECT_NEAR(std::sqrt(var / g.size()), 1.0, 0.05);
  EXPECT_NEAR(rms_slope(g), slope, 0.05 * slope);
  // A unit-variance isotropic field at a single period P has rms slope
  // 2 pi / P; the band around P = 8 comes close.
  EXPECT_NEAR(slope, 2 * kPi / 8, 0.15 * 2 * kPi / 8);
}

TEST(Rendering, LightVectorFollowsImageAxes) {
  const auto right = light_vector(45, 0), bottom = light_vector(45, 90);
  EXPECT_NEAR(right[0], std::sqrt(0.5), 1e-12);
  EXPECT_NEAR(right[1], 0.0, 1e-12);
  EXPECT_NEAR(bottom[0], 0.0, 1e-12);
  EXPECT_NEAR(bottom[1], std::sqrt(0.5), 1e-12);  // +y is down the picture
  EXPECT_NEAR(bottom[2], std::sqrt(0.5), 1e-12);
}

TEST(Rendering, FlatSurfaceGivesUniformExpectedGrey) {
  const ReliefSample s = flat_surface(32, 0.8);
  for (double slant : {0.0, 30.0, 45.0, 70.0}) {
    for (double tilt : {0.0, 90.0, 210.0, 330.0}) {
      const Image8 img = render(s, slant, tilt);
      const int expected = static_cast<int>(std::lround(220.0 * 0.8 * std::cos(slant * kPi / 180)));
      for (auto p : img.pixels) ASSERT_EQ(p, expected) << "slant " << slant << " tilt " << tilt;
    }
  }
}

TEST(Rendering, SensorNoiseIsMildAndUnbiased) {
  const ReliefSample s = flat_surface(128, 0.8);
  RenderSettings rs;  // default noise
  const Image8 img = render(s, 45, 0, rs);
  double m = 0, v = 0;
  for (auto p : img.pixels) m += p;
  m /= img.pixels.size();
  for (auto p : img.pixels) v += (p - m) * (p - m);
  const double sd = std::sqrt(v / img.pixels.size());
  EXPECT_NEAR(m, 220.0 * 0.8 * std::sqrt(0.5), 0.05);
  EXPECT_GT(sd, 1.0);
  EXPECT_LT(sd, 2.0);
}

TEST(Rendering, SlopesFacingTheLightAreBrighter) {
  // h = 4 sin(2 pi j / 64): at j = 0 the surface rises to the right, so its
  // normal leans left, towards a light at tilt 180; at j = 32 the opposite.
  const int n = 64;
  ReliefSample s = flat_surface(n, 0.8);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) s.height.at(i, j) = 4.0 * std::sin(2 * kPi * j / n);
  RenderSettings rs = noiseless();
  rs.cast_shadows = false;
  const Image8 from_left = render(s, 45, 180, rs), from_right = render(s, 45, 0, rs);
  EXPECT_GT(from_left.at(10, 0), from_right.at(10, 0) + 30);
  EXPECT_LT(from_left.at(10, 32), from_right.at(10, 32) - 30);
  // The same along the rows: a light from the bottom (tilt 90) favours
  // slopes that rise upwards.
  ReliefSample t = flat_surface(n, 0.8);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) t.height.at(i, j) = 4.0 * std::sin(2 * kPi * i / n);
  const Image8 from_bottom = render(t, 45, 90, rs), from_top = render(t, 45, 270, rs);
  EXPECT_LT(from_bottom.at(0, 10), from_top.at(0, 10) - 30);
  EXPECT_GT(from_bottom.at(32, 10), from_top.at(32, 10) + 30);
}

// A 20-pixel-tall square block in the middle of a flat 256 x 256 field.
class StepShadow : public ::testing::Test {
 protected:
  void SetUp() override {
    s = flat_surface(256, 0.8);
    for (int i = 100; i < 156; ++i)
      for (int j = 100; j < 156; ++j) s.height.at(i, j) = 20.0;
  }
  ReliefSample s;
  const int lit = static_cast<int>(std::lround(220.0 * 0.8 * std::sqrt(0.5)));
};

TEST_F(StepShadow, ShadowFallsAwayFromTheLight) {
  const Image8 right = render(s, 45, 0);  // light from the right
  EXPECT_EQ(right.at(128, 90), 0);        // left of the block
  EXPECT_EQ(right.at(128, 170), lit);     // right of the block
  EXPECT_EQ(right.at(128, 128), lit);     // block top
  const Image8 left = render(s, 45, 180);
  EXPECT_EQ(left.at(128, 90), lit);
  EXPECT_EQ(left.at(128, 165), 0);
  const Image8 bottom = render(s, 45, 90);  // light from the bottom: shadow above
  EXPECT_EQ(bottom.at(90, 128), 0);
  EXPECT_EQ(bottom.at(170, 128), lit);
}

TEST_F(StepShadow, ShadowLengthIsHeightTimesTanSlant) {
  // 20 px at slant 45, 34.6 px at slant 60.
  const Image8 a = render(s, 45, 0), b = render(s, 60, 0);
  EXPECT_EQ(a.at(128, 100 - 18), 0);
  EXPECT_NE(a.at(128, 100 - 23), 0);
  EXPECT_EQ(b.at(128, 100 - 32), 0);
  EXPECT_NE(b.at(128, 100 - 38), 0);
  const Image8 overhead = render(s, 0, 0);
  EXPECT_NE(overhead.at(128, 95), 0);
}

TEST_F(StepShadow, ObliqueLightCastsAlongItsDirection) {
  // Light at tilt 30 (from the right and below): the shadow runs up and left
  // from the block's top-left corner region, along (-cos 30, -sin 30).
  const auto mask = cast_shadow_mask(s.height, 45, 30);
  auto shadowed = [&](double i, double j) {
    return mask[static_cast<std::size_t>(std::lround(i)) * 256 + std::lround(j)] != 0;
  };
  const double c = std::cos(kPi / 6), sn = std::sin(kPi / 6);
  EXPECT_TRUE(shadowed(128 - 10 * sn, 99 - 10 * c));    // 10 px back from the left face
  EXPECT_FALSE(shadowed(128 - 25 * sn, 99 - 25 * c));   // beyond the 20 px shadow
  EXPECT_FALSE(shadowed(128 + 10 * sn, 157 + 10 * c));  // on the lit side
  // Also one steep enough to sweep along the rows (tilt 250: from above).
  const auto up = cast_shadow_mask(s.height, 45, 250);
  EXPECT_NE(up[static_cast<std::size_t>(160) * 256 + 130], 0);
  EXPECT_EQ(up[static_cast<std::size_t>(90) * 256 + 130], 0);
}

TEST(SurfaceClasses, TableHasTheTwentyNamesInOrder) {
  const char* names[] = {"aaa", "aab", "aaj", "aam", "aan", "aao", "aar", "aas", "aba", "abj",
                         "abk", "acc", "acd", "ace", "adb", "adc", "add", "ade", "adg", "adh"};
  const auto& t = surface_classes();
  ASSERT_EQ(t.size(), 20u);
  for (int k = 0; k < 20; ++k) {
    EXPECT_EQ(t[k].name, names[k]);
    EXPECT_EQ(find_surface_class(names[k]), &t[k]);
  }
  EXPECT_EQ(find_surface_class("zzz"), nullptr);
}

TEST(SurfaceClasses, SynthesisIsReproducibleAndMeetsTheRecipe) {
  for (const auto& c : surface_classes()) {
    const ReliefSample a = synthesize_surface(c, 64, 11), b = synthesize_surface(c, 64, 11);
    const ReliefSample d = synthesize_surface(c, 64, 12);
    EXPECT_EQ(a.height.v, b.height.v) << c.name;
    EXPECT_EQ(a.albedo.v, b.albedo.v) << c.name;
    EXPECT_NE(a.height.v, d.height.v) << c.name;
    const double want = std::sqrt(c.slope * c.slope + c.detail_slope * c.detail_slope);
    EXPECT_NEAR(rms_slope(a.height), want, 0.25 * want) << c.name;
    for (double x : a.albedo.v) ASSERT_TRUE(x > 0.0 && x <= 1.0) << c.name;
  }
}

TEST(SurfaceClasses, FieldsAreSeamlessAcrossTheWrap) {
  // Shading and shadows treat the grid as periodic, so the last column must
  // continue into the first (and the last row into the first) like any two
  // neighbours do.
  const int n = 128;
  for (const auto& c : surface_classes()) {
    const Grid h = synthesize_surface(c, n, 5).height;
    double inner_x = 0, inner_y = 0, wrap_x = 0, wrap_y = 0;
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j + 1 < n; ++j) {
        inner_x += std::fabs(h.at(i, j + 1) - h.at(i, j));
        inner_y += std::fabs(h.at(j + 1, i) - h.at(j, i));
      }
      wrap_x += std::fabs(h.at(i, 0) - h.at(i, n - 1));
      wrap_y += std::fabs(h.at(0, i) - h.at(n - 1, i));
    }
    EXPECT_LT(wrap_x / n, 2.0 * inner_x / (n * (n - 1.0))) << c.name;
    EXPECT_LT(wrap_y / n, 2.0 * inner_y / (n * (n - 1.0))) << c.name;
  }
}

TEST(HeightField, BumpCoverageFollowsPoissonPlacement) {
  BumpParams p;
  p.radius = 5;
  p.spread = 0.0;
  p.coverage = 0.5;
  Grid feature;
  const Grid h = bump_field(256, 3, p, &feature);
  int covered = 0;
  for (std::size_t k = 0; k < h.size(); ++k) {
    covered += h.v[k] > 0.0;
    if (h.v[k] > 0.0) {
      ASSERT_NE(feature.v[k], 0.0);
    }
  }
  // Randomly placed discs covering 0.5 of the area on average leave
  // exp(-0.5) of it bare.
  EXPECT_NEAR(covered / double(h.size()), 1.0 - std::exp(-0.5), 0.03);
  p.pits = true;
  const Grid pits = bump_field(256, 3, p, nullptr);
  for (double x : pits.v) ASSERT_LE(x, 0.0);
}

namespace {

// Variances of horizontal and vertical pixel differences at lags 1 and 4 in
// the images lit from the right and from the bottom: a crude texture
// signature that depends on roughness, scale and orientation.
std::vector<double> signature(const std::string& name, int set) {
  DataSetSpec spec = default_data_set_spec();
  spec.width = spec.height = 128;
  spec.slants = {45};
  spec.tilts = {0, 90};
  spec.render.direction_jitter_deg = 0.0;  // compare the surfaces, not the lamp
  spec.render.intensity_jitter = 0.0;
  const auto imgs = render_set(spec, name, set);
  std::vector<double> sig;
  for (const auto& img : imgs) {
    for (int k = 0; k < 4; ++k) {
      const int axis = k % 2, lag = k < 2 ? 1 : 4;
      double s = 0, s2 = 0;
      int n = 0;
      for (int i = 0; i + lag < img.height; ++i)
        for (int j = 0; j + lag < img.width; ++j) {
          const double d =
              axis == 0 ? img.at(i, j + lag) - img.at(i, j) : img.at(i + lag, j) - img.at(i, j);
          s += d;
          s2 += d * d;
          ++n;
        }
      sig.push_back(s2 / n - (s / n) * (s / n));
    }
  }
  return sig;
}

double log_distance(const std::vector<double>& a, const std::vector<double>& b) {
  double d = 0;
  for (std::size_t k = 0; k < a.size(); ++k) d = std::max(d, std::fabs(std::log(a[k] / b[k])));
  return d;
}

}  // namespace

TEST(SurfaceClasses, SetsShareStatisticsWhileClassesDiffer) {
  const std::vector<std::string> names = {"aab", "aam", "aar", "aas", "add", "adh"};
  std::vector<std::vector<double>> first;
  for (const auto& n : names) {
    const auto s0 = signature(n, 0), s1 = signature(n, 1);
    EXPECT_LT(log_distance(s0, s1), 0.25) << n;  // within about 28%
    first.push_back(s0);
  }
  for (std::size_t a = 0; a < names.size(); ++a)
    for (std::size_t b = a + 1; b < names.size(); ++b)
      EXPECT_GT(log_distance(first[a], first[b]), 0.45) << names[a] << " vs " << names[b];
}
