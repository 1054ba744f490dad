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

// The six quadratic terms of L = (x, y, z) in the order of a row of P:
// x x, (x + x) y, (x + x) z, y y, (y + y) z, z z.
void quadratic_terms(const VEC* L, double q[6]);

// The new vector Phi q(L): per row f of Phi (6 columns), the predicted
// response variance under L. Caller frees.
VEC* feature_vector(MAT* Phi, VEC* L);

// The normalised distance sqrt(sum_k (((Delta_k - D_k) - mu_k) / sigma_k)^2)
// between the response vector D and the model's prediction Delta at L.
double delta(VEC* D, VEC* L, MAT* Phi, VEC* mu, VEC* sigma);

// The square of delta at a light vector whose quadratic terms are q, with
// the prediction formed in place in delta's order of operations (the matrix
// library's inner product: from 0, terms 0 to 5 in turn), so that its square
// root is delta to the last bit. P holds F rows of 6 coefficients.
inline double squared_delta(const double q[6], double const* const* P, const double* D,
                            const double* mu, const double* sigma, unsigned int F) {
  double res = 0.0;
  for (unsigned int f = 0; f < F; f++) {
    const double* p = P[f];
    double pred = 0.0;
    pred += p[0] * q[0];
    pred += p[1] * q[1];
    pred += p[2] * q[2];
    pred += p[3] * q[3];
    pred += p[4] * q[4];
    pred += p[5] * q[5];
    const double tmp = ((pred - D[f]) - mu[f]) / sigma[f];
    res = res + tmp * tmp;
  }
  return res;
}

// weighted_distance written as its definition: the minimum of delta over the
// space, a new prediction vector per light vector. The reference that the
// allocation-free ClassSurface::weighted_distance is tested against.
double weighted_distance_plain(ClassSurface* model, VEC* response, ISpace* ispace);

#endif
