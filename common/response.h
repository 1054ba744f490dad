// Filter-response features of an image: the population variance of each
// filter's correlation over all positions where the kernel lies wholly
// inside the image.
#ifndef TI_RESPONSE_H
#define TI_RESPONSE_H

#include "class.h"

// The population variance (two passes: mean, then mean squared deviation,
// both dividing by the number of positions N) of the filter's responses over
// the valid region. A kernel larger than the image raises a DataError.
double variance_of_filtered_values(MAT* filter, MAT* image);

// The new F-vector whose element k is variance_of_filtered_values of kernel k
// and the image. Caller frees.
VEC* image_response(Filters* fltrs, MAT* image);

#endif
