// Illumination-direction estimation and its error measures.
//
// An illumination array is a plain array of K pointers to 3-vectors (from
// vector_array), owned by the caller. The model is passed as Phi (F x 6), mu
// and sigma (F each); D is a response vector of F elements. Angles are in
// degrees.
#ifndef TI_ILLUMINATION_H
#define TI_ILLUMINATION_H

#include "class.h"

// The new vector of delta(D, L[k], Phi, mu, sigma) for k < K. Caller frees.
VEC* difference_illumination_response(VEC** L, u_int K, VEC* D, MAT* Phi, VEC* mu, VEC* sigma);

// The same, written as its definition: delta at each vector in turn.
VEC* difference_illumination_response_plain(VEC** L, u_int K, VEC* D, MAT* Phi, VEC* mu,
                                            VEC* sigma);

// The sampled vector of smallest distance (the lowest index among equals):
// a pointer into L, not a copy; the caller must not free it. K >= 1.
VEC* best_fit_illumination(VEC** L, u_int K, VEC* D, MAT* Phi, VEC* mu, VEC* sigma);
// The index of that vector, with every distance: *distances receives the new
// vector difference_illumination_response (caller frees). K >= 1.
u_int best_fit_index(VEC** L, u_int K, VEC* D, MAT* Phi, VEC* mu, VEC* sigma, VEC** distances);

// The angle between v and u in degrees, 0 to 180. The cosine is clamped to
// [-1, 1], so parallel vectors give exactly 0 or 180; a zero vector gives NaN.
double angular_error(VEC* v, VEC* u);

// angular_error of the x-y projections of v and u.
double angular_azimuth_error(VEC* v, VEC* u);

// The share of entries of v strictly smaller than d.
double v_proporion_of_smaller_values(VEC* v, double d);

// |d - min v| / (max v - min v).
double ratio_of_values(VEC* v, double d);

// The share of the K sampled vectors whose distance is strictly smaller than
// the distance at L_true; *ratio receives ratio_of_values of that distance.
double proporion_of_smaller_values(VEC* L_true, VEC** L, u_int K, VEC* D, MAT* Phi, VEC* mu,
                                   VEC* sigma, double* ratio);

#endif
