#include "filter_kernels.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <stdexcept>

#include "numeric.h"

namespace gen {

namespace {

std::string fmt(double x) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4g", x);
  return buf;
}

// Samples f(x, y) with x along the columns and y along the rows, both zero at
// the centre.
Kernel sample(int size, std::string name, const std::function<double(double, double)>& f) {
  Kernel k;
  k.name = std::move(name);
  k.size = size;
  k.w.resize(static_cast<std::size_t>(size) * size);
  const double c = 0.5 * (size - 1);
  for (int i = 0; i < size; ++i)
    for (int j = 0; j < size; ++j) k.w[static_cast<std::size_t>(i) * size + j] = f(j - c, i - c);
  return k;
}

const std::array<double, 5>& laws_mask(const std::string& name) {
  static const std::array<double, 5> l5{1, 4, 6, 4, 1}, e5{-1, -2, 0, 2, 1}, s5{-1, 0, 2, 0, -1},
      r5{1, -4, 6, -4, 1}, w5{-1, 2, 0, -2, 1};
  if (name == "L5") return l5;
  if (name == "E5") return e5;
  if (name == "S5") return s5;
  if (name == "R5") return r5;
  if (name == "W5") return w5;
  throw std::invalid_argument("unknown Laws mask '" + name + "'");
}

}  // namespace

void subtract_mean(Kernel& k) {
  if (k.w.empty()) return;
  double m = 0.0;
  for (double x : k.w) m += x;
  m /= static_cast<double>(k.w.size());
  double peak = 0.0;
  for (double& x : k.w) {
    x -= m;
    peak = std::max(peak, std::fabs(x));
  }
  // Clear rounding residue (e.g. the centre line of an odd kernel) so the
  // file shows exact zeros.
  for (double& x : k.w)
    if (std::fabs(x) < 1e-13 * peak) x = 0.0;
}

Kernel gabor_kernel(int size, double wavelength, double sigma, double orient_deg, bool odd) {
  const double c = std::cos(deg_to_rad(orient_deg)), s = std::sin(deg_to_rad(orient_deg));
  Kernel k = sample(size,
                    "gabor wavelength " + fmt(wavelength) + " sigma " + fmt(sigma) + " orient " +
                        fmt(orient_deg) + (odd ? " odd" : " even"),
                    [=](double x, double y) {
                      const double u = x * c + y * s;
                      const double env = std::exp(-(x * x + y * y) / (2.0 * sigma * sigma));
                      const double ph = 2.0 * kPi * u / wavelength;
                      return env * (odd ? std::sin(ph) : std::cos(ph));
                    });
  subtract_mean(k);
  return k;
}

Kernel gaussian_derivative_kernel(int size, double sigma, double elongation, double orient_deg,
                                  int order) {
  if (order != 1 && order != 2) throw std::invalid_argument("derivative order must be 1 or 2");
  const double c = std::cos(deg_to_rad(orient_deg)), s = std::sin(deg_to_rad(orient_deg));
  const double sa = sigma * elongation;
  Kernel k =
      sample(size,
             std::string("gaussian ") + (order == 1 ? "first" : "second") + " derivative sigma " +
                 fmt(sigma) + " elongation " + fmt(elongation) + " orient " + fmt(orient_deg),
             [=](double x, double y) {
               const double u = x * c + y * s;   // across: derivative direction
               const double v = -x * s + y * c;  // along
               const double g = std::exp(-u * u / (2.0 * sigma * sigma) - v * v / (2.0 * sa * sa));
               if (order == 1) return -u / (sigma * sigma) * g;
               return (u * u / (sigma * sigma) - 1.0) / (sigma * sigma) * g;
             });
  subtract_mean(k);
  return k;
}

Kernel log_kernel(int size, double sigma) {
  Kernel k = sample(size, "laplacian of gaussian sigma " + fmt(sigma), [=](double x, double y) {
    const double r2 = (x * x + y * y) / (sigma * sigma);
    return (r2 - 2.0) * std::exp(-0.5 * r2);
  });
  subtract_mean(k);
  return k;
}

Kernel gaussian_kernel(int size, double sigma) {
  return sample(size, "gaussian sigma " + fmt(sigma), [=](double x, double y) {
    return std::exp(-(x * x + y * y) / (2.0 * sigma * sigma));
  });
}

Kernel schmid_kernel(int size, double sigma, int tau) {
  Kernel k = sample(
      size, "schmid sigma " + fmt(sigma) + " tau " + std::to_string(tau), [=](double x, double y) {
        const double r = std::sqrt(x * x + y * y);
        return std::cos(kPi * tau * r / sigma) * std::exp(-r * r / (2.0 * sigma * sigma));
      });
  subtract_mean(k);
  return k;
}

const std::vector<std::string>& laws_mask_names() {
  static const std::vector<std::string> names{"L5", "E5", "S5", "R5", "W5"};
  return names;
}

Kernel laws_kernel(int size, const std::string& down, const std::string& across) {
  if (size < 5) throw std::invalid_argument("Laws masks need a size of at least 5");
  const auto& a = laws_mask(down);
  const auto& b = laws_mask(across);
  Kernel k;
  k.name = "laws " + down + " down x " + across + " across";
  k.size = size;
  k.w.assign(static_cast<std::size_t>(size) * size, 0.0);
  const int off = (size - 5) / 2;
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 5; ++j)
      k.w[static_cast<std::size_t>(i + off) * size + (j + off)] = a[i] * b[j];
  return k;
}

}  // namespace gen
