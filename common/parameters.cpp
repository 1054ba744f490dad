#include "parameters.h"

#include <cassert>
#include <cmath>

#include "filters.h"

double feature(MAT* Phi, VEC* L) {
  assert(Phi->m == L->dim && Phi->n == L->dim);
  VEC* tmp = v_get(L->dim);
  mv_mlt(Phi, L, tmp);
  double res = _in_prod(L, tmp, 0);
  v_free(tmp);
  return res;
}

VEC* features(MAT* Phi, MAT* illumination) {
  VEC* res = v_get(illumination->m);
  VEC* tmp = v_get(illumination->n);
  for (unsigned int k = 0; k < illumination->m; k++) {
    get_row(illumination, k, tmp);
    res->ve[k] = feature(Phi, tmp);
  }
  v_free(tmp);
  return res;
}

MAT* get_matrix_of_row(MAT* P, unsigned int k) {
  assert(P->n == 6);
  assert(k < P->m);
  const double* p = P->me[k];
  MAT* res = m_get(3, 3);
  res->me[0][0] = p[0];
  res->me[0][1] = p[1];
  res->me[0][2] = p[2];
  res->me[1][0] = p[1];
  res->me[1][1] = p[3];
  res->me[1][2] = p[4];
  res->me[2][0] = p[2];
  res->me[2][1] = p[4];
  res->me[2][2] = p[5];
  return res;
}

void pmtrs(VEC* x, VEC* y, double* mu, double* sigma) {
  assert(x->dim == y->dim);
  const unsigned int N = x->dim;
  double sum = 0.0;
  for (unsigned int i = 0; i < N; i++) sum += x->ve[i] - y->ve[i];
  *mu = sum / N;
  double acc = 0.0;
  for (unsigned int i = 0; i < N; i++) {
    double d = x->ve[i] - y->ve[i] - *mu;
    acc += d * d;
  }
  *sigma = std::sqrt(acc / N);
}

int zero_spread(const VEC* sigma) {
  for (unsigned int f = 0; f < sigma->dim; f++)
    if (sigma->ve[f] == 0.0) return static_cast<int>(f);
  return -1;
}

std::string zero_spread_text(const Filters* bank, int f) {
  return "filter " + std::to_string(f) + " \"" + filter_name(bank, static_cast<u_int>(f)) +
         "\": sigma is 0, so every distance to the model would be infinite or not a number";
}

MAT* TrainingSet::parameters(Filters* fltrs, VEC* mu, VEC* sigma) {
  check_bank(fltrs);
  MatrixMultiple* normals = build_normals();
  MAT* filtering;
  try {
    filtering = normals->filtering_matrix(fltrs);
  } catch (...) {
    delete normals;
    throw;
  }
  assert(mu->dim == fltrs->F);
  assert(sigma->dim == fltrs->F);
  for (u_int k = 0; k < fltrs->F; k++) {
    MAT* Phi = get_matrix_of_row(filtering, k);
    VEC* x = features(Phi, illumination);
    VEC* y = images->uncorrelated_filter_response(fltrs->filters[k]);
    pmtrs(x, y, &mu->ve[k], &sigma->ve[k]);
    m_free(Phi);
    v_free(x);
    v_free(y);
  }
  delete normals;
  return filtering;
}
