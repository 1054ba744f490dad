#include "training_set.h"

#include <cassert>
#include <cmath>
#include <string>

#include "auxillary.h"
#include "data_error.h"
#include "filters.h"
#include "matrix_multiple.h"
#include "surface.h"

MAT* image(Surface* surface, Index in) {
  assert(in.q < surface->Q);
  assert(in.d < surface->T);
  assert(in.z < surface->S);
  return surface->read_image(in.q, in.z, in.d);
}

Index* tilts(int q, int z, unsigned int K, const int* d) {
  Index* in = new Index[K];
  for (unsigned int k = 0; k < K; k++) {
    in[k].q = static_cast<unsigned int>(q);
    in[k].z = static_cast<unsigned int>(z);
    in[k].d = static_cast<unsigned int>(d[k]);
  }
  return in;
}

TrainingSet::TrainingSet(unsigned int KK, Surface* surface, const Index* in)
    : K(KK), images(nullptr), illumination(nullptr), m(0), n(0) {
  assert(KK >= 1);
  images = new MatrixMultiple(K);
  try {
    for (unsigned int k = 0; k < K; k++) images->matrices[k] = image(surface, in[k]);
    char first[kPathBytes];
    image_path(surface->name, in[0].q, surface->s[in[0].z], surface->t[in[0].d], first);
    source = first;
    m = images->matrices[0]->m;
    n = images->matrices[0]->n;
    images->m = m;
    images->n = n;
    for (unsigned int k = 1; k < K; k++) {
      const MAT* im = images->matrices[k];
      if (im->m != m || im->n != n) {
        char path[kPathBytes];
        image_path(surface->name, in[k].q, surface->s[in[k].z], surface->t[in[k].d], path);
        data_error(path, 0, "image size differs from the first image of the set",
                   std::to_string(im->n) + "x" + std::to_string(im->m) + " against " +
                       std::to_string(n) + "x" + std::to_string(m) + " of " + source);
      }
    }
  } catch (...) {
    delete images;
    throw;
  }
  illumination = m_get(K, 3);
  for (unsigned int k = 0; k < K; k++) {
    VEC* L = surface->illuminant(in[k].z, in[k].d);
    for (unsigned int c = 0; c < 3; c++) illumination->me[k][c] = L->ve[c];
    v_free(L);
  }
}

void TrainingSet::check_bank(const Filters* fltrs) const {
  for (u_int k = 0; k < fltrs->F; k++) {
    const MAT* kernel = fltrs->filters[k];
    if (kernel->m > m || kernel->n > n)
      data_error(fltrs->source, 0,
                 "filter " + std::to_string(k) + " \"" + filter_name(fltrs, k) + "\" of " +
                     std::to_string(kernel->n) + "x" + std::to_string(kernel->m) +
                     " is larger than the image" + (source.empty() ? "s" : " " + source) + " of " +
                     std::to_string(n) + "x" + std::to_string(m));
  }
}

TrainingSet::TrainingSet(MatrixMultiple* iimages, MAT* iillumination)
    : K(iimages->K), images(iimages), illumination(iillumination), m(iimages->m), n(iimages->n) {
  assert(K >= 1 && illumination->m == K && illumination->n == 3);
}

TrainingSet::~TrainingSet() {
  delete images;
  if (illumination) m_free(illumination);
}

namespace {

void check_lights(const MAT* L) {
  const std::string problem = lights_problem(L);
  if (!problem.empty()) data_error_text(problem);
}

}  // namespace

// Photometric stereo needs L^T L invertible: at least three light vectors
// that do not lie in one plane. The test is relative to the vectors' scale.
std::string lights_problem(const MAT* L) {
  if (L->m < 3)
    return "Photometric stereo needs at least 3 images, the training set has " +
           std::to_string(L->m);
  double a[3][3] = {{0}};
  for (unsigned int k = 0; k < L->m; k++)
    for (int r = 0; r < 3; r++)
      for (int c = 0; c < 3; c++) a[r][c] += L->me[k][r] * L->me[k][c];
  double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
               a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  double scale = (a[0][0] + a[1][1] + a[2][2]) / 3.0;
  if (!(std::fabs(det) > 1e-10 * scale * scale * scale))
    return "Photometric stereo needs light vectors that are not coplanar; the " +
           std::to_string(L->m) + " lights of the training set lie in one plane";
  return "";
}

MatrixMultiple* build_normals_plain(TrainingSet* t) {
  check_lights(t->illumination);
  MatrixMultiple* normals = new MatrixMultiple(3, t->m, t->n);
  MAT* R = left_inverse(t->illumination);
  VEC* x = v_get(t->K);
  VEC* y = v_get(3);
  for (unsigned int i = 0; i < t->m; i++) {
    for (unsigned int j = 0; j < t->n; j++) {
      for (unsigned int k = 0; k < t->K; k++) x->ve[k] = t->images->matrices[k]->me[i][j];
      mv_mlt(R, x, y);
      normals->matrices[0]->me[i][j] = y->ve[0];
      normals->matrices[1]->me[i][j] = y->ve[1];
      normals->matrices[2]->me[i][j] = y->ve[2];
    }
  }
  v_free(x);
  v_free(y);
  m_free(R);
  return normals;
}

// Row by row, each component plane as a whole row: component r of pixel j
// is 0 + R[r][0] x_0 + R[r][1] x_1 + ..., the matrix library's inner product
// in its order, so the result is bit-identical, with the loop over the
// pixels of a row innermost where the compiler vectorises it.
MatrixMultiple* build_normals_fast(TrainingSet* t) {
  check_lights(t->illumination);
  MatrixMultiple* normals = new MatrixMultiple(3, t->m, t->n);
  MAT* R = left_inverse(t->illumination);
  const unsigned int n = t->n;
  for (unsigned int i = 0; i < t->m; i++) {
    for (unsigned int r = 0; r < 3; r++) {
      double* out = normals->matrices[r]->me[i];
      const double* coefficients = R->me[r];
      for (unsigned int j = 0; j < n; j++) out[j] = 0.0;
      for (unsigned int k = 0; k < t->K; k++) {
        const double c = coefficients[k];
        const double* x = t->images->matrices[k]->me[i];
        for (unsigned int j = 0; j < n; j++) out[j] += c * x[j];
      }
    }
  }
  m_free(R);
  return normals;
}

MatrixMultiple* TrainingSet::build_normals() {
#ifdef TI_PLAIN_KERNELS
  return build_normals_plain(this);
#else
  return build_normals_fast(this);
#endif
}

MAT* normal_lengths(const MatrixMultiple* g) {
  MAT* lengths = m_get(g->m, g->n);
  for (unsigned int i = 0; i < g->m; i++)
    for (unsigned int j = 0; j < g->n; j++) {
      const double x = g->matrices[0]->me[i][j], y = g->matrices[1]->me[i][j],
                   z = g->matrices[2]->me[i][j];
      lengths->me[i][j] = std::sqrt(x * x + y * y + z * z);
    }
  return lengths;
}

MatrixMultiple* unit_normals(const MatrixMultiple* g) {
  MatrixMultiple* unit = new MatrixMultiple(3, g->m, g->n);
  MAT* lengths = normal_lengths(g);
  for (unsigned int i = 0; i < g->m; i++)
    for (unsigned int j = 0; j < g->n; j++) {
      const double length = lengths->me[i][j];
      if (length > 0.0)
        for (int c = 0; c < 3; c++) unit->matrices[c]->me[i][j] = g->matrices[c]->me[i][j] / length;
    }
  m_free(lengths);
  return unit;
}
