#include "height_field.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "numeric.h"
#include "rng.h"
#include "spectral.h"

namespace gen {

double rms_slope(const Grid& h) {
  if (h.rows == 0 || h.cols == 0) return 0.0;
  double sum = 0.0;
  for (int i = 0; i < h.rows; ++i) {
    const int iu = wrap_index(i - 1, h.rows), id = wrap_index(i + 1, h.rows);
    for (int j = 0; j < h.cols; ++j) {
      const int jl = wrap_index(j - 1, h.cols), jr = wrap_index(j + 1, h.cols);
      const double gx = 0.5 * (h.at(i, jr) - h.at(i, jl));
      const double gy = 0.5 * (h.at(id, j) - h.at(iu, j));
      sum += gx * gx + gy * gy;
    }
  }
  return std::sqrt(sum / static_cast<double>(h.size()));
}

void scale_to_rms_slope(Grid& h, double target) {
  const double s = rms_slope(h);
  if (s <= 1e-12) return;
  const double k = target / s;
  for (double& x : h.v) x *= k;
}

Grid ridge_field(int n, std::uint64_t seed, double period, double grain_deg, RidgeProfile profile,
                 double wander) {
  // Ridges run along the grain, so the wave vector is perpendicular to it.
  const double a = deg_to_rad(grain_deg);
  int kx = static_cast<int>(std::lround(-std::sin(a) * n / period));
  int ky = static_cast<int>(std::lround(std::cos(a) * n / period));
  if (kx == 0 && ky == 0) ky = 1;
  Grid phase_noise;
  // Meanders about 48 pixels long: many per image, so that every
  // realisation sees the same spread of local ridge directions.
  if (wander > 0.0) phase_noise = bandpass_field(n, mix64(seed ^ 0x5249444745ull), 48.0, 0.5);
  Rng rng(seed);
  const double phase0 = rng.uniform(0.0, 2.0 * kPi);
  Grid h(n, n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      double ph = phase0 + 2.0 * kPi * static_cast<double>(kx * j + ky * i) / n;
      if (wander > 0.0) ph += wander * phase_noise.at(i, j);
      double v = 0.0;
      switch (profile) {
        case RidgeProfile::kSine:
          v = std::sin(ph);
          break;
        case RidgeProfile::kGroove:
          v = std::fabs(std::sin(0.5 * ph));
          break;
        case RidgeProfile::kRidge:
          v = -std::fabs(std::sin(0.5 * ph));
          break;
      }
      h.at(i, j) = v;
    }
  }
  return h;
}

Grid bump_field(int n, std::uint64_t seed, const BumpParams& p, Grid* feature) {
  Rng rng(seed);
  Grid h(n, n, 0.0);
  Grid owner_value(n, n, 0.0);
  const double r_mean = std::max(0.5, p.radius);
  const double expected = p.coverage * n * n / (kPi * r_mean * r_mean);
  const long count = std::max(1L, std::lround(expected));
  const double sign = p.pits ? -1.0 : 1.0;
  for (long b = 0; b < count; ++b) {
    const double ci = rng.uniform(0.0, n);
    const double cj = rng.uniform(0.0, n);
    const double r = r_mean * (1.0 + p.spread * rng.uniform(-1.0, 1.0));
    const double value = rng.uniform(-1.0, 1.0);
    const double reach = p.profile == BumpProfile::kCap ? r : 3.0 * r;
    const int lo_i = static_cast<int>(std::floor(ci - reach)),
              hi_i = static_cast<int>(std::ceil(ci + reach));
    const int lo_j = static_cast<int>(std::floor(cj - reach)),
              hi_j = static_cast<int>(std::ceil(cj + reach));
    for (int i = lo_i; i <= hi_i; ++i) {
      for (int j = lo_j; j <= hi_j; ++j) {
        const double di = i - ci, dj = j - cj;
        const double d2 = (di * di + dj * dj) / (r * r);
        double z;
        if (p.profile == BumpProfile::kCap) {
          if (d2 >= 1.0) continue;
          z = r * std::sqrt(1.0 - d2);
        } else {
          if (d2 >= 9.0) continue;
          z = r * std::exp(-0.5 * d2 * 4.0);  // sd = r / 2
        }
        z *= sign;
        const int wi = wrap_index(i, n), wj = wrap_index(j, n);
        double& cell = h.at(wi, wj);
        if (p.stack) {
          if (std::fabs(z) > 0.5 * std::fabs(cell)) owner_value.at(wi, wj) = value;
          cell += z;
        } else if (sign * z > sign * cell) {
          cell = z;
          owner_value.at(wi, wj) = value;
        }
      }
    }
  }
  if (feature) *feature = std::move(owner_value);
  return h;
}

Grid cell_field(int n, std::uint64_t seed, const CellParams& p, Grid* feature) {
  Rng rng(seed);
  const int g = std::max(1, static_cast<int>(std::lround(n / std::max(1.0, p.size))));
  const double cs = static_cast<double>(n) / g;
  struct Site {
    double y, x;    // position inside its grid cell, in pixels from the cell corner
    double value;   // per-cell random value
    double ta, tb;  // plate slope along columns and rows
  };
  std::vector<Site> sites(static_cast<std::size_t>(g) * g);
  for (auto& s : sites) {
    s.y = rng.uniform() * cs;
    s.x = rng.uniform() * cs;
    s.value = rng.uniform(-1.0, 1.0);
    s.ta = p.plate_tilt * rng.normal();
    s.tb = p.plate_tilt * rng.normal();
  }
  const double w = std::max(0.25, p.edge_width);
  Grid h(n, n);
  Grid val(n, n);
  for (int i = 0; i < n; ++i) {
    const int ci = std::min(g - 1, static_cast<int>(i / cs));
    for (int j = 0; j < n; ++j) {
      const int cj = std::min(g - 1, static_cast<int>(j / cs));
      double f1 = std::numeric_limits<double>::infinity(), f2 = f1;
      const Site* best = nullptr;
      double best_y = 0.0, best_x = 0.0;
      // Sites are unwrapped copies, so a small grid still gives the right
      // periodic Voronoi diagram.
      for (int di = -2; di <= 2; ++di) {
        for (int dj = -2; dj <= 2; ++dj) {
          const int gi = ci + di, gj = cj + dj;
          const Site& s =
              sites[static_cast<std::size_t>(wrap_index(gi, g)) * g + wrap_index(gj, g)];
          const double sy = gi * cs + s.y, sx = gj * cs + s.x;
          const double d = std::hypot(i - sy, j - sx);
          if (d < f1) {
            f2 = f1;
            f1 = d;
            best = &s;
            best_y = sy;
            best_x = sx;
          } else if (d < f2) {
            f2 = d;
          }
        }
      }
      const double edge = 1.0 - std::exp(-(f2 - f1) / w);
      double z = 0.0;
      if (p.style == CellStyle::kCobble) {
        z = 0.5 * cs * std::sqrt(edge);
      } else {
        z = best->ta * (j - best_x) + best->tb * (i - best_y) + 0.5 * w * edge;
      }
      h.at(i, j) = z;
      val.at(i, j) = best->value;
    }
  }
  if (feature) *feature = std::move(val);
  return h;
}

}  // namespace gen
