// The 512-bit kernels: the response vector's groups of kernels, the model
// parameters' packed planes and the distance scans, eight lanes to a vector
// where the 256-bit kernels (correlation_avx2.cpp, distance_avx2.cpp) have
// four. One source (wide_kernels.inc, over the vector layer of vec8.h) is
// built twice: wide_avx512.cpp with -mavx512f (namespace wide_avx512, run on
// the avx512 path) and wide_emulated.cpp with -mavx2, each 512-bit vector
// a pair of 256-bit ones (namespace wide_emulated, run on the
// avx512-emulated path, which the tests take on any AVX2 processor). The
// functions below call the one of the process's path (kernel_path.h); call
// them only where have_wide_kernels().
//
// Every lane's sums are those of the 256-bit kernels and of the plain
// definitions, term for term and in the same order, with the same mean rule
// and the same passes (correlation.h: LaneMode, MeanRule and the unit's
// results), so that every path gives the same bits. The shapes where eight
// lanes do not gain stay on the 256-bit kernels: a bank's kernels past its
// last whole group of eight (and a bank of fewer than eight), lone
// correlations and the masked statistics.
#ifndef TI_WIDE_H
#define TI_WIDE_H

#include <cstddef>

#include "correlation.h"
#include "distance.h"
#include "kernel_path.h"

using WideUnit = LaneUnitOf<8>;

namespace wide_avx512 {
void lane_statistics(LaneMode mode, WideUnit* units, size_t count, unsigned int fm, unsigned int fn,
                     unsigned int rows, unsigned int cols, size_t stride, MeanRule rule);
void deltas(const LightTerms& lights, const MAT* P, const double* D, const double* mu,
            const double* sigma, double* out);
double min_squared_delta(const LightTerms& lights, const MAT* P, const double* D, const double* mu,
                         const double* sigma);
}  // namespace wide_avx512

namespace wide_emulated {
void lane_statistics(LaneMode mode, WideUnit* units, size_t count, unsigned int fm, unsigned int fn,
                     unsigned int rows, unsigned int cols, size_t stride, MeanRule rule);
void deltas(const LightTerms& lights, const MAT* P, const double* D, const double* mu,
            const double* sigma, double* out);
double min_squared_delta(const LightTerms& lights, const MAT* P, const double* D, const double* mu,
                         const double* sigma);
}  // namespace wide_emulated

// As lane_statistics_avx2 (correlation.h), eight lanes to a unit, for
// kKernels (coefficient (k, l) of lane b at coefficients[(k * fn + l) * 8 +
// b]) and kImages (element (i, j) of lane b at input[(i * stride + j) * 8 +
// b]) units; no kColumns unit. Safe in several threads at once.
inline void lane_statistics_wide(LaneMode mode, WideUnit* units, size_t count, unsigned int fm,
                                 unsigned int fn, unsigned int rows, unsigned int cols,
                                 size_t stride, MeanRule rule) {
  if (kernel_path() == KernelPath::kAvx512)
    wide_avx512::lane_statistics(mode, units, count, fm, fn, rows, cols, stride, rule);
  else
    wide_emulated::lane_statistics(mode, units, count, fm, fn, rows, cols, stride, rule);
}

// As deltas and min_squared_delta (distance.h), eight lights to a vector.
inline void deltas_wide(const LightTerms& lights, const MAT* P, const double* D, const double* mu,
                        const double* sigma, double* out) {
  if (kernel_path() == KernelPath::kAvx512)
    wide_avx512::deltas(lights, P, D, mu, sigma, out);
  else
    wide_emulated::deltas(lights, P, D, mu, sigma, out);
}
inline double min_squared_delta_wide(const LightTerms& lights, const MAT* P, const double* D,
                                     const double* mu, const double* sigma) {
  return kernel_path() == KernelPath::kAvx512
             ? wide_avx512::min_squared_delta(lights, P, D, mu, sigma)
             : wide_emulated::min_squared_delta(lights, P, D, mu, sigma);
}

#endif
