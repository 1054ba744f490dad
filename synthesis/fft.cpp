#include "fft.h"

#include <cmath>
#include <stdexcept>
#include <utility>

#include "numeric.h"

namespace gen {

int next_pow2(int n) {
  int p = 1;
  while (p < n) p <<= 1;
  return p;
}

void fft(std::vector<Complex>& a, bool inverse) {
  const std::size_t n = a.size();
  if (n == 0 || (n & (n - 1)) != 0)
    throw std::invalid_argument("fft: length is not a power of two");
  // Bit-reversal permutation.
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const double ang = 2.0 * kPi / static_cast<double>(len) * (inverse ? 1.0 : -1.0);
    const std::size_t half = len / 2;
    for (std::size_t k = 0; k < half; ++k) {
      // Twiddles computed directly rather than by repeated multiplication,
      // which keeps the rounding error from growing with the length.
      const Complex w(std::cos(ang * static_cast<double>(k)),
                      std::sin(ang * static_cast<double>(k)));
      for (std::size_t i = k; i < n; i += len) {
        const Complex u = a[i];
        const Complex t = a[i + half] * w;
        a[i] = u + t;
        a[i + half] = u - t;
      }
    }
  }
  if (inverse) {
    const double s = 1.0 / static_cast<double>(n);
    for (auto& x : a) x *= s;
  }
}

void fft2d(std::vector<Complex>& a, int n, bool inverse) {
  if (n <= 0 || a.size() != static_cast<std::size_t>(n) * static_cast<std::size_t>(n))
    throw std::invalid_argument("fft2d: array is not n x n");
  std::vector<Complex> line(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) line[j] = a[static_cast<std::size_t>(i) * n + j];
    fft(line, inverse);
    for (int j = 0; j < n; ++j) a[static_cast<std::size_t>(i) * n + j] = line[j];
  }
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) line[i] = a[static_cast<std::size_t>(i) * n + j];
    fft(line, inverse);
    for (int i = 0; i < n; ++i) a[static_cast<std::size_t>(i) * n + j] = line[i];
  }
}

}  // namespace gen
