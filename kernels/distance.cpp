#include "distance.h"

#include <cmath>

#include "correlation.h"
#include "wide.h"

void quadratic_terms(const VEC* L, double q[6]) {
  const double x = L->ve[0], y = L->ve[1], z = L->ve[2];
  q[0] = x * x;
  q[1] = (x + x) * y;
  q[2] = (x + x) * z;
  q[3] = y * y;
  q[4] = (y + y) * z;
  q[5] = z * z;
}

LightTerms light_terms(VEC* const* L, size_t K) {
  LightTerms lights;
  lights.K = K;
  lights.stride = (K + 7) / 8 * 8;
  lights.terms.resize(6 * lights.stride);
  for (size_t k = 0; k < lights.stride; k++) {
    double q[6];
    quadratic_terms(L[k < K ? k : K - 1], q);
    for (int c = 0; c < 6; c++) lights.terms[c * lights.stride + k] = q[c];
  }
  return lights;
}

double squared_delta_at(const double* terms, size_t stride, size_t k, const MAT* P, const double* D,
                        const double* mu, const double* sigma) {
  const double q[6] = {terms[k],
                       terms[stride + k],
                       terms[2 * stride + k],
                       terms[3 * stride + k],
                       terms[4 * stride + k],
                       terms[5 * stride + k]};
  return squared_delta(q, P->me, D, mu, sigma, P->m);
}

void deltas(const LightTerms& lights, const MAT* P, const double* D, const double* mu,
            const double* sigma, double* out) {
  if (have_wide_kernels()) return deltas_wide(lights, P, D, mu, sigma, out);
  if (have_avx2()) return deltas_avx2(lights, P, D, mu, sigma, out);
  for (size_t k = 0; k < lights.K; k++)
    out[k] = std::sqrt(squared_delta_at(lights.terms.data(), lights.stride, k, P, D, mu, sigma));
}

double min_squared_delta(const LightTerms& lights, const MAT* P, const double* D, const double* mu,
                         const double* sigma) {
  if (have_wide_kernels()) return min_squared_delta_wide(lights, P, D, mu, sigma);
  if (have_avx2()) return min_squared_delta_avx2(lights, P, D, mu, sigma);
  double best = 0.0;
  for (size_t k = 0; k < lights.K; k++) {
    const double res = squared_delta_at(lights.terms.data(), lights.stride, k, P, D, mu, sigma);
    if (k == 0 || res < best) best = res;
  }
  return best;
}
