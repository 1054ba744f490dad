// Direct correlation of a kernel with a matrix over the valid region.
//
// For a kernel of fm x fn and a matrix of im x in, the response at top-left
// position (i, j), 0 <= i <= im - fm, 0 <= j <= in - fn, is
//   r(i, j) = sum_{k < fm} sum_{l < fn} kernel[k][l] * image[i + k][j + l],
// a correlation (the kernel is not flipped), summed from 0 with k outer and l
// inner. No border handling and no transform: every output is that sum, so
// every implementation here gives the same bits as the plain definition.
#ifndef TI_CORRELATION_H
#define TI_CORRELATION_H

#include <string>

#include "meschach.h"

// Raises a DataError when the kernel is larger than the matrix in either
// direction; `what` names the matrix for the message.
void check_kernel_fits(const MAT* kernel, const MAT* image, const char* what);

// Writes r(i, j) for the whole valid region into out[i * (in - fn + 1) + j].
// The kernel must fit (check_kernel_fits).
void correlate(const MAT* kernel, const MAT* image, double* out);

#endif
