// The 512-bit kernels built for AVX-512F (wide.h): this file alone is
// compiled with -mavx512f (and without FMA).
#define TI_VEC8_NATIVE 1
#define TI_WIDE_NAMESPACE wide_avx512
#include "wide_kernels.inc"
