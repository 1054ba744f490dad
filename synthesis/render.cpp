#include "render.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "numeric.h"
#include "rng.h"
#include "surface_classes.h"

namespace gen {

std::array<double, 3> light_vector(double slant_deg, double tilt_deg) {
  const double s = deg_to_rad(slant_deg), t = deg_to_rad(tilt_deg);
  return {std::cos(t) * std::sin(s), std::sin(t) * std::sin(s), std::cos(s)};
}

Normals surface_normals(const Grid& h) {
  Normals n{Grid(h.rows, h.cols), Grid(h.rows, h.cols), Grid(h.rows, h.cols)};
  for (int i = 0; i < h.rows; ++i) {
    const int iu = wrap_index(i - 1, h.rows), id = wrap_index(i + 1, h.rows);
    for (int j = 0; j < h.cols; ++j) {
      const int jl = wrap_index(j - 1, h.cols), jr = wrap_index(j + 1, h.cols);
      const double gx = 0.5 * (h.at(i, jr) - h.at(i, jl));
      const double gy = 0.5 * (h.at(id, j) - h.at(iu, j));
      const double inv = 1.0 / std::sqrt(gx * gx + gy * gy + 1.0);
      n.nx.at(i, j) = -gx * inv;
      n.ny.at(i, j) = -gy * inv;
      n.nz.at(i, j) = inv;
    }
  }
  return n;
}

namespace {

Grid transpose(const Grid& g) {
  Grid t(g.cols, g.rows);
  for (int i = 0; i < g.rows; ++i)
    for (int j = 0; j < g.cols; ++j) t.at(j, i) = g.at(i, j);
  return t;
}

// Shadow horizon for a light whose horizontal direction (dx, dy) has
// |dx| >= |dy|: the ray steps one column at a time towards the light, dy/|dx|
// rows sideways, rising `rise` per column. T(i, j) is the highest value of
// "surface height minus ray height" seen from (i, j) onwards, including the
// point itself, so the point is shadowed when T > h. Columns are processed
// from the light side; the periodic wrap is handled by repeating laps until
// nothing changes.
Grid shadow_horizon(const Grid& h, double dx, double dy, double rise) {
  const int rows = h.rows, cols = h.cols;
  const int sj = dx >= 0.0 ? 1 : -1;
  const double di = dy / std::fabs(dx);
  const int i_off = static_cast<int>(std::floor(di));
  const double f = di - i_off;
  Grid t = h;
  double lo = h.v[0], hi = h.v[0];
  for (double x : h.v) {
    lo = std::min(lo, x);
    hi = std::max(hi, x);
  }
  // A shadow is at most (hi - lo) / rise columns long.
  const double reach = rise > 0.0 ? (hi - lo) / rise : 1e9;
  const int max_laps = static_cast<int>(std::min(64.0, 2.0 + std::ceil(reach / cols)));
  for (int lap = 0; lap < max_laps; ++lap) {
    bool changed = false;
    for (int step = 0; step < cols; ++step) {
      const int j = sj > 0 ? cols - 1 - step : step;
      const int jn = wrap_index(j + sj, cols);
      for (int i = 0; i < rows; ++i) {
        const int i0 = wrap_index(i + i_off, rows);
        const int i1 = wrap_index(i + i_off + 1, rows);
        const double beyond = (1.0 - f) * t.at(i0, jn) + f * t.at(i1, jn) - rise;
        double& cur = t.at(i, j);
        if (beyond > cur) {
          cur = beyond;
          changed = true;
        }
      }
    }
    if (!changed) break;
  }
  return t;
}

}  // namespace

std::vector<std::uint8_t> cast_shadow_mask(const Grid& h, double slant_deg, double tilt_deg) {
  std::vector<std::uint8_t> mask(h.size(), 0);
  const auto l = light_vector(slant_deg, tilt_deg);
  const double horiz = std::hypot(l[0], l[1]);
  if (horiz < 1e-9 || h.size() == 0) return mask;  // light overhead: no cast shadows
  const double dx = l[0] / horiz, dy = l[1] / horiz;
  const double cot = l[2] / horiz;  // ray rise per unit horizontal distance
  Grid t;
  if (std::fabs(dx) >= std::fabs(dy)) {
    t = shadow_horizon(h, dx, dy, cot / std::fabs(dx));
  } else {
    t = transpose(shadow_horizon(transpose(h), dy, dx, cot / std::fabs(dy)));
  }
  for (std::size_t k = 0; k < h.size(); ++k) mask[k] = t.v[k] > h.v[k] + 1e-7 ? 1 : 0;
  return mask;
}

Image8 render_image(const ReliefSample& s, const Normals& nrm, double slant_deg, double tilt_deg,
                    const RenderSettings& rs, std::uint64_t noise_seed, int width, int height,
                    double intensity) {
  const Grid& h = s.height;
  if (width <= 0 || height <= 0 || width > h.cols || height > h.rows || s.albedo.rows != h.rows ||
      s.albedo.cols != h.cols || nrm.nx.rows != h.rows || nrm.nx.cols != h.cols)
    throw std::invalid_argument("render_image: image larger than the surface, or sizes differ");
  const auto l = light_vector(slant_deg, tilt_deg);
  std::vector<std::uint8_t> shadow;
  if (rs.cast_shadows) shadow = cast_shadow_mask(h, slant_deg, tilt_deg);
  Rng rng(noise_seed);
  Image8 img(width, height);
  for (int i = 0; i < height; ++i) {
    for (int j = 0; j < width; ++j) {
      const std::size_t k = static_cast<std::size_t>(i) * h.cols + j;
      const double ndotl = nrm.nx.v[k] * l[0] + nrm.ny.v[k] * l[1] + nrm.nz.v[k] * l[2];
      const bool lit = shadow.empty() || shadow[k] == 0;
      const double radiance = s.albedo.v[k] * ((lit ? std::max(0.0, ndotl) : 0.0) + rs.ambient);
      double v = rs.exposure * intensity * radiance;
      if (rs.noise_sigma > 0.0) v += rs.noise_sigma * rng.normal();
      img.at(i, j) = static_cast<std::uint8_t>(std::clamp(std::floor(v + 0.5), 0.0, 255.0));
    }
  }
  return img;
}

}  // namespace gen
