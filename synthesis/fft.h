// Radix-2 complex FFT, enough for spectral synthesis of height fields.
#pragma once

#include <complex>
#include <vector>

namespace gen {

using Complex = std::complex<double>;

// Smallest power of two >= n (n >= 1).
int next_pow2(int n);

// In-place transform of a power-of-two length sequence. The forward transform
// uses exp(-2 pi i k n / N); the inverse includes the 1/N factor.
void fft(std::vector<Complex>& a, bool inverse);

// In-place 2-D transform of an n x n row-major array (n a power of two).
void fft2d(std::vector<Complex>& a, int n, bool inverse);

}  // namespace gen
