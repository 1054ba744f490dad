// Direct correlation of a kernel with a matrix over the valid region.
//
// For a kernel of fm x fn and a matrix of im x in, the response at top-left
// position (i, j), 0 <= i <= im - fm, 0 <= j <= in - fn, is
//   r(i, j) = sum_{k < fm} sum_{l < fn} kernel[k][l] * image[i + k][j + l],
// a correlation (the kernel is not flipped), summed from 0 with k outer and l
// inner. No border handling and no transform: every implementation here
// forms each output as exactly that sum, so all give the same bits.
//
// correlate() is the one the system uses: the fast version, or the plain one
// when the project is configured with TI_PLAIN_KERNELS=ON.
#ifndef TI_CORRELATION_H
#define TI_CORRELATION_H

#include <cstddef>
#include <string>

#include "meschach.h"

// Raises a DataError when the kernel is larger than the matrix in either
// direction; `what` names the matrix for the message.
void check_kernel_fits(const MAT* kernel, const MAT* image, const char* what);

// Writes r(i, j) for the whole valid region into out[i * (in - fn + 1) + j].
// The kernel must fit (check_kernel_fits).
void correlate(const MAT* kernel, const MAT* image, double* out);

// The definition written straightforwardly: one output at a time.
void correlate_plain(const MAT* kernel, const MAT* image, double* out);

// Outputs in blocks, vectorised across outputs (AVX2 where the processor has
// it, else portable blocks the compiler vectorises).
void correlate_fast(const MAT* kernel, const MAT* image, double* out);

// Outputs in blocks of eight that the compiler vectorises for any
// instruction set: the fast version where AVX2 is missing.
void correlate_blocked(const MAT* kernel, const MAT* image, double* out);

// The AVX2 kernel (correlation_avx2.cpp); call only where the processor has
// AVX2.
void correlate_avx2(const MAT* kernel, const MAT* image, double* out);

// True when the fast kernels may use AVX2 on this processor, unless the
// environment holds TI_PORTABLE_KERNELS=1 (read once): then false, so that
// the portable versions run.
bool have_avx2();

#endif
