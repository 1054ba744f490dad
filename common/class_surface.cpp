#include "class_surface.h"

#include <cassert>
#include <cmath>
#include <cstring>

#include "data_error.h"
#include "distance.h"
#include "training_set.h"

VEC* ill_vector(double t, double s, double m) {
  VEC* v = v_get(3);
  v->ve[0] = std::cos(s) * std::cos(t);
  v->ve[1] = std::cos(s) * std::sin(t);
  v->ve[2] = std::sin(s);
  sv_mlt(m, v, v);
  return v;
}

VEC** vector_array(double T0, double TN, u_int T, double S0, double SN, u_int S, double M0,
                   double MN, u_int M) {
  const u_int count = T * S * M;
  VEC** array = new VEC*[count];
  for (u_int d = 0; d < T; d++) {
    const double t = d * (TN - T0) / T + T0;
    for (u_int z = 0; z < S; z++) {
      const double s = z * (SN - S0) / S + S0;
      for (u_int n = 0; n < M; n++) {
        const double m = n * (MN - M0) / M + M0;
        array[(d * S + z) * M + n] = ill_vector(t, s, m);
      }
    }
  }
  return array;
}

ISpace::ISpace(double T0, double TN, unsigned T, double S0, double SN, unsigned S, double M0,
               double MN, unsigned M)
    : K(T * S * M),
      ivec(vector_array(T0, TN, T, S0, SN, S, M0, MN, M)),
      terms(new LightTerms(light_terms(ivec, K))) {}

ISpace::~ISpace() {
  for (u_int k = 0; k < K; k++) v_free(ivec[k]);
  delete[] ivec;
  delete terms;
}

void print_index(FILE* f, Index in) {
  std::fprintf(f, "%d %d %d\n", static_cast<int>(in.q), static_cast<int>(in.d),
               static_cast<int>(in.z));
}

VEC* feature_vector(MAT* Phi, VEC* L) {
  assert(L->dim == 3);
  assert(Phi->n == 6);
  VEC* terms = v_get(6);
  quadratic_terms(L, terms->ve);
  VEC* res = v_get(Phi->m);
  mv_mlt(Phi, terms, res);
  v_free(terms);
  return res;
}

double delta(VEC* D, VEC* L, MAT* Phi, VEC* mu, VEC* sigma) {
  VEC* Delta = feature_vector(Phi, L);
  assert(Delta->dim == D->dim);
  double res = 0.0;
  for (unsigned int k = 0; k < D->dim; k++) {
    double tmp = ((Delta->ve[k] - D->ve[k]) - mu->ve[k]) / sigma->ve[k];
    res = res + tmp * tmp;
  }
  v_free(Delta);
  return std::sqrt(res);
}

double weighted_distance_plain(ClassSurface* model, VEC* response, ISpace* ispace) {
  double res = delta(response, ispace->ivec[0], model->P, model->mu, model->sigma);
  for (u_int k = 1; k < ispace->K; k++) {
    double d = delta(response, ispace->ivec[k], model->P, model->mu, model->sigma);
    if (d < res) res = d;
  }
  return res;
}

namespace {

// The model's P, mu and sigma from the training set; none is left allocated
// when it throws.
void fit(ClassSurface* model, TrainingSet* tset) {
  model->mu = v_get(model->filters->F);
  model->sigma = v_get(model->filters->F);
  try {
    model->P = tset->parameters(model->filters, model->mu, model->sigma);
  } catch (...) {
    v_free(model->mu);
    v_free(model->sigma);
    model->mu = model->sigma = nullptr;
    throw;
  }
}

}  // namespace

ClassSurface::ClassSurface(Filters* ff, Surface* surface, unsigned int KK, const Index* in)
    : filters(ff), P(nullptr), mu(nullptr), sigma(nullptr) {
  std::snprintf(name, sizeof name, "%s", surface->name);
  TrainingSet tset(KK, surface, in);
  fit(this, &tset);
}

ClassSurface::ClassSurface(Filters* ff, const char* nname, TrainingSet* tset)
    : filters(ff), P(nullptr), mu(nullptr), sigma(nullptr) {
  std::snprintf(name, sizeof name, "%s", nname);
  fit(this, tset);
}

ClassSurface::ClassSurface(const ClassSurface& model, const std::string& nname)
    : filters(model.filters), P(nullptr), mu(nullptr), sigma(nullptr) {
  if (nname.size() >= sizeof name)
    data_error_text("the name \"" + printable(nname) + "\" is longer than 79 characters");
  std::memcpy(name, nname.c_str(), nname.size() + 1);
  P = m_copy(model.P, MNULL);
  mu = v_copy(model.mu, VNULL);
  sigma = v_copy(model.sigma, VNULL);
}

ClassSurface::~ClassSurface() {
  if (P) m_free(P);
  if (mu) v_free(mu);
  if (sigma) v_free(sigma);
}

// The minimum over the space of delta's sum of squares (distance.h), with
// no allocation per light vector. The square root is taken once at the end:
// it is monotonic, so the result is bit for bit the minimum of delta, NaN
// included.
double ClassSurface::weighted_distance(VEC* response, ISpace* ispace) {
  assert(ispace->K >= 1);
  assert(P->n == 6);
  assert(P->m == response->dim);
#ifdef TI_PLAIN_KERNELS
  return weighted_distance_plain(this, response, ispace);
#else
  return std::sqrt(min_squared_delta(*ispace->terms, P, response->ve, mu->ve, sigma->ve));
#endif
}
