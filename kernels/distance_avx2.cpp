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

// One filter's term of delta for four lights at a time.
//
// delta starts each prediction and the sum over filters from 0. Here the
// first product and the first filter's square are taken as they are: 0 + x
// is x except for x = -0, and a -0 can only make the prediction a zero of
// the other sign, which the differences and the square then lose (a zero
// prediction gives -D, or a zero, whose square is +0), while a square is
// never -0. The bits are delta's, with two additions fewer.
struct FilterTerm {
  __m256d p0, p1, p2, p3, p4, p5, d, m, s;
  FilterTerm(const MAT* P, unsigned int f, const double* D, const double* mu, const double* sigma) {
    const double* p = P->me[f];
    p0 = _mm256_broadcast_sd(p + 0);
    p1 = _mm256_broadcast_sd(p + 1);
    p2 = _mm256_broadcast_sd(p + 2);
    p3 = _mm256_broadcast_sd(p + 3);
    p4 = _mm256_broadcast_sd(p + 4);
    p5 = _mm256_broadcast_sd(p + 5);
    d = _mm256_broadcast_sd(D + f);
    m = _mm256_broadcast_sd(mu + f);
    s = _mm256_broadcast_sd(sigma + f);
  }
  // tmp * tmp for the lights at t[c] + b, t[c] the six term arrays.
  __m256d squared(const double* const* t, size_t b) const {
    __m256d pred = _mm256_mul_pd(p0, _mm256_loadu_pd(t[0] + b));
    pred = _mm256_add_pd(pred, _mm256_mul_pd(p1, _mm256_loadu_pd(t[1] + b)));
    pred = _mm256_add_pd(pred, _mm256_mul_pd(p2, _mm256_loadu_pd(t[2] + b)));
    pred = _mm256_add_pd(pred, _mm256_mul_pd(p3, _mm256_loadu_pd(t[3] + b)));
    pred = _mm256_add_pd(pred, _mm256_mul_pd(p4, _mm256_loadu_pd(t[4] + b)));
    pred = _mm256_add_pd(pred, _mm256_mul_pd(p5, _mm256_loadu_pd(t[5] + b)));
    const __m256d tmp = _mm256_div_pd(_mm256_sub_pd(_mm256_sub_pd(pred, d), m), s);
    return _mm256_mul_pd(tmp, tmp);
  }
  // The same for the lights at b and b + 4, the two computations written
  // side by side so that the processor's queues hold both chains at once.
  void squared2(const double* const* t, size_t b, __m256d& first, __m256d& second) const {
    __m256d u = _mm256_mul_pd(p0, _mm256_loadu_pd(t[0] + b));
    __m256d v = _mm256_mul_pd(p0, _mm256_loadu_pd(t[0] + b + 4));
    u = _mm256_add_pd(u, _mm256_mul_pd(p1, _mm256_loadu_pd(t[1] + b)));
    v = _mm256_add_pd(v, _mm256_mul_pd(p1, _mm256_loadu_pd(t[1] + b + 4)));
    u = _mm256_add_pd(u, _mm256_mul_pd(p2, _mm256_loadu_pd(t[2] + b)));
    v = _mm256_add_pd(v, _mm256_mul_pd(p2, _mm256_loadu_pd(t[2] + b + 4)));
    u = _mm256_add_pd(u, _mm256_mul_pd(p3, _mm256_loadu_pd(t[3] + b)));
    v = _mm256_add_pd(v, _mm256_mul_pd(p3, _mm256_loadu_pd(t[3] + b + 4)));
    u = _mm256_add_pd(u, _mm256_mul_pd(p4, _mm256_loadu_pd(t[4] + b)));
    v = _mm256_add_pd(v, _mm256_mul_pd(p4, _mm256_loadu_pd(t[4] + b + 4)));
    u = _mm256_add_pd(u, _mm256_mul_pd(p5, _mm256_loadu_pd(t[5] + b)));
    v = _mm256_add_pd(v, _mm256_mul_pd(p5, _mm256_loadu_pd(t[5] + b + 4)));
    u = _mm256_div_pd(_mm256_sub_pd(_mm256_sub_pd(u, d), m), s);
    v = _mm256_div_pd(_mm256_sub_pd(_mm256_sub_pd(v, d), m), s);
    first = _mm256_mul_pd(u, u);
    second = _mm256_mul_pd(v, v);
  }
};

// The six term arrays from light k0 on.
struct TermRows {
  const double* t[6];
  TermRows(const LightTerms& lights, size_t k0) {
    for (int c = 0; c < 6; c++) t[c] = lights.terms.data() + c * lights.stride + k0;
  }
};

// The sums over filters 0 .. last-1 (last >= 1) of the lights k0 .. k0 + n - 1
// (n a multiple of 4, at most kTile) into out[0 .. n-1], in delta's order.
inline void partial_sums(const LightTerms& lights, size_t k0, size_t n, unsigned int last,
                         const MAT* P, const double* D, const double* mu, const double* sigma,
                         double* out) {
  const TermRows rows(lights, k0);
  const FilterTerm first(P, 0, D, mu, sigma);
  size_t b = 0;
  for (; b + 8 <= n; b += 8) {
    __m256d u, v;
    first.squared2(rows.t, b, u, v);
    _mm256_storeu_pd(out + b, u);
    _mm256_storeu_pd(out + b + 4, v);
  }
  if (b < n) _mm256_storeu_pd(out + b, first.squared(rows.t, b));
  for (unsigned int f = 1; f < last; f++) {
    const FilterTerm term(P, f, D, mu, sigma);
    for (b = 0; b + 8 <= n; b += 8) {
      __m256d u, v;
      term.squared2(rows.t, b, u, v);
      _mm256_storeu_pd(out + b, _mm256_add_pd(_mm256_loadu_pd(out + b), u));
      _mm256_storeu_pd(out + b + 4, _mm256_add_pd(_mm256_loadu_pd(out + b + 4), v));
    }
    if (b < n)
      _mm256_storeu_pd(out + b, _mm256_add_pd(_mm256_loadu_pd(out + b), term.squared(rows.t, b)));
  }
}

// The squared deltas of all lights, four at a time in order, the last
// filter's term added as each group is used, not stored first: with kMin,
// the smallest of each lane returned (replaced only by a strictly smaller
// value, so not-a-number values never enter; the padding repeats the last
// light and changes no minimum); without, the deltas written to out[0 .. K-1].
template <bool kMin>
inline __m256d scan(const LightTerms& lights, const MAT* P, const double* D, const double* mu,
                    const double* sigma, double* out) {
  // Two minima, of the even and the odd groups of four, so that the chain
  // of comparisons is half as long; the minimum of a set is the same however
  // it is split.
  __m256d best[2];
  best[0] = best[1] = _mm256_set1_pd(std::numeric_limits<double>::infinity());
  const auto use = [&](size_t b, __m256d squared) {
    if (kMin) {
      __m256d& m = best[(b >> 2) & 1];
      m = _mm256_blendv_pd(m, squared, _mm256_cmp_pd(squared, m, _CMP_LT_OQ));
    } else {
      alignas(32) double four[4];
      _mm256_store_pd(four, _mm256_sqrt_pd(squared));
      for (size_t r = 0; r < 4 && b + r < lights.K; r++) out[b + r] = four[r];
    }
  };
  const unsigned int F = P->m;
  if (F == 0) {  // an empty sum
    for (size_t b = 0; b < lights.stride; b += 4) use(b, _mm256_setzero_pd());
    return _mm256_min_pd(best[0], best[1]);
  }
  const FilterTerm last(P, F - 1, D, mu, sigma);
  if (F == 1) {
    const TermRows rows(lights, 0);
    size_t b = 0;
    for (; b + 8 <= lights.stride; b += 8) {
      __m256d first, second;
      last.squared2(rows.t, b, first, second);
      use(b, first);
      use(b + 4, second);
    }
    if (b < lights.stride) use(b, last.squared(rows.t, b));
    return _mm256_min_pd(best[0], best[1]);
  }
  alignas(32) double tile[kTile];
  for (size_t k0 = 0; k0 < lights.stride; k0 += kTile) {
    const size_t n = lights.stride - k0 < kTile ? lights.stride - k0 : kTile;
    partial_sums(lights, k0, n, F - 1, P, D, mu, sigma, tile);
    const TermRows rows(lights, k0);
    size_t b = 0;
    for (; b + 8 <= n; b += 8) {
      __m256d u, v;
      last.squared2(rows.t, b, u, v);
      use(k0 + b, _mm256_add_pd(_mm256_load_pd(tile + b), u));
      use(k0 + b + 4, _mm256_add_pd(_mm256_load_pd(tile + b + 4), v));
    }
    if (b < n) use(k0 + b, _mm256_add_pd(_mm256_load_pd(tile + b), last.squared(rows.t, b)));
  }
  return _mm256_min_pd(best[0], best[1]);
}

}  // namespace

void deltas_avx2(const LightTerms& lights, const MAT* P, const double* D, const double* mu,
                 const double* sigma, double* out) {
  scan<false>(lights, P, D, mu, sigma, out);
}

double min_squared_delta_avx2(const LightTerms& lights, const MAT* P, const double* D,
                              const double* mu, const double* sigma) {
  const __m256d best = scan<true>(lights, P, D, mu, sigma, nullptr);
  // A scan from the first light keeps that light's value when it is not a
  // number; otherwise the result is the smallest value of all lanes.
  const double first = squared_delta_at(lights.terms.data(), lights.stride, 0, P, D, mu, sigma);
  if (std::isnan(first)) return first;
  double lanes[4];
  _mm256_storeu_pd(lanes, best);
  double m = first;
  for (double v : lanes)
    if (v < m) m = v;
  return m;
}
