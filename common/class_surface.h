// The sampled illumination space and the surface class model.
//
// Angles here are in radians. A sampled illumination vector of tilt t,
// elevation s (above the image plane) and magnitude m is
// m (cos s cos t, cos s sin t, sin s); its length scales the predictions by m^2.
#ifndef TI_CLASS_SURFACE_H
#define TI_CLASS_SURFACE_H

#include <cstdio>

#include "class.h"

// The new vector m (cos s cos t, cos s sin t, sin s). Caller frees.
VEC* ill_vector(double t, double s, double m);

// A new array of T S M new vectors: for d < T (outer), z < S, n < M (inner),
// entry (d S + z) M + n is ill_vector(d (TN-T0)/T + T0, z (SN-S0)/S + S0,
// n (MN-M0)/M + M0). The ranges are half-open. Caller frees every vector and
// delete[]s the array.
VEC** vector_array(double T0, double TN, u_int T, double S0, double SN, u_int S, double M0,
                   double MN, u_int M);

// Writes "q d z\n".
void print_index(FILE* f, Index in);

// The new vector Phi q(L): per row f of Phi (6 columns), the predicted
// response variance under L. Caller frees.
VEC* feature_vector(MAT* Phi, VEC* L);

// The normalised distance sqrt(sum_k (((Delta_k - D_k) - mu_k) / sigma_k)^2)
// between the response vector D and the model's prediction Delta at L.
double delta(VEC* D, VEC* L, MAT* Phi, VEC* mu, VEC* sigma);

// weighted_distance written as its definition: the minimum of delta over the
// space, a new prediction vector per light vector. The reference that the
// allocation-free ClassSurface::weighted_distance is tested against.
double weighted_distance_plain(ClassSurface* model, VEC* response, ISpace* ispace);

#endif
