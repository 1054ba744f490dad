// Filter-response features of an image: the population variance of each
// filter's correlation over all positions where the kernel lies wholly
// inside the image.
//
// image_response and variance_of_filtered_values are the fast versions (the
// plain ones when built with TI_PLAIN_KERNELS=ON); the _plain functions are
// the definition written straightforwardly, kept for comparison. Both give
// the same bits: every response is the same sum (correlation.h), and each
// variance is summed in the same order.
#ifndef TI_RESPONSE_H
#define TI_RESPONSE_H

#include "class.h"

// The population variance (two passes: the mean, then the mean squared
// deviation, both dividing by the number of positions N, in row-major order)
// of the filter's responses over the valid region. A kernel larger than the
// image raises a DataError.
double variance_of_filtered_values(MAT* filter, MAT* image);
double variance_of_filtered_values_plain(MAT* filter, MAT* image);

// The new F-vector whose element k is variance_of_filtered_values of kernel k
// and the image. Caller frees.
VEC* image_response(Filters* fltrs, MAT* image);
VEC* image_response_plain(Filters* fltrs, MAT* image);
VEC* image_response_fast(Filters* fltrs, MAT* image);

// The same over the counted positions (mask.h) of the mask `inside` (the
// image's m n bytes, 1 on the surface; null for none): each variance the
// two passes above over the counted responses in row-major order, N their
// number. Where every position counts it is image_response itself, bit for
// bit. A kernel that leaves no position counted raises a DataError (no
// counted position, mask.h). Caller frees.
VEC* image_response(Filters* fltrs, MAT* image, const unsigned char* inside);
VEC* image_response_plain(Filters* fltrs, MAT* image, const unsigned char* inside);
VEC* image_response_fast(Filters* fltrs, MAT* image, const unsigned char* inside);

#endif
