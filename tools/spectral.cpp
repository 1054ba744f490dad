#include "spectral.h"

#include <cmath>

#include "fft.h"
#include "numeric.h"
#include "rng.h"

namespace gen {

namespace {

double frequency(int k, int n) { return static_cast<double>(k <= n / 2 ? k : k - n) / n; }

void normalise(Grid& g) {
  double mean = 0.0;
  for (double x : g.v) mean += x;
  mean /= static_cast<double>(g.size());
  double var = 0.0;
  for (double& x : g.v) {
    x -= mean;
    var += x * x;
  }
  var /= static_cast<double>(g.size());
  const double sd = std::sqrt(var);
  if (sd <= 1e-300) {
    for (double& x : g.v) x = 0.0;
    return;
  }
  for (double& x : g.v) x /= sd;
}

}  // namespace

Grid spectral_field(int n, std::uint64_t seed, const AmplitudeFn& amplitude) {
  Rng rng(seed);
  std::vector<Complex> a(static_cast<std::size_t>(n) * n);
  for (auto& c : a) c = Complex(rng.normal(), 0.0);
  fft2d(a, n, false);
  for (int ky = 0; ky < n; ++ky) {
    const double fy = frequency(ky, n);
    for (int kx = 0; kx < n; ++kx) {
      const double fx = frequency(kx, n);
      const double amp = (kx == 0 && ky == 0) ? 0.0 : amplitude(fx, fy);
      a[static_cast<std::size_t>(ky) * n + kx] *= amp;
    }
  }
  fft2d(a, n, true);
  Grid g(n, n);
  for (std::size_t i = 0; i < g.size(); ++i) g.v[i] = a[i].real();
  normalise(g);
  return g;
}

Grid fractal_field(int n, std::uint64_t seed, double beta, double anisotropy, double grain_deg,
                   double cutoff) {
  const double c = std::cos(deg_to_rad(grain_deg));
  const double s = std::sin(deg_to_rad(grain_deg));
  const double f0 = 2.0 / n;
  return spectral_field(n, seed, [=](double fx, double fy) {
    const double along = fx * c + fy * s;
    const double across = -fx * s + fy * c;
    const double fa2 = anisotropy * anisotropy * along * along + across * across;
    const double f2 = fx * fx + fy * fy;
    return std::pow(fa2 + f0 * f0, -beta / 4.0) * std::exp(-f2 / (cutoff * cutoff));
  });
}

Grid bandpass_field(int n, std::uint64_t seed, double period, double rel_width) {
  const double fc = 1.0 / period;
  const double w = rel_width * fc;
  return spectral_field(n, seed, [=](double fx, double fy) {
    const double d = (std::sqrt(fx * fx + fy * fy) - fc) / w;
    return std::exp(-0.5 * d * d);
  });
}

}  // namespace gen
