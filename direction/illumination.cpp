#include "illumination.h"

#include <cassert>
#include <cmath>

#include "class_surface.h"
#include "distance.h"

VEC* difference_illumination_response_plain(VEC** L, u_int K, VEC* D, MAT* Phi, VEC* mu,
                                            VEC* sigma) {
  VEC* res = v_get(K);
  for (u_int k = 0; k < K; k++) res->ve[k] = delta(D, L[k], Phi, mu, sigma);
  return res;
}

// The fast version forms the quadratic terms of the K vectors once and scans
// them with the distance kernels, which keep delta's order of operations:
// every element equals delta(D, L[k], Phi, mu, sigma) to the last bit.
VEC* difference_illumination_response(VEC** L, u_int K, VEC* D, MAT* Phi, VEC* mu, VEC* sigma) {
#ifdef TI_PLAIN_KERNELS
  return difference_illumination_response_plain(L, K, D, Phi, mu, sigma);
#else
  assert(Phi->n == 6);
  assert(Phi->m == D->dim);
  VEC* res = v_get(K);
  if (K > 0) {
    for (u_int k = 0; k < K; k++) assert(L[k]->dim == 3);
    deltas(light_terms(L, K), Phi, D->ve, mu->ve, sigma->ve, res->ve);
  }
  return res;
#endif
}

u_int best_fit_index(VEC** L, u_int K, VEC* D, MAT* Phi, VEC* mu, VEC* sigma, VEC** distances) {
  VEC* diff = difference_illumination_response(L, K, D, Phi, mu, sigma);
  int k;
  v_min(diff, &k);
  *distances = diff;
  return static_cast<u_int>(k);
}

VEC* best_fit_illumination(VEC** L, u_int K, VEC* D, MAT* Phi, VEC* mu, VEC* sigma) {
  VEC* diff;
  const u_int k = best_fit_index(L, K, D, Phi, mu, sigma, &diff);
  v_free(diff);
  return L[k];
}

double angular_error(VEC* v, VEC* u) {
  const double p = _in_prod(u, v, 0);
  const double nu = _v_norm2(u, VNULL);
  const double nv = _v_norm2(v, VNULL);
  double c = p / (nv * nu);
  // Rounding can carry the quotient of parallel vectors just past 1.
  if (c > 1.0) c = 1.0;
  if (c < -1.0) c = -1.0;
  return std::acos(c) * 180.0 / 3.141592653589793;
}

double angular_azimuth_error(VEC* v, VEC* u) {
  VEC* v2 = v_get(2);
  VEC* u2 = v_get(2);
  v2->ve[0] = v->ve[0];
  v2->ve[1] = v->ve[1];
  u2->ve[0] = u->ve[0];
  u2->ve[1] = u->ve[1];
  const double res = angular_error(v2, u2);
  v_free(v2);
  v_free(u2);
  return res;
}

double v_proporion_of_smaller_values(VEC* v, double d) {
  unsigned int count = 0;
  for (unsigned int i = 0; i < v->dim; i++)
    if (v->ve[i] < d) count++;
  return static_cast<double>(count) / v->dim;
}

double ratio_of_values(VEC* v, double d) {
  int i;
  const double Mx = v_max(v, &i);
  const double Mn = v_min(v, &i);
  return std::fabs(d - Mn) / (Mx - Mn);
}

double proporion_of_smaller_values(VEC* L_true, VEC** L, u_int K, VEC* D, MAT* Phi, VEC* mu,
                                   VEC* sigma, double* ratio) {
  VEC* diff = difference_illumination_response(L, K, D, Phi, mu, sigma);
  const double d = delta(D, L_true, Phi, mu, sigma);
  const double res = v_proporion_of_smaller_values(diff, d);
  *ratio = ratio_of_values(diff, d);
  v_free(diff);
  return res;
}
