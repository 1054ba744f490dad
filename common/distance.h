// The distance scans over many light vectors: the inner loop of both
// programs.
//
// The light vectors are given by their six quadratic terms (quadratic_terms
// of class_surface.h) in six arrays of `stride` doubles each ("terms"):
// terms[c * stride + k] is term c of light k. Every distance here is formed
// exactly as delta forms it: the prediction as the matrix library's inner
// product (from 0, terms 0 to 5 in turn), then ((pred - D) - mu) / sigma
// squared and summed over the filters in order, so its square root is delta
// to the last bit. The AVX2 versions work on four lights at a time and are
// used where the processor has AVX2.
#ifndef TI_DISTANCE_H
#define TI_DISTANCE_H

#include <cstddef>
#include <vector>

#include "meschach.h"

// The terms of K light vectors, with `stride` the multiple of 4 at or above K
// (the padding repeats the last light).
struct LightTerms {
  size_t K = 0;
  size_t stride = 0;
  std::vector<double> terms;
};
LightTerms light_terms(VEC* const* L, size_t K);

// The square of delta at light k of the terms, written out for one light.
double squared_delta_at(const double* terms, size_t stride, size_t k, const MAT* P, const double* D,
                        const double* mu, const double* sigma);

// out[k] = delta at light k, for k < K.
void deltas(const LightTerms& lights, const MAT* P, const double* D, const double* mu,
            const double* sigma, double* out);

// The minimum over the K lights of the squared delta, with the first light's
// value kept when it is not a number (as a scan that replaces the current
// minimum only by a strictly smaller value does). K >= 1.
double min_squared_delta(const LightTerms& lights, const MAT* P, const double* D, const double* mu,
                         const double* sigma);

// The AVX2 versions (distance_avx2.cpp); call only where have_avx2().
void deltas_avx2(const LightTerms& lights, const MAT* P, const double* D, const double* mu,
                 const double* sigma, double* out);
double min_squared_delta_avx2(const LightTerms& lights, const MAT* P, const double* D,
                              const double* mu, const double* sigma);

#endif
