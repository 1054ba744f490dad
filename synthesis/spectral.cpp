#include "spectral.h"

#include <cmath>

#include "fft.h"
#include "numeric.h"
#include "rng.h"

namespace gen {

namespace {

double frequency(int k, int n) { return static_cast<double>(k <= n / 2 ? k : k - n) / n; }

}  // namespace

Grid spectral_field(int n, std::uint64_t seed, const AmplitudeFn& amplitude,
                    double* expected_rms_slope) {
  Rng rng(seed);
  std::vector<Complex> a(static_cast<std::size_t>(n) * n);
  for (auto& c : a) c = Complex(rng.normal(), 0.0);
  fft2d(a, n, false);
  // With unit white noise in, the output variance is mean(A^2), and that of a
  // central difference along x is mean(A^2 sin^2(2 pi fx)).
  double power = 0.0, slope_power = 0.0;
  for (int ky = 0; ky < n; ++ky) {
    const double fy = frequency(ky, n);
    const double sy = std::sin(2.0 * kPi * fy);
    for (int kx = 0; kx < n; ++kx) {
      const double fx = frequency(kx, n);
      const double sx = std::sin(2.0 * kPi * fx);
      const double amp = (kx == 0 && ky == 0) ? 0.0 : amplitude(fx, fy);
      a[static_cast<std::size_t>(ky) * n + kx] *= amp;
      power += amp * amp;
      slope_power += amp * amp * (sx * sx + sy * sy);
    }
  }
  fft2d(a, n, true);
  Grid g(n, n);
  if (!(power > 0.0)) {
    if (expected_rms_slope) *expected_rms_slope = 0.0;
    return g;
  }
  const double scale = 1.0 / std::sqrt(power / (static_cast<double>(n) * n));
  for (std::size_t i = 0; i < g.size(); ++i) g.v[i] = a[i].real() * scale;
  if (expected_rms_slope) *expected_rms_slope = std::sqrt(slope_power / power);
  return g;
}

Grid fractal_field(int n, std::uint64_t seed, double beta, double anisotropy, double grain_deg,
                   double cutoff, double* expected_rms_slope) {
  const double c = std::cos(deg_to_rad(grain_deg));
  const double s = std::sin(deg_to_rad(grain_deg));
  const double f0 = 2.0 / n;
  return spectral_field(
      n, seed,
      [=](double fx, double fy) {
        const double along = fx * c + fy * s;
        const double across = -fx * s + fy * c;
        const double fa2 = anisotropy * anisotropy * along * along + across * across;
        const double f2 = fx * fx + fy * fy;
        return std::pow(fa2 + f0 * f0, -beta / 4.0) * std::exp(-f2 / (cutoff * cutoff));
      },
      expected_rms_slope);
}

Grid bandpass_field(int n, std::uint64_t seed, double period, double rel_width,
                    double* expected_rms_slope) {
  const double fc = 1.0 / period;
  const double w = rel_width * fc;
  return spectral_field(
      n, seed,
      [=](double fx, double fy) {
        const double d = (std::sqrt(fx * fx + fy * fy) - fc) / w;
        return std::exp(-0.5 * d * d);
      },
      expected_rms_slope);
}

}  // namespace gen
