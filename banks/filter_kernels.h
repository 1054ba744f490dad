// Kernels for texture filter banks, sampled at pixel centres on a square
// size x size grid centred on ((size-1)/2, (size-1)/2). The programs apply
// them by correlation, r(i, j) = sum_k sum_l w(k, l) x(i + k, j + l), never
// flipped as a convolution would, so the orientations below are those of the
// kernel as stored.
//
// Orientations are in degrees from the column axis (x, left to right) towards
// the row axis (y, downwards) and give the direction ACROSS the kernel's
// stripes: the direction of its wave vector or of its derivative. A kernel of
// orientation 0 has vertical stripes and responds most to intensity changing
// from left to right.
#pragma once

#include <string>
#include <vector>

namespace gen {

struct Kernel {
  std::string name;
  int size = 0;
  std::vector<double> w;  // size * size, row-major

  double at(int i, int j) const { return w[static_cast<std::size_t>(i) * size + j]; }
};

void subtract_mean(Kernel& k);

// Gabor kernel: circular Gaussian envelope of standard deviation `sigma`
// times cos (even) or sin (odd) of 2 pi u / wavelength, u the coordinate
// along the orientation. Zero mean.
Kernel gabor_kernel(int size, double wavelength, double sigma, double orient_deg, bool odd);

// Derivative (order 1 or 2) across the orientation of a Gaussian with
// standard deviation sigma across and elongation * sigma along. Zero mean.
Kernel gaussian_derivative_kernel(int size, double sigma, double elongation, double orient_deg,
                                  int order);

// Laplacian of Gaussian. Zero mean.
Kernel log_kernel(int size, double sigma);

// Gaussian smoothing kernel (not zero mean).
Kernel gaussian_kernel(int size, double sigma);

// Rotation-invariant kernel cos(pi tau r / sigma) exp(-r^2 / (2 sigma^2)).
// Zero mean.
Kernel schmid_kernel(int size, double sigma, int tau);

// Laws' 5 x 5 mask: outer product of 1-D mask `down` (along the rows, i.e.
// varying down the picture) and `across` (varying along the columns), each
// one of L5, E5, S5, R5, W5. Centred in a size x size kernel (size >= 5).
// Throws std::invalid_argument for an unknown mask name.
Kernel laws_kernel(int size, const std::string& down, const std::string& across);

// The five 1-D masks' names in their conventional order.
const std::vector<std::string>& laws_mask_names();

}  // namespace gen
