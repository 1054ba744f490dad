// Gaussian random fields with a prescribed spectrum, synthesised with the FFT
// on a periodic n x n grid (n a power of two).
#pragma once

#include <cstdint>
#include <functional>

#include "grid.h"

namespace gen {

// Amplitude (square root of the power spectrum) as a function of spatial
// frequency (fx along columns, fy along rows) in cycles per pixel.
using AmplitudeFn = std::function<double(double fx, double fy)>;

// White Gaussian noise filtered by `amplitude` (the DC term always removed),
// scaled so that its EXPECTED standard deviation is 1. Scaling by the
// expectation rather than by the sample keeps the fine-scale statistics of
// independent realisations alike: a sample normalisation would rescale the
// whole field by its own, randomly varying, large-scale content.
// *expected_rms_slope, if given, receives the expected rms slope of the
// result measured with central differences. Returns an all-zero grid if the
// filter passes nothing.
Grid spectral_field(int n, std::uint64_t seed, const AmplitudeFn& amplitude,
                    double* expected_rms_slope = nullptr);

// Fractal (1/f^beta power spectrum) field. anisotropy > 1 makes features
// longer along the grain direction (degrees from the column axis towards the
// row axis) by that factor. Frequencies well above `cutoff` (cycles/pixel)
// are rolled off so the field is smooth at the pixel scale; frequencies below
// about two cycles per field are flattened so the largest scale does not take
// all the variance.
Grid fractal_field(int n, std::uint64_t seed, double beta, double anisotropy = 1.0,
                   double grain_deg = 0.0, double cutoff = 0.3,
                   double* expected_rms_slope = nullptr);

// Isotropic band-pass field: a Gaussian ring of spectral energy centred on
// 1/period cycles per pixel with relative width rel_width.
Grid bandpass_field(int n, std::uint64_t seed, double period, double rel_width,
                    double* expected_rms_slope = nullptr);

}  // namespace gen
