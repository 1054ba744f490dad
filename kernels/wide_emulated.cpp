// The 512-bit kernels built for AVX2, each vector a pair of 256-bit ones
// (wide.h): this file alone is compiled with -mavx2 (and without FMA).
#define TI_VEC8_NATIVE 0
#define TI_WIDE_NAMESPACE wide_emulated
#include "wide_kernels.inc"
