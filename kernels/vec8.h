// A vector of eight doubles with the few operations the 512-bit kernels use
// (wide_kernels.inc), so that one kernel source serves two builds:
//  - wide_avx512.cpp, compiled with -mavx512f: V8 is one __m512d; it runs
//    where the processor has AVX-512F (TI_KERNELS=avx512, the default
//    there);
//  - wide_emulated.cpp, compiled with -mavx2: V8 is two __m256d, lanes 0-3
//    and 4-7; it runs only where TI_KERNELS=avx512-emulated asks for it (the
//    tests do, on any AVX2 processor), to check the 512-bit kernels' logic,
//    lane order and indexing on processors without AVX-512.
// Every operation here acts on each lane alone (the lane broadcasts copy a
// lane's value), and the arithmetic ones are single IEEE operations, rounded
// the same whatever the vector width: both builds give the same bits, lane
// for lane. There is no fused multiply-add (-ffp-contract=off everywhere,
// and no fmadd intrinsic here): it would change the last bits of a sum.
//
// Include in a file compiled for AVX2 or AVX-512F, with TI_VEC8_NATIVE
// defined (to 1) for the 512-bit build.
#ifndef TI_VEC8_H
#define TI_VEC8_H

#include <immintrin.h>

#if TI_VEC8_NATIVE
#ifndef __AVX512F__
#error "the native 512-bit build needs -mavx512f"
#endif

struct V8 {
  __m512d v;
};
inline V8 zero8() { return {_mm512_setzero_pd()}; }
inline V8 set1(double x) { return {_mm512_set1_pd(x)}; }
inline V8 broadcast(const double* p) { return {_mm512_set1_pd(*p)}; }
inline V8 loadu(const double* p) { return {_mm512_loadu_pd(p)}; }
inline void storeu(double* p, V8 a) { _mm512_storeu_pd(p, a.v); }
inline V8 add(V8 a, V8 b) { return {_mm512_add_pd(a.v, b.v)}; }
inline V8 sub(V8 a, V8 b) { return {_mm512_sub_pd(a.v, b.v)}; }
inline V8 mul(V8 a, V8 b) { return {_mm512_mul_pd(a.v, b.v)}; }
inline V8 div(V8 a, V8 b) { return {_mm512_div_pd(a.v, b.v)}; }
inline V8 sqrt8(V8 a) { return {_mm512_maskz_sqrt_pd(0xff, a.v)}; }  // (as lane() below)
// b where b < a (an ordered comparison: a not-a-number b never enters), else a.
inline V8 take_smaller(V8 a, V8 b) {
  return {_mm512_mask_blend_pd(_mm512_cmp_pd_mask(b.v, a.v, _CMP_LT_OQ), a.v, b.v)};
}
// x where t is not zero (or not a number), +0 where it is.
inline V8 unless_zero(V8 t, V8 x) {
  return {_mm512_maskz_mov_pd(_mm512_cmp_pd_mask(t.v, _mm512_setzero_pd(), _CMP_NEQ_UQ), x.v)};
}
// Lane A (0 to 3) of a in every lane.
template <int A>
inline V8 lane(V8 a) {
  // (The zero-masking form with every lane kept: the plain one starts from
  // an undefined vector, which the compiler warns about.)
  return {_mm512_maskz_permutexvar_pd(0xff, _mm512_set1_epi64(A), a.v)};
}

#else
#ifndef __AVX2__
#error "the emulated 512-bit build needs -mavx2"
#endif

struct V8 {
  __m256d lo, hi;
};
inline V8 zero8() { return {_mm256_setzero_pd(), _mm256_setzero_pd()}; }
inline V8 set1(double x) { return {_mm256_set1_pd(x), _mm256_set1_pd(x)}; }
inline V8 broadcast(const double* p) {
  const __m256d x = _mm256_broadcast_sd(p);
  return {x, x};
}
inline V8 loadu(const double* p) { return {_mm256_loadu_pd(p), _mm256_loadu_pd(p + 4)}; }
inline void storeu(double* p, V8 a) {
  _mm256_storeu_pd(p, a.lo);
  _mm256_storeu_pd(p + 4, a.hi);
}
inline V8 add(V8 a, V8 b) { return {_mm256_add_pd(a.lo, b.lo), _mm256_add_pd(a.hi, b.hi)}; }
inline V8 sub(V8 a, V8 b) { return {_mm256_sub_pd(a.lo, b.lo), _mm256_sub_pd(a.hi, b.hi)}; }
inline V8 mul(V8 a, V8 b) { return {_mm256_mul_pd(a.lo, b.lo), _mm256_mul_pd(a.hi, b.hi)}; }
inline V8 div(V8 a, V8 b) { return {_mm256_div_pd(a.lo, b.lo), _mm256_div_pd(a.hi, b.hi)}; }
inline V8 sqrt8(V8 a) { return {_mm256_sqrt_pd(a.lo), _mm256_sqrt_pd(a.hi)}; }
inline V8 take_smaller(V8 a, V8 b) {
  return {_mm256_blendv_pd(a.lo, b.lo, _mm256_cmp_pd(b.lo, a.lo, _CMP_LT_OQ)),
          _mm256_blendv_pd(a.hi, b.hi, _mm256_cmp_pd(b.hi, a.hi, _CMP_LT_OQ))};
}
inline V8 unless_zero(V8 t, V8 x) {
  const __m256d z = _mm256_setzero_pd();
  return {_mm256_andnot_pd(_mm256_cmp_pd(t.lo, z, _CMP_EQ_OQ), x.lo),
          _mm256_andnot_pd(_mm256_cmp_pd(t.hi, z, _CMP_EQ_OQ), x.hi)};
}
template <int A>
inline V8 lane(V8 a) {
  static_assert(A >= 0 && A < 4, "a lane of the low half");
  const __m256d x = _mm256_permute4x64_pd(a.lo, A * 0x55);
  return {x, x};
}

#endif

#endif
