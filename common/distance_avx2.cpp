// The AVX2 distance scans. This file alone is compiled with -mavx2 (and
// without FMA: a fused multiply-add would change the last bits).
#include <immintrin.h>

#include <cmath>
#include <limits>

#include "distance.h"

namespace {

// Lights are scanned in tiles that stay in the first-level cache: for each
// filter in turn, every group of four lights of the tile adds its term to
// its running sums, so the groups are independent of each other and the
// processor overlaps them, while each light's sum still runs over the
// filters in order.
constexpr size_t kTile = 128;

// The squared deltas of the lights k0 .. k0 + n - 1 (n a multiple of 4, at
// most kTile) into out[0 .. n-1], in delta's order of operations.
inline void squared_deltas_tile(const double* terms, size_t stride, size_t k0, size_t n,
                                const MAT* P, const double* D, const double* mu,
                                const double* sigma, double* out) {
  for (size_t b = 0; b < n; b += 4) _mm256_storeu_pd(out + b, _mm256_setzero_pd());
  const double* t0 = terms + k0;
  const double* t1 = terms + stride + k0;
  const double* t2 = terms + 2 * stride + k0;
  const double* t3 = terms + 3 * stride + k0;
  const double* t4 = terms + 4 * stride + k0;
  const double* t5 = terms + 5 * stride + k0;
  for (unsigned int f = 0; f < P->m; f++) {
    const double* p = P->me[f];
    const __m256d p0 = _mm256_broadcast_sd(p + 0), p1 = _mm256_broadcast_sd(p + 1),
                  p2 = _mm256_broadcast_sd(p + 2), p3 = _mm256_broadcast_sd(p + 3),
                  p4 = _mm256_broadcast_sd(p + 4), p5 = _mm256_broadcast_sd(p + 5);
    const __m256d d = _mm256_broadcast_sd(D + f), m = _mm256_broadcast_sd(mu + f),
                  s = _mm256_broadcast_sd(sigma + f);
    for (size_t b = 0; b < n; b += 4) {
      __m256d pred = _mm256_setzero_pd();
      pred = _mm256_add_pd(pred, _mm256_mul_pd(p0, _mm256_loadu_pd(t0 + b)));
      pred = _mm256_add_pd(pred, _mm256_mul_pd(p1, _mm256_loadu_pd(t1 + b)));
      pred = _mm256_add_pd(pred, _mm256_mul_pd(p2, _mm256_loadu_pd(t2 + b)));
      pred = _mm256_add_pd(pred, _mm256_mul_pd(p3, _mm256_loadu_pd(t3 + b)));
      pred = _mm256_add_pd(pred, _mm256_mul_pd(p4, _mm256_loadu_pd(t4 + b)));
      pred = _mm256_add_pd(pred, _mm256_mul_pd(p5, _mm256_loadu_pd(t5 + b)));
      const __m256d tmp = _mm256_div_pd(_mm256_sub_pd(_mm256_sub_pd(pred, d), m), s);
      _mm256_storeu_pd(out + b, _mm256_add_pd(_mm256_loadu_pd(out + b), _mm256_mul_pd(tmp, tmp)));
    }
  }
}

}  // namespace

void deltas_avx2(const LightTerms& lights, const MAT* P, const double* D, const double* mu,
                 const double* sigma, double* out) {
  const double* terms = lights.terms.data();
  alignas(32) double tile[kTile];
  for (size_t k0 = 0; k0 < lights.stride; k0 += kTile) {
    const size_t n = lights.stride - k0 < kTile ? lights.stride - k0 : kTile;
    squared_deltas_tile(terms, lights.stride, k0, n, P, D, mu, sigma, tile);
    for (size_t b = 0; b < n; b += 4)
      _mm256_store_pd(tile + b, _mm256_sqrt_pd(_mm256_load_pd(tile + b)));
    for (size_t r = 0; r < n && k0 + r < lights.K; r++) out[k0 + r] = tile[r];
  }
}

double min_squared_delta_avx2(const LightTerms& lights, const MAT* P, const double* D,
                              const double* mu, const double* sigma) {
  const double* terms = lights.terms.data();
  alignas(32) double tile[kTile];
  // Each lane keeps the smallest of its lights, replaced only by a strictly
  // smaller value, so not-a-number values never enter; the padding repeats
  // the last light and changes no minimum.
  __m256d best = _mm256_set1_pd(std::numeric_limits<double>::infinity());
  double first = 0.0;
  for (size_t k0 = 0; k0 < lights.stride; k0 += kTile) {
    const size_t n = lights.stride - k0 < kTile ? lights.stride - k0 : kTile;
    squared_deltas_tile(terms, lights.stride, k0, n, P, D, mu, sigma, tile);
    if (k0 == 0) first = tile[0];
    for (size_t b = 0; b < n; b += 4) {
      const __m256d res = _mm256_load_pd(tile + b);
      best = _mm256_blendv_pd(best, res, _mm256_cmp_pd(res, best, _CMP_LT_OQ));
    }
  }
  // A scan from the first light keeps that light's value when it is not a
  // number; otherwise the result is the smallest value of all lanes.
  if (std::isnan(first)) return first;
  double lanes[4];
  _mm256_storeu_pd(lanes, best);
  double m = first;
  for (double v : lanes)
    if (v < m) m = v;
  return m;
}
