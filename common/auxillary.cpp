#include "auxillary.h"

#include <mutex>

namespace {

// The matrix library's inverse works in static workspace of its own, so
// threads must not run it at the same time.
std::mutex inverse_workspace;

void inverse(MAT* A, MAT* out) {
  std::lock_guard<std::mutex> lock(inverse_workspace);
  m_inverse(A, out);
}

}  // namespace

MAT* left_inverse(MAT* A) {
  MAT* B = m_get(A->n, A->m);
  MAT* AtA = m_get(A->n, A->n);
  MAT* inverse_matrix = m_get(A->n, A->n);
  mtrm_mlt(A, A, AtA);
  inverse(AtA, inverse_matrix);
  mmtr_mlt(inverse_matrix, A, B);
  m_free(AtA);
  m_free(inverse_matrix);
  return B;
}

MAT* right_inverse(MAT* A) {
  MAT* B = m_get(A->n, A->m);
  MAT* AAt = m_get(A->m, A->m);
  MAT* inverse_matrix = m_get(A->m, A->m);
  mmtr_mlt(A, A, AAt);
  inverse(AAt, inverse_matrix);
  mtrm_mlt(A, inverse_matrix, B);
  m_free(AAt);
  m_free(inverse_matrix);
  return B;
}

void print_vector(FILE* f, const char* preliminary, VEC* vector) {
  std::fprintf(f, "%s\n", preliminary);
  for (unsigned int i = 0; i < vector->dim; i++) std::fprintf(f, "%0.6lf   ", vector->ve[i]);
  std::fprintf(f, "\n");
}

void print_matrix(FILE* f, const char* preliminary, MAT* matrix) {
  std::fprintf(f, "%s\n", preliminary);
  for (unsigned int i = 0; i < matrix->m; i++) {
    const double* row = matrix->me[i];
    for (unsigned int j = 0; j < matrix->n; j++) std::fprintf(f, "%0.6lf   ", row[j]);
    std::fprintf(f, "\n");
  }
}

void print_LATEX_matrix(FILE* f, MAT* M) {
  std::fprintf(f, "\\begin{tabular}{");
  for (unsigned int j = 0; j < M->n; j++) std::fprintf(f, "l");
  std::fprintf(f, "}\n");
  for (unsigned int i = 0; i < M->m; i++) {
    std::fprintf(f, "%.2lf", M->me[i][0]);
    for (unsigned int j = 1; j < M->n; j++) std::fprintf(f, "&%.2lf", M->me[i][j]);
    std::fprintf(f, "\\\\\n");
  }
  std::fprintf(f, "\\end{tabular}\n\n");
}

void bubble_single(VEC* values, int* array) {
  if (values->dim < 2) return;
  double* v = values->ve;
  for (unsigned int k = 0; k + 1 < values->dim; k++) {
    if (v[k + 1] > v[k]) {
      double tmp = v[k];
      v[k] = v[k + 1];
      v[k + 1] = tmp;
      int a = array[k];
      array[k] = array[k + 1];
      array[k + 1] = a;
    }
  }
}

void bubble(VEC* values, int* array) {
  for (unsigned int pass = 0; pass < values->dim; pass++) bubble_single(values, array);
}
