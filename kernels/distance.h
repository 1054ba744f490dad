// The distance scans over many light vectors: the inner loop of both
// programs.
//
// The light vectors are given by their six quadratic terms (quadratic_terms
// below) in six arrays of `stride` doubles each ("terms"):
// terms[c * stride + k] is term c of light k. Every distance here is formed
// exactly as delta forms it: the prediction as the matrix library's inner
// product (from 0, terms 0 to 5 in turn), then ((pred - D) - mu) / sigma
// squared and summed over the filters in order, so its square root is delta
// to the last bit. The AVX2 versions work on four lights at a time, the
// 512-bit ones (wide.h) on eight; each runs on its kernel path
// (kernel_path.h), the loops here on the portable one.
#ifndef TI_DISTANCE_H
#define TI_DISTANCE_H

#include <cstddef>
#include <vector>

#include "meschach.h"

// The six quadratic terms of L = (x, y, z) in the order of a row of P:
// x x, (x + x) y, (x + x) z, y y, (y + y) z, z z.
void quadratic_terms(const VEC* L, double q[6]);

// The square of delta at a light vector whose quadratic terms are q, with
// the prediction formed in place in delta's order of operations (the matrix
// library's inner product: from 0, terms 0 to 5 in turn), so that its square
// root is delta to the last bit. P holds F rows of 6 coefficients.
inline double squared_delta(const double q[6], double const* const* P, const double* D,
                            const double* mu, const double* sigma, unsigned int F) {
  double res = 0.0;
  for (unsigned int f = 0; f < F; f++) {
    const double* p = P[f];
    double pred = 0.0;
    pred += p[0] * q[0];
    pred += p[1] * q[1];
    pred += p[2] * q[2];
    pred += p[3] * q[3];
    pred += p[4] * q[4];
    pred += p[5] * q[5];
    const double tmp = ((pred - D[f]) - mu[f]) / sigma[f];
    res = res + tmp * tmp;
  }
  return res;
}

// The terms of K light vectors, with `stride` the multiple of 8 at or above K
// (the padding repeats the last light), so that the scans of four and of
// eight lights to a vector both take whole vectors.
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
