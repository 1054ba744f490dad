// The AVX2 correlation kernel. This file alone is compiled with -mavx2 (and
// without FMA: a fused multiply-add would change the last bits of a sum).
#include <immintrin.h>

#include "correlation.h"

namespace {

// Four output rows by V vectors of four columns (V = 1 or 2), from top-left
// output (i, j); `rows` of the four are stored (1 to 4). Every output has its
// own accumulator, summed from 0 with k outer and l inner: the definition's
// order. The loop runs over image rows s = i .. i + fm + 2: each vector of
// image row s is loaded once and serves every output row r that uses it,
// with kernel row k = s - r, so output row r still receives its terms in the
// order k = 0, 1, ... and l = 0, 1, ... The twelve accumulators are named
// variables and stay in registers.
template <int V>
inline void block(double const* const* f, unsigned int fm, unsigned int fn, double const* const* x,
                  unsigned int i, unsigned int j, double* out, size_t stride, int rows) {
  __m256d a00 = _mm256_setzero_pd(), a01 = a00, a02 = a00, a10 = a00, a11 = a00, a12 = a00,
          a20 = a00, a21 = a00, a22 = a00, a30 = a00, a31 = a00, a32 = a00;
#define TI_TERM(r, c)                                                   \
  do {                                                                  \
    a##r##0 = _mm256_add_pd(a##r##0, _mm256_mul_pd(c, x0));             \
    if (V >= 2) a##r##1 = _mm256_add_pd(a##r##1, _mm256_mul_pd(c, x1)); \
    if (V >= 3) a##r##2 = _mm256_add_pd(a##r##2, _mm256_mul_pd(c, x2)); \
  } while (0)
  const unsigned int last = fm + static_cast<unsigned int>(rows) - 1;
  for (unsigned int s = 0; s < last; s++) {
    const double* xs = x[i + s] + j;
    // Output row r uses image row s with kernel row s - r, when that exists.
    const bool use0 = s<fm, use1 = rows> 1 && s >= 1 && s - 1 < fm,
               use2 = rows > 2 && s >= 2 && s - 2 < fm, use3 = rows > 3 && s >= 3 && s - 3 < fm;
    const double* f0 = use0 ? f[s] : nullptr;
    const double* f1 = use1 ? f[s - 1] : nullptr;
    const double* f2 = use2 ? f[s - 2] : nullptr;
    const double* f3 = use3 ? f[s - 3] : nullptr;
    if (use0 && use1 && use2 && use3) {
      for (unsigned int l = 0; l < fn; l++) {
        const __m256d x0 = _mm256_loadu_pd(xs + l);
        const __m256d x1 = V >= 2 ? _mm256_loadu_pd(xs + l + 4) : x0;
        const __m256d x2 = V >= 3 ? _mm256_loadu_pd(xs + l + 8) : x0;
        const __m256d c0 = _mm256_broadcast_sd(f0 + l), c1 = _mm256_broadcast_sd(f1 + l),
                      c2 = _mm256_broadcast_sd(f2 + l), c3 = _mm256_broadcast_sd(f3 + l);
        TI_TERM(0, c0);
        TI_TERM(1, c1);
        TI_TERM(2, c2);
        TI_TERM(3, c3);
      }
    } else {
      for (unsigned int l = 0; l < fn; l++) {
        const __m256d x0 = _mm256_loadu_pd(xs + l);
        const __m256d x1 = V >= 2 ? _mm256_loadu_pd(xs + l + 4) : x0;
        const __m256d x2 = V >= 3 ? _mm256_loadu_pd(xs + l + 8) : x0;
        if (use0) TI_TERM(0, _mm256_broadcast_sd(f0 + l));
        if (use1) TI_TERM(1, _mm256_broadcast_sd(f1 + l));
        if (use2) TI_TERM(2, _mm256_broadcast_sd(f2 + l));
        if (use3) TI_TERM(3, _mm256_broadcast_sd(f3 + l));
      }
    }
  }
#undef TI_TERM
  double* o = out + i * stride + j;
  const __m256d row0[3] = {a00, a01, a02}, row1[3] = {a10, a11, a12}, row2[3] = {a20, a21, a22},
                row3[3] = {a30, a31, a32};
  const __m256d* all[4] = {row0, row1, row2, row3};
  for (int r = 0; r < rows; r++)
    for (int v = 0; v < V; v++) _mm256_storeu_pd(o + r * stride + 4 * v, all[r][v]);
}

// One output, for the columns that do not fill a vector.
inline void single(double const* const* f, unsigned int fm, unsigned int fn, double const* const* x,
                   unsigned int i, unsigned int j, double* out, size_t stride) {
  double res = 0.0;
  for (unsigned int k = 0; k < fm; k++) {
    const double* fk = f[k];
    const double* xk = x[i + k] + j;
    for (unsigned int l = 0; l < fn; l++) res = res + fk[l] * xk[l];
  }
  out[i * stride + j] = res;
}

// All columns of `rows` (1 to 4) output rows from row i.
inline void rows_of(double const* const* f, unsigned int fm, unsigned int fn,
                    double const* const* x, unsigned int i, unsigned int cols, double* out,
                    int rows) {
  unsigned int j = 0;
  for (; j + 8 <= cols; j += 8) block<2>(f, fm, fn, x, i, j, out, cols, rows);
  for (; j + 4 <= cols; j += 4) block<1>(f, fm, fn, x, i, j, out, cols, rows);
  for (; j < cols; j++)
    for (int r = 0; r < rows; r++) single(f, fm, fn, x, i + r, j, out, cols);
}

}  // namespace

void correlate_avx2(const MAT* kernel, const MAT* image, double* out) {
  const unsigned int fm = kernel->m, fn = kernel->n;
  const unsigned int rows = image->m - fm + 1, cols = image->n - fn + 1;
  double const* const* f = kernel->me;
  double const* const* x = image->me;
  unsigned int i = 0;
  for (; i < rows; i += 4) rows_of(f, fm, fn, x, i, cols, out, rows - i < 4 ? rows - i : 4);
}
