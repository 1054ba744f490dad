// The AVX2 correlation kernel. This file alone is compiled with -mavx2 (and
// without FMA: a fused multiply-add would change the last bits of a sum).
#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

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

namespace {

// A power of two from its exponent field (1 to 2046).
inline double power_of_two(uint64_t field) {
  const uint64_t bits = field << 52;
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// The exponent field of x (its sign bit above it).
inline uint64_t exponent_field(double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits >> 52;
}

// Sums in runs (deviation_sum_avx2): at most kRun terms per run, a multiple
// of four, and kRuns runs taken in one binade at a time.
constexpr size_t kRun = 64, kRuns = 8;
constexpr double kWholeTop = 9007199254740992.0;  // 2^53

// The terms of a run from term p of a sum. Early on the sum leaves its
// binade every few terms, and the term at p is halfway with a chance of
// about 1/p, so that a run of L terms fails about as often as L/p: runs
// start short.
inline size_t run_length(size_t p) { return std::min(kRun, std::max<size_t>(8, p / 8 / 4 * 4)); }

// A sum whose runs can be added in whole units: positive and normal, with
// units (2^(E-52)) and their reciprocal both normal.
inline bool usable(uint64_t field) { return field >= 53 && field <= 2046; }

// The terms (r - mean)^2 of a vector in whole units of the sum (scaled by
// `to_units`, a power of two, so exactly), each the nearest whole number;
// `halfway` gains the lanes where a term is halfway between two.
inline __m256d whole_units(__m256d r, __m256d mean, __m256d to_units, __m256d& halfway) {
  const __m256d d = _mm256_sub_pd(r, mean);
  const __m256d x = _mm256_mul_pd(_mm256_mul_pd(d, d), to_units);
  const __m256d k = _mm256_round_pd(x, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  // x - k is exact; it is +-1/2 only halfway (and not a number where x is
  // infinite, which the run's total then shows).
  const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffff));
  const __m256d off = _mm256_and_pd(_mm256_sub_pd(x, k), magnitude);
  halfway = _mm256_or_pd(halfway, _mm256_cmp_pd(off, _mm256_set1_pd(0.5), _CMP_EQ_OQ));
  return k;
}

// P outputs of a row (P up to 12), four lanes each: the twelve accumulators
// stay in registers. `x` is the input at the block's first output, `c` the
// coefficients; every lane sums k outer, l inner, from 0.
template <LaneMode Mode, int P>
inline void lane_block(const double* c, const double* x, size_t stride, unsigned int fm,
                       unsigned int fn, double* out) {
  constexpr bool kBroadcastCoefficient = Mode == LaneMode::kImages;
  constexpr size_t kStep = Mode == LaneMode::kImages ? 4 : 1;  // elements per input position
  __m256d acc[P];
#pragma GCC unroll 12
  for (int q = 0; q < P; q++) acc[q] = _mm256_setzero_pd();
  for (unsigned int k = 0; k < fm; k++) {
    const double* xr = x + k * stride * kStep;
    const double* cr = c + static_cast<size_t>(k) * fn * (kBroadcastCoefficient ? 1 : 4);
    for (unsigned int l = 0; l < fn; l++) {
      const __m256d cv =
          kBroadcastCoefficient ? _mm256_broadcast_sd(cr + l) : _mm256_loadu_pd(cr + 4 * l);
      const double* xl = xr + l * kStep;
#pragma GCC unroll 12
      for (int q = 0; q < P; q++) {
        const __m256d xv =
            kBroadcastCoefficient ? _mm256_loadu_pd(xl + 4 * q) : _mm256_broadcast_sd(xl + q);
        acc[q] = _mm256_add_pd(acc[q], _mm256_mul_pd(cv, xv));
      }
    }
  }
#pragma GCC unroll 12
  for (int q = 0; q < P; q++) _mm256_storeu_pd(out + 4 * q, acc[q]);
}

// The running sums of one unit: four lanes, or in kColumns mode one sum in
// lane 0 that runs over the outputs one by one.
struct Sums {
  __m256d sum, mean, squares, p0, p1, p2;
  bool covariance;
  bool columns;
  double column_sum, column_mean, column_squares;
};

Sums fresh(const LaneUnit& unit, LaneMode mode) {
  const __m256d z = _mm256_setzero_pd();
  return Sums{z, z, z, z, z, z, unit.covariance, mode == LaneMode::kColumns, 0.0, 0.0, 0.0};
}

// Elements of an output buffer per output position.
inline size_t width_of(const Sums& s) { return s.columns ? 1 : 4; }

// The first pass over outputs r[0 .. count-1], in order.
inline void add_outputs(Sums& s, const double* r, unsigned int count) {
  if (s.columns) {
    double sum = s.column_sum;
    for (unsigned int p = 0; p < count; p++) sum += r[p];
    s.column_sum = sum;
    return;
  }
  // (The sums are kept in locals: written through the reference, each one
  // would go to memory and back on every addition, since the vector type may
  // alias the outputs.)
  __m256d sum = s.sum;
  for (unsigned int p = 0; p < count; p++) sum = _mm256_add_pd(sum, _mm256_loadu_pd(r + 4 * p));
  s.sum = sum;
}

// The product t_a t of lane a with every lane, +0 where t_a is zero (adding
// +0 leaves a sum that started from +0 unchanged, as skipping the term does).
inline __m256d lane_product(__m256d ta, __m256d t) {
  const __m256d zero = _mm256_cmp_pd(ta, _mm256_setzero_pd(), _CMP_EQ_OQ);
  return _mm256_andnot_pd(zero, _mm256_mul_pd(ta, t));
}

// The second pass over outputs r[0 .. count-1], in order.
inline void add_deviations(Sums& s, const double* r, unsigned int count) {
  if (s.columns) {
    double acc = s.column_squares;
    for (unsigned int p = 0; p < count; p++) {
      const double d = r[p] - s.column_mean;
      acc = acc + d * d;
    }
    s.column_squares = acc;
    return;
  }
  const __m256d mean = s.mean;
  __m256d squares = s.squares;
  if (!s.covariance) {
    for (unsigned int p = 0; p < count; p++) {
      const __m256d t = _mm256_sub_pd(_mm256_loadu_pd(r + 4 * p), mean);
      squares = _mm256_add_pd(squares, _mm256_mul_pd(t, t));
    }
    s.squares = squares;
    return;
  }
  __m256d p0 = s.p0, p1 = s.p1, p2 = s.p2;
  for (unsigned int p = 0; p < count; p++) {
    const __m256d t = _mm256_sub_pd(_mm256_loadu_pd(r + 4 * p), mean);
    squares = _mm256_add_pd(squares, _mm256_mul_pd(t, t));
    p0 = _mm256_add_pd(p0, lane_product(_mm256_permute4x64_pd(t, 0x00), t));
    p1 = _mm256_add_pd(p1, lane_product(_mm256_permute4x64_pd(t, 0x55), t));
    p2 = _mm256_add_pd(p2, lane_product(_mm256_permute4x64_pd(t, 0xAA), t));
  }
  s.squares = squares;
  s.p0 = p0;
  s.p1 = p1;
  s.p2 = p2;
}

void finish_mean(Sums& s, double n, MeanRule rule) {
  if (s.columns) {
    s.column_mean = rule == MeanRule::kDivide ? s.column_sum / n : s.column_sum * (1.0 / n);
    return;
  }
  s.mean = rule == MeanRule::kDivide ? _mm256_div_pd(s.sum, _mm256_set1_pd(n))
                                     : _mm256_mul_pd(s.sum, _mm256_set1_pd(1.0 / n));
}

void store(const Sums& s, LaneUnit& unit) {
  _mm256_storeu_pd(unit.mean, s.mean);
  _mm256_storeu_pd(unit.squares, s.squares);
  _mm256_storeu_pd(unit.products[0], s.p0);
  _mm256_storeu_pd(unit.products[1], s.p1);
  _mm256_storeu_pd(unit.products[2], s.p2);
  if (s.columns) {
    unit.mean[0] = s.column_mean;
    unit.squares[0] = s.column_squares;
  }
}

// The outputs of a kKernels or kImages unit, row by row. After each block
// `follow(first, next)` is told how far the outputs are complete in
// row-major order: all before `first` for this unit's first pass, which
// keeps a row behind, and up to `next` for the previous unit's second pass.
template <LaneMode Mode, class Follow>
inline void correlate_lanes(const LaneUnit& unit, unsigned int fm, unsigned int fn,
                            unsigned int rows, unsigned int cols, size_t stride, double* out,
                            Follow&& follow) {
  constexpr size_t kStep = Mode == LaneMode::kImages ? 4 : 1;  // input elements per position
  const double* c = unit.coefficients;
  for (unsigned int i = 0; i < rows; i++) {
    const double* x = unit.input + i * stride * kStep;
    double* o = out + static_cast<size_t>(i) * cols * 4;
    const size_t row = static_cast<size_t>(i) * cols;
    auto after = [&](unsigned int end) { follow(i > 0 ? row - cols + end : 0, row + end); };
    unsigned int j = 0;
    for (; j + 12 <= cols; j += 12) {
      lane_block<Mode, 12>(c, x + j * kStep, stride, fm, fn, o + 4 * j);
      after(j + 12);
    }
    if (j + 8 <= cols) {
      lane_block<Mode, 8>(c, x + j * kStep, stride, fm, fn, o + 4 * j);
      after(j += 8);
    }
    if (j + 4 <= cols) {
      lane_block<Mode, 4>(c, x + j * kStep, stride, fm, fn, o + 4 * j);
      after(j += 4);
    }
    for (; j < cols; j++) {
      lane_block<Mode, 1>(c, x + j * kStep, stride, fm, fn, o + 4 * j);
      after(j + 1);
    }
  }
}

// Blocks of four output rows by eight columns (as block<2>) run as one
// pipeline, quad of rows by quad and left to right. In a block, output row r
// takes image row s with kernel row s - r, so row r finishes r steps after
// row 0: here rows 1 to 3 finish their block during the first three steps
// of the next one, which row 0 has begun. Every step then keeps the eight
// accumulators busy, where a block alone spends six of its fm + 3 steps on
// partly idle edges, chains of additions that wait on one another; only the
// pipeline's first and last three steps are partly idle. A step that
// straddles two blocks loads an image row of each. Each output still takes
// its terms with k outer and l inner, from 0. Needs fm >= 4 (so that the
// four rows lie in at most two blocks) and cols >= 8.
struct QuadSums {
  __m256d a00, a01, a10, a11, a20, a21, a30, a31;
};

// One step: rows r < P take image row xn (of the newer block) with kernel
// row fr, when New; rows r >= P image row xo (of the older block), when Old.
template <int P, bool New, bool Old>
__attribute__((always_inline)) inline void quad_step(QuadSums& q, const double* xn,
                                                     const double* xo, const double* f0,
                                                     const double* f1, const double* f2,
                                                     const double* f3, unsigned int fn) {
  __m256d a00 = q.a00, a01 = q.a01, a10 = q.a10, a11 = q.a11, a20 = q.a20, a21 = q.a21, a30 = q.a30,
          a31 = q.a31;
#define TI_ROW(r, fr)                                                        \
  do {                                                                       \
    if ((r) < P ? New : Old) {                                               \
      const __m256d c = _mm256_broadcast_sd((fr) + l);                       \
      a##r##0 = _mm256_add_pd(a##r##0, _mm256_mul_pd(c, (r) < P ? n0 : o0)); \
      a##r##1 = _mm256_add_pd(a##r##1, _mm256_mul_pd(c, (r) < P ? n1 : o1)); \
    }                                                                        \
  } while (0)
  // (Hidden from the compiler: seen as offsets of one another, the kernel
  // rows were addressed through values kept on the stack.)
  asm("" : "+r"(f0), "+r"(f1), "+r"(f2), "+r"(f3));
  for (unsigned int l = 0; l < fn; l++) {
    __m256d n0 = New ? _mm256_loadu_pd(xn + l) : _mm256_setzero_pd(),
            n1 = New ? _mm256_loadu_pd(xn + l + 4) : n0,
            o0 = Old ? _mm256_loadu_pd(xo + l) : _mm256_setzero_pd(),
            o1 = Old ? _mm256_loadu_pd(xo + l + 4) : o0;
    // (Each image vector loaded once: folded into the multiplications, it
    // was loaded again for every row, and loads are what a step that
    // straddles two blocks runs short of: half the speed.)
    if (New && Old) asm("" : "+x"(n0), "+x"(n1), "+x"(o0), "+x"(o1));
    TI_ROW(0, f0);
    TI_ROW(1, f1);
    TI_ROW(2, f2);
    TI_ROW(3, f3);
  }
#undef TI_ROW
  q = QuadSums{a00, a01, a10, a11, a20, a21, a30, a31};
}

// Kernels of up to this many rows run pipelined. The edge steps a pipeline
// saves are 6 of a block's fm + 3; a step that straddles two blocks loads
// twice the image vectors and runs at about 85% of a full one, and the
// edges it replaces run partly beside the neighbouring blocks' full steps.
// Measured (bench_kernels, one to three kernels): 7 x 7 5% to 14% faster,
// 13 x 13 and 15 x 15 0% to 7%, 31 x 31 3% to 5% slower up to 256 x 256.
// So the pipeline takes the kernels whose edge steps are at least a
// quarter of a block's.
constexpr unsigned int kPipelinedRows = 21;

// The outputs of `quads` quads of rows from row 0; done(i, end) after the
// block of rows i .. i + 3 that ends at column `end` is stored (blocks
// complete in row-major order of quads and columns).
// Only the first `width` columns of each row (width >= 8) are formed; rows
// are `cols` apart in `out`.
template <class Done>
inline void pipelined_quads(const double* f, unsigned int fm, unsigned int fn, const double* input,
                            size_t stride, unsigned int quads, unsigned int width,
                            unsigned int cols, double* out, Done&& done) {
  const unsigned int per = (width + 7) / 8;  // blocks per quad; the last may overlap
  const size_t blocks = static_cast<size_t>(quads) * per;
  auto first_row = [&](size_t g) { return static_cast<unsigned int>(g / per) * 4; };
  auto first_column = [&](size_t g) {
    return std::min(8 * static_cast<unsigned int>(g % per), width - 8);
  };
  auto K = [&](unsigned int k) { return f + static_cast<size_t>(k) * fn; };
  const __m256d z = _mm256_setzero_pd();
  QuadSums q{z, z, z, z, z, z, z, z};
  for (size_t g = 0; g <= blocks; g++) {
    const bool fresh = (g < blocks), old = (g > 0);
    const unsigned int in = fresh ? first_row(g) : 0, jn = fresh ? first_column(g) : 0;
    const unsigned int io = old ? first_row(g - 1) : 0, jo = old ? first_column(g - 1) : 0;
    const double* xn = input + in * stride + jn;  // image row in + k0 at step k0
    // The older block's rows 1 to 3 are at kernel rows fm - 1 .. fm - 3 at
    // step 0, which is its image row io + fm.
    const double* xo = input + (io + fm) * stride + jo;
    double* oo = out + static_cast<size_t>(io) * cols + jo;
    auto finish = [&](__m256d& lo, __m256d& hi, unsigned int r) {
      _mm256_storeu_pd(oo + r * cols, lo);
      _mm256_storeu_pd(oo + r * cols + 4, hi);
      lo = hi = z;
    };
    if (fresh && old) {
      quad_step<1, true, true>(q, xn, xo, K(0), K(fm - 1), K(fm - 2), K(fm - 3), fn);
      finish(q.a10, q.a11, 1);
      quad_step<2, true, true>(q, xn + stride, xo + stride, K(1), K(0), K(fm - 1), K(fm - 2), fn);
      finish(q.a20, q.a21, 2);
      quad_step<3, true, true>(q, xn + 2 * stride, xo + 2 * stride, K(2), K(1), K(0), K(fm - 1),
                               fn);
      finish(q.a30, q.a31, 3);
      done(io, jo + 8 == width ? cols : jo + 8);
    } else if (old) {
      quad_step<1, false, true>(q, xn, xo, K(0), K(fm - 1), K(fm - 2), K(fm - 3), fn);
      finish(q.a10, q.a11, 1);
      quad_step<2, false, true>(q, xn, xo + stride, K(1), K(0), K(fm - 1), K(fm - 2), fn);
      finish(q.a20, q.a21, 2);
      quad_step<3, false, true>(q, xn, xo + 2 * stride, K(2), K(1), K(0), K(fm - 1), fn);
      finish(q.a30, q.a31, 3);
      done(io, jo + 8 == width ? cols : jo + 8);
      break;
    } else {
      quad_step<1, true, false>(q, xn, xo, K(0), K(0), K(0), K(0), fn);
      quad_step<2, true, false>(q, xn + stride, xo, K(1), K(0), K(0), K(0), fn);
      quad_step<3, true, false>(q, xn + 2 * stride, xo, K(2), K(1), K(0), K(0), fn);
    }
    for (unsigned int k0 = 3; k0 < fm; k0++)
      quad_step<4, true, false>(q, xn + k0 * stride, xo, K(k0), K(k0 - 1), K(k0 - 2), K(k0 - 3),
                                fn);
    double* on = out + static_cast<size_t>(in) * cols + jn;
    _mm256_storeu_pd(on, q.a00);
    _mm256_storeu_pd(on + 4, q.a01);
    q.a00 = q.a01 = z;
  }
}

// The columns past the last whole block of eight, in every output row.
// Where a row's last block of eight would overlap the one before (redoing up
// to seven outputs of each row), the image columns those outputs read are
// copied transposed, t[c * tstride + s] = input row s, column `first` + c,
// so that four neighbouring output rows of one column make a vector:
//   r(i .. i + 3, j) = sum_k sum_l f[k][l] * t[(j - first + l) * tstride + i + k .. + 3],
// each lane summed from 0 with k outer and l inner, the definition's order.
// A block takes C columns by V vectors down (C * V <= 8 accumulators); the
// rows that do not fill a block are redone by one that ends at the last row,
// which writes the same sums again. For a 15 x 15 kernel the transposition
// took 7% (two columns) to 19% (one column) of the time of the strip's
// correlation: mostly the reads of the image rows, 4 x 4 in registers or not.
template <int C, int V>
inline void edge_block(const double* f, unsigned int fm, unsigned int fn, const double* t,
                       size_t tstride, unsigned int i, unsigned int c, unsigned int first,
                       unsigned int cols, double* out) {
  static_assert(C <= 4 && V <= 8 && C * V <= 8, "eight accumulators");
  // Accumulator a<cc><v>: column cc, vector v.
  const __m256d z = _mm256_setzero_pd();
  __m256d a00 = z, a01 = z, a02 = z, a03 = z, a04 = z, a05 = z, a06 = z, a07 = z;
  __m256d a10 = z, a11 = z, a12 = z, a13 = z, a14 = z, a15 = z, a16 = z, a17 = z;
  __m256d a20 = z, a21 = z, a22 = z, a23 = z, a24 = z, a25 = z, a26 = z, a27 = z;
  __m256d a30 = z, a31 = z, a32 = z, a33 = z, a34 = z, a35 = z, a36 = z, a37 = z;
  // Row c + j of t serves column cc with term l = j - cc: its vectors are
  // loaded once for the C columns, and each column still takes l = 0, 1, ...
  // in turn.
#define TI_ACC(cc, v)                                                        \
  do {                                                                       \
    if ((v) < V) a##cc##v = _mm256_add_pd(a##cc##v, _mm256_mul_pd(w, x##v)); \
  } while (0)
#define TI_COLUMN(cc)                                                          \
  do {                                                                         \
    if ((cc) < C && (All || (static_cast<int>(j) >= (cc) && j - (cc) < fn))) { \
      const __m256d w = _mm256_broadcast_sd(fk + j - (cc));                    \
      TI_ACC(cc, 0);                                                           \
      TI_ACC(cc, 1);                                                           \
      TI_ACC(cc, 2);                                                           \
      TI_ACC(cc, 3);                                                           \
      TI_ACC(cc, 4);                                                           \
      TI_ACC(cc, 5);                                                           \
      TI_ACC(cc, 6);                                                           \
      TI_ACC(cc, 7);                                                           \
    }                                                                          \
  } while (0)
  auto step = [&](auto all, const double* fk, const double* p, unsigned int j) {
    constexpr bool All = decltype(all)::value;
    const __m256d z4 = _mm256_setzero_pd();
    const __m256d x0 = _mm256_loadu_pd(p), x1 = V > 1 ? _mm256_loadu_pd(p + 4) : z4,
                  x2 = V > 2 ? _mm256_loadu_pd(p + 8) : z4,
                  x3 = V > 3 ? _mm256_loadu_pd(p + 12) : z4,
                  x4 = V > 4 ? _mm256_loadu_pd(p + 16) : z4,
                  x5 = V > 5 ? _mm256_loadu_pd(p + 20) : z4,
                  x6 = V > 6 ? _mm256_loadu_pd(p + 24) : z4,
                  x7 = V > 7 ? _mm256_loadu_pd(p + 28) : z4;
    TI_COLUMN(0);
    TI_COLUMN(1);
    TI_COLUMN(2);
    TI_COLUMN(3);
  };
  for (unsigned int k = 0; k < fm; k++) {
    const double* fk = f + static_cast<size_t>(k) * fn;
    const double* tk = t + c * tstride + i + k;
    unsigned int j = 0;
    for (; j + 1 < C; j++) step(std::false_type(), fk, tk + j * tstride, j);
    for (; j < fn; j++) step(std::true_type(), fk, tk + j * tstride, j);
    for (; j + 1 < fn + C; j++) step(std::false_type(), fk, tk + j * tstride, j);
  }
#undef TI_COLUMN
#undef TI_ACC
  const __m256d all[4][8] = {{a00, a01, a02, a03, a04, a05, a06, a07},
                             {a10, a11, a12, a13, a14, a15, a16, a17},
                             {a20, a21, a22, a23, a24, a25, a26, a27},
                             {a30, a31, a32, a33, a34, a35, a36, a37}};
  for (int cc = 0; cc < C; cc++)
    for (int v = 0; v < V; v++) {
      alignas(32) double lanes[4];
      _mm256_store_pd(lanes, all[cc][v]);
      double* o = out + static_cast<size_t>(i + 4 * v) * cols + first + c + cc;
      for (int b = 0; b < 4; b++) o[b * cols] = lanes[b];
    }
}

// C columns from column first + c, every output row (rows >= 4), in blocks
// of v vectors down (V >= v >= 1).
template <int C, int V = 8 / C>
inline void edge_columns(const double* f, unsigned int fm, unsigned int fn, const double* t,
                         size_t tstride, unsigned int rows, unsigned int v, unsigned int c,
                         unsigned int first, unsigned int cols, double* out) {
  if (V > 1 && v < V)
    return edge_columns<C, (V > 1 ? V - 1 : 1)>(f, fm, fn, t, tstride, rows, v, c, first, cols,
                                                out);
  for (unsigned int i = 0; i < rows; i += 4 * V)
    edge_block<C, V>(f, fm, fn, t, tstride, std::min(i, rows - 4 * V), c, first, cols, out);
}

// Rows that end in at most this many columns past a whole block of eight
// take them in an edge strip, where the pipeline would end each row with a
// block of eight that overlaps the one before. The strip runs slower than
// the pipeline (a lone column loads eight vectors for eight products, and
// a third of its loads cross two cache lines), so it pays where that block
// does little new work. Measured for one kernel of 13 x 13 and of 15 x 15
// on 48 x (48 + r) outputs (a throwaway timing, best of 200), against the
// overlapping block: r = 1 8% less time, r = 2 5%, r = 3 to 5 2% to 3%,
// r = 6 the same, r = 7 2% more.
constexpr unsigned int kEdgeColumns = 5;

// Columns `first` .. cols - 1 (at most seven) of every output row (rows >= 4).
inline void edge_strip(const double* f, unsigned int fm, unsigned int fn, const double* input,
                       size_t stride, unsigned int rows, unsigned int first, unsigned int cols,
                       double* out) {
  const unsigned int n = cols - first, height = rows + fm - 1, w = n + fn - 1;
  // Rows of t an odd number of cache lines apart, so that they fall in
  // different first-level cache sets.
  size_t tstride = (height + 7) / 8 * 8;
  if (tstride / 8 % 2 == 0) tstride += 8;
  thread_local LineBuffer buffer;
  if (buffer.size() < w * tstride) buffer.resize(w * tstride);
  double* t = buffer.data();
  // Four rows by four columns at a time, transposed in registers.
  unsigned int s = 0;
  for (; s + 4 <= height; s += 4) {
    const double* x = input + s * stride + first;
    unsigned int c = 0;
    for (; c + 4 <= w; c += 4) {
      const __m256d r0 = _mm256_loadu_pd(x + c), r1 = _mm256_loadu_pd(x + stride + c),
                    r2 = _mm256_loadu_pd(x + 2 * stride + c),
                    r3 = _mm256_loadu_pd(x + 3 * stride + c);
      const __m256d e0 = _mm256_unpacklo_pd(r0, r1), o0 = _mm256_unpackhi_pd(r0, r1),
                    e1 = _mm256_unpacklo_pd(r2, r3), o1 = _mm256_unpackhi_pd(r2, r3);
      _mm256_store_pd(t + c * tstride + s, _mm256_permute2f128_pd(e0, e1, 0x20));
      _mm256_store_pd(t + (c + 1) * tstride + s, _mm256_permute2f128_pd(o0, o1, 0x20));
      _mm256_store_pd(t + (c + 2) * tstride + s, _mm256_permute2f128_pd(e0, e1, 0x31));
      _mm256_store_pd(t + (c + 3) * tstride + s, _mm256_permute2f128_pd(o0, o1, 0x31));
    }
    for (; c < w; c++)
      for (unsigned int q = 0; q < 4; q++) t[c * tstride + s + q] = x[q * stride + c];
  }
  for (; s < height; s++)
    for (unsigned int c = 0; c < w; c++) t[c * tstride + s] = input[s * stride + first + c];
  // Blocks down the rows as even as the accumulators allow, the last one
  // ending at the last row.
  auto vectors = [&](unsigned int most) {
    const unsigned int blocks = (rows + 4 * most - 1) / (4 * most);
    return std::min((rows + 4 * blocks - 1) / (4 * blocks), rows / 4);
  };
  unsigned int c = 0;
  if (n - c >= 4) {
    edge_columns<4>(f, fm, fn, t, tstride, rows, vectors(2), c, first, cols, out);
    c += 4;
  }
  if (n - c >= 2) {
    edge_columns<2>(f, fm, fn, t, tstride, rows, vectors(4), c, first, cols, out);
    c += 2;
  }
  if (n - c >= 1) edge_columns<1>(f, fm, fn, t, tstride, rows, vectors(8), c, first, cols, out);
}

// The outputs of a kColumns unit, four rows at a time as correlate_avx2
// forms them (each input vector loaded once for four output rows), the
// whole quads pipelined where that pays; the first pass keeps four rows
// behind.
template <class Follow>
inline void correlate_columns(const LaneUnit& unit, unsigned int fm, unsigned int fn,
                              unsigned int rows, unsigned int cols, size_t stride, double* out,
                              Follow&& follow) {
  thread_local std::vector<const double*> kernel_rows, input_rows;
  kernel_rows.resize(fm);
  input_rows.resize(rows + fm - 1);
  for (unsigned int k = 0; k < fm; k++) kernel_rows[k] = unit.coefficients + k * fn;
  for (unsigned int r = 0; r < rows + fm - 1; r++) input_rows[r] = unit.input + r * stride;
  const double* const* f = kernel_rows.data();
  const double* const* x = input_rows.data();
  const size_t N = static_cast<size_t>(rows) * cols;
  unsigned int i = 0;
  unsigned int width = cols;  // the columns the blocks below form
  if (fm >= 4 && fm <= kPipelinedRows && cols >= 8 && rows >= 4) {
    if (cols % 8 <= kEdgeColumns) width = cols / 8 * 8;
    if (width < cols)
      edge_strip(unit.coefficients, fm, fn, unit.input, stride, rows, width, cols, out);
    pipelined_quads(unit.coefficients, fm, fn, unit.input, stride, rows / 4, width, cols, out,
                    [&](unsigned int top, unsigned int end) {
                      const size_t row = static_cast<size_t>(top) * cols;
                      follow(top > 0 ? row - 4 * cols + 4 * end : 0, std::min(N, row + 4 * end));
                    });
    i = rows / 4 * 4;
  }
  for (; i < rows; i += 4) {
    const int quad = rows - i < 4 ? static_cast<int>(rows - i) : 4;
    const size_t row = static_cast<size_t>(i) * cols;
    auto after = [&](unsigned int end) {
      follow(i > 0 ? row - 4 * cols + 4 * end : 0, std::min(N, row + 4 * end));
    };
    unsigned int j = 0;
    for (; j + 8 <= width; j += 8) {
      block<2>(f, fm, fn, x, i, j, out, cols, quad);
      after(j + 8 == width ? cols : j + 8);
    }
    if (width < cols) continue;  // the edge strip has the rest
    if (j + 4 <= cols) {
      block<1>(f, fm, fn, x, i, j, out, cols, quad);
      after(j += 4);
    }
    if (j < cols && cols >= 4) {
      // The last vector ends at the row's end and overlaps outputs already
      // written, which it writes again with the same sums.
      block<1>(f, fm, fn, x, i, cols - 4, out, cols, quad);
      after(j = cols);
    }
    for (; j < cols; j++) {
      for (int r = 0; r < quad; r++) single(f, fm, fn, x, i + r, j, out, cols);
      after(j + 1);
    }
  }
}

// A kColumns unit whose kernel has five rows, correlated in strips eight
// outputs wide that run down a band of rows. Image row s serves output
// rows s - 4 .. s, with kernel rows 4 .. 0, and each output row's ten
// accumulators (two vectors) live in one of five slots: output row r in slot
// r mod 5, begun at image row r and complete after image row r + 4. So every
// image vector is loaded once for five rows, every step keeps all ten
// accumulators busy, and each output still takes its terms with k outer and
// l inner, from 0. Alone, the correlation runs about 1.3 times as fast as in
// the four-row blocks; a bigger kernel keeps those busy, and 7 rows by one
// vector in strips loads too much (by two, it needs more than 16 registers).
//
// The strip's steps are unrolled five at a time, so that the slots are
// named registers; steps past the band's last image row reread that row and
// store nothing, as do the first four steps' unfinished rows above the band.
//
// The passes take the outputs in row-major order, which no strip finishes
// alone: the first pass runs a band behind, over the rows complete before
// the band, and takes a share of them after each step, as the previous
// unit's second pass does of its outputs; both sums stay in registers
// through the strip.
struct StripPasses {
  double sum;           // this unit's first pass
  const double* first;  // its next output
  size_t first_left;    // outputs it may still take before the band ends
  size_t first_share;   // per step
  double squares;       // the previous kColumns unit's second pass
  double mean;          // that unit's mean
  const double* next;   // its next output
  size_t next_left, next_share;
};

// Output row r of the strip is at out + r * cols; x is the band's first
// image row.
inline void five_row_strip(const double* f, unsigned int fn, const double* x, size_t stride,
                           unsigned int rows, unsigned int cols, unsigned int j, double* out,
                           StripPasses& passes) {
  __m256d a00 = _mm256_setzero_pd(), a01 = a00, a10 = a00, a11 = a00, a20 = a00, a21 = a00,
          a30 = a00, a31 = a00, a40 = a00, a41 = a00;
  double sum = passes.sum, squares = passes.squares;
  const double mean = passes.mean;
  const double *first = passes.first, *next = passes.next;
  size_t first_left = passes.first_left, next_left = passes.next_left;
  const size_t first_share = passes.first_share, next_share = passes.next_share;
  // (The empty statements keep the compiler from turning these short
  // chains into in-order vector reductions, whose shuffles cost more than
  // they save here.)
  auto take_shares = [&]() {
    const size_t n1 = std::min(first_share, first_left);
    for (size_t p = 0; p < n1; p++) {
      sum += first[p];
      asm("" : "+x"(sum));
    }
    first += n1;
    first_left -= n1;
    const size_t n2 = std::min(next_share, next_left);
    for (size_t p = 0; p < n2; p++) {
      const double d = next[p] - mean;
      squares = squares + d * d;
      asm("" : "+x"(squares));
    }
    next += n2;
    next_left -= n2;
  };
  // Kernel row K into slot S.
#define TI_TERMS(S, K)                                      \
  do {                                                      \
    const __m256d c = _mm256_broadcast_sd(f + (K)*fn + l);  \
    a##S##0 = _mm256_add_pd(a##S##0, _mm256_mul_pd(c, x0)); \
    a##S##1 = _mm256_add_pd(a##S##1, _mm256_mul_pd(c, x1)); \
  } while (0)
  // Image row base + T: output row base + T starts in slot T, and kernel
  // row k goes to slot (T - k) mod 5, listed as S0 .. S4; the row in slot
  // (T + 1) mod 5 is then complete.
#define TI_STEP(T, S0, S1, S2, S3, S4, DONE)                                        \
  do {                                                                              \
    const unsigned int s = base + (T);                                              \
    a##T##0 = _mm256_setzero_pd();                                                  \
    a##T##1 = a##T##0;                                                              \
    const double* xs = x + static_cast<size_t>(s < last ? s : last) * stride + j;   \
    for (unsigned int l = 0; l < fn; l++) {                                         \
      const __m256d x0 = _mm256_loadu_pd(xs + l), x1 = _mm256_loadu_pd(xs + l + 4); \
      TI_TERMS(S0, 0);                                                              \
      TI_TERMS(S1, 1);                                                              \
      TI_TERMS(S2, 2);                                                              \
      TI_TERMS(S3, 3);                                                              \
      TI_TERMS(S4, 4);                                                              \
    }                                                                               \
    if (s >= 4 && s - 4 < rows) {                                                   \
      double* o = out + static_cast<size_t>(s - 4) * cols + j;                      \
      _mm256_storeu_pd(o, a##DONE##0);                                              \
      _mm256_storeu_pd(o + 4, a##DONE##1);                                          \
    }                                                                               \
    take_shares();                                                                  \
  } while (0)
  const unsigned int last = rows + 3;  // the band's last image row
  for (unsigned int base = 0; base <= last; base += 5) {
    TI_STEP(0, 0, 4, 3, 2, 1, 1);
    TI_STEP(1, 1, 0, 4, 3, 2, 2);
    TI_STEP(2, 2, 1, 0, 4, 3, 3);
    TI_STEP(3, 3, 2, 1, 0, 4, 4);
    TI_STEP(4, 4, 3, 2, 1, 0, 0);
  }
#undef TI_STEP
#undef TI_TERMS
  passes.sum = sum;
  passes.squares = squares;
  passes.first = first;
  passes.next = next;
  passes.first_left = first_left;
  passes.next_left = next_left;
}

// Rows in a band: each band costs four steps more per strip. The first pass
// of the last band runs after the correlation, with nothing beside it, so
// the last band is short.
constexpr unsigned int kBandRows = 64, kLastBandRows = 16;

// The outputs of a kColumns unit of five kernel rows (cols >= 8), with its
// first pass and, when `previous` is a kColumns unit, that unit's second
// pass over `before`; `summed` and `deviated` say how far each has come.
inline void correlate_five_rows(const LaneUnit& unit, unsigned int fn, unsigned int rows,
                                unsigned int cols, size_t stride, double* out, Sums& current,
                                Sums* previous, const double* before, size_t& summed,
                                size_t& deviated) {
  const size_t N = static_cast<size_t>(rows) * cols;
  const unsigned int strips = (cols + 7) / 8;
  const unsigned int body = rows > 2 * kLastBandRows ? rows - kLastBandRows : rows;
  const unsigned int bands = (body + kBandRows - 1) / kBandRows;
  const unsigned int height = (body + bands - 1) / bands;  // then the rest as the last band
  const size_t steps = static_cast<size_t>(strips) * (rows + 4 * (bands + 1));
  StripPasses passes{current.column_sum, out + summed, 0, 0, 0.0, 0.0, before + deviated, 0, 0};
  if (previous != nullptr) {
    passes.squares = previous->column_squares;
    passes.mean = previous->column_mean;
    passes.next_left = N - deviated;
    passes.next_share = (passes.next_left + steps - 1) / steps;
  }
  for (unsigned int i = 0, h = 0; i < rows; i += h) {
    h = i < body ? std::min(height, body - i) : rows - i;
    const size_t complete = static_cast<size_t>(i) * cols;  // the rows before the band
    const size_t band_steps = static_cast<size_t>(strips) * (h + 4);
    passes.first_left = complete - summed;
    passes.first_share = (passes.first_left + band_steps - 1) / band_steps;
    const double* x = unit.input + static_cast<size_t>(i) * stride;
    double* o = out + complete;
    for (unsigned int q = 0; q < strips; q++)
      // The last strip ends at the row's end and may overlap the one before,
      // writing the same sums again.
      five_row_strip(unit.coefficients, fn, x, stride, h, cols, std::min(8 * q, cols - 8), o,
                     passes);
    for (; passes.first_left > 0; passes.first_left--) passes.sum += *passes.first++;
    summed = complete;
  }
  current.column_sum = passes.sum;
  if (previous != nullptr) {
    previous->column_squares = passes.squares;
    deviated = N - passes.next_left;
  }
}

// The units in turn. While unit u is correlated, its first pass follows
// behind and the second pass of unit u - 1 runs over that unit's outputs at
// the same pace: both are chains of dependent additions, and interleaved
// with the correlation, block by block, they take the adders' idle time.
// Only the last unit's second pass runs alone.
void run_units(LaneMode mode, LaneUnit* units, size_t count, unsigned int fm, unsigned int fn,
               unsigned int rows, unsigned int cols, size_t stride, MeanRule rule) {
  const size_t N = static_cast<size_t>(rows) * cols;
  thread_local LineBuffer storage;
  if (storage.size() < 8 * N) storage.resize(8 * N);
  double* buffers[2] = {storage.data(), storage.data() + 4 * N};
  const double n = static_cast<double>(static_cast<unsigned int>(N));
  Sums previous = fresh(units[0], mode);
  for (size_t u = 0; u < count; u++) {
    const LaneMode unit_mode = units[u].columns ? LaneMode::kColumns : mode;
    double* out = buffers[u & 1];
    const double* before = buffers[(u + 1) & 1];
    const bool chained = u > 0;
    Sums current = fresh(units[u], unit_mode);
    const size_t w = width_of(current), wp = width_of(previous);
    size_t summed = 0, deviated = 0;  // outputs taken by each pass so far
    auto follow = [&](size_t first, size_t next) {
      if (first > summed) {
        add_outputs(current, out + summed * w, static_cast<unsigned int>(first - summed));
        summed = first;
      }
      if (chained && next > deviated) {
        add_deviations(previous, before + deviated * wp,
                       static_cast<unsigned int>(next - deviated));
        deviated = next;
      }
    };
    switch (unit_mode) {
      case LaneMode::kKernels:
        correlate_lanes<LaneMode::kKernels>(units[u], fm, fn, rows, cols, stride, out, follow);
        break;
      case LaneMode::kImages:
        correlate_lanes<LaneMode::kImages>(units[u], fm, fn, rows, cols, stride, out, follow);
        break;
      case LaneMode::kColumns:
        if (fm == 5 && cols >= 8 && (!chained || previous.columns))
          correlate_five_rows(units[u], fn, rows, cols, stride, out, current,
                              chained ? &previous : nullptr, before, summed, deviated);
        else
          correlate_columns(units[u], fm, fn, rows, cols, stride, out, follow);
        break;
    }
    follow(N, N);
    finish_mean(current, n, rule);
    if (chained) store(previous, units[u - 1]);
    previous = current;
  }
  if (count > 0) {
    // The last second pass runs alone; a lone chain is summed in runs.
    const double* last = buffers[(count - 1) & 1];
    if (previous.columns)
      previous.column_squares =
          deviation_sum_avx2(last, N, previous.column_mean, previous.column_squares);
    else
      add_deviations(previous, last, static_cast<unsigned int>(N));
    store(previous, units[count - 1]);
  }
}

}  // namespace

// In units of u the terms of a run are whole numbers, and while their total
// stays below 2^53 every partial sum of them is exact in any order: the run
// then ends at acc + u * total, the sum the additions one at a time give.
double deviation_sum_avx2(const double* r, size_t count, double mean, double acc) {
  const __m256d m = _mm256_set1_pd(mean);
  auto one_by_one = [&](size_t p, size_t end) {
    for (size_t q = p; q < end; q++) {
      const double d = r[q] - mean;
      acc = acc + d * d;
    }
  };
  const size_t whole = count / 4 * 4;  // four terms of the chain to a vector
  for (size_t p = 0; p < whole;) {
    const uint64_t field = exponent_field(acc);
    if (!usable(field)) {
      const size_t end = std::min(whole, p + run_length(p));
      one_by_one(p, end);
      p = end;
      continue;
    }
    // Up to kRuns runs in units of the sum's binade as it is now, each with
    // its own total, so that they do not wait for one another; then the
    // runs are taken in order while they keep the sum in that binade and
    // hold no halfway term, and the first that does not is added term by
    // term.
    const __m256d to_units = _mm256_set1_pd(power_of_two(2098 - field));
    double totals[kRuns];
    bool halfway_in[kRuns];
    size_t ends[kRuns];
    size_t runs = 0;
    for (size_t q = p; q < whole && runs < kRuns; runs++) {
      const size_t end = std::min(whole, q + run_length(q));
      __m256d units0 = _mm256_setzero_pd(), units1 = units0, halfway = units0;
      for (; q + 8 <= end; q += 8) {
        units0 = _mm256_add_pd(units0, whole_units(_mm256_loadu_pd(r + q), m, to_units, halfway));
        units1 =
            _mm256_add_pd(units1, whole_units(_mm256_loadu_pd(r + q + 4), m, to_units, halfway));
      }
      if (q < end) {
        units0 = _mm256_add_pd(units0, whole_units(_mm256_loadu_pd(r + q), m, to_units, halfway));
        q = end;
      }
      alignas(32) double lanes[4];
      _mm256_store_pd(lanes, _mm256_add_pd(units0, units1));
      totals[runs] = lanes[0] + lanes[1] + lanes[2] + lanes[3];
      halfway_in[runs] = _mm256_movemask_pd(halfway) != 0;
      ends[runs] = end;
    }
    // Whole numbers >= 0: while the sum is below 2^53 every partial sum is
    // exact, and a sum at or above it (or not a number) stays so. After a
    // run added term by term the rest still count while the sum has kept
    // its binade.
    for (size_t j = 0; j < runs && exponent_field(acc) == field;) {
      double units = acc * power_of_two(2098 - field);
      size_t k = j;
      for (; k < runs && !halfway_in[k] && units + totals[k] < kWholeTop; k++) units += totals[k];
      if (k > j) {
        acc = units * power_of_two(field - 52);
        p = ends[k - 1];
      }
      if (k < runs) {
        one_by_one(p, ends[k]);
        p = ends[k];
      }
      j = k + 1;
    }
  }
  one_by_one(whole, count);
  return acc;
}

void lane_statistics_avx2(LaneMode mode, LaneUnit* units, size_t count, unsigned int fm,
                          unsigned int fn, unsigned int rows, unsigned int cols, size_t stride,
                          MeanRule rule) {
  run_units(mode, units, count, fm, fn, rows, cols, stride, rule);
}
