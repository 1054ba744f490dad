#include "matrix_multiple.h"

#include <sys/stat.h>

#include <cassert>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "auxillary.h"
#include "correlation.h"
#include "data_error.h"
#include "number.h"
#include "text_line.h"

double single_filtered_value(MAT* filter, MAT* image, int i, int j) {
  assert(i + filter->m <= image->m);
  assert(j + filter->n <= image->n);
  double res = 0.0;
  for (unsigned int k = 0; k < filter->m; k++) {
    const double* f = filter->me[k];
    const double* x = image->me[i + k] + j;
    for (unsigned int l = 0; l < filter->n; l++) res = res + f[l] * x[l];
  }
  return res;
}

MatrixMultiple::MatrixMultiple(unsigned int KK) : K(KK), m(0), n(0), matrices(new MAT*[KK]()) {}

MatrixMultiple::MatrixMultiple(unsigned int KK, unsigned int mm, unsigned int nn)
    : K(KK), m(0), n(0), matrices(new MAT*[KK]()) {
  initialise(mm, nn);
}

void MatrixMultiple::initialise(unsigned int mm, unsigned int nn) {
  m = mm;
  n = nn;
  for (unsigned int k = 0; k < K; k++) matrices[k] = m_get(mm, nn);
}

MatrixMultiple::~MatrixMultiple() {
  if (matrices) {
    for (unsigned int k = 0; k < K; k++)
      if (matrices[k]) m_free(matrices[k]);
  }
  delete[] matrices;
}

namespace {

const char kHeaderCheck[] = "fgets(buffer, sizeof(buffer), f)!=__null";
const char kValueCheck[] = "fgets(buffer, sizeof(buffer), f) != __null";

}  // namespace

MatrixMultiple::MatrixMultiple(const char* filename) : K(3), m(0), n(0), matrices(nullptr) {
  FILE* f = std::fopen(filename, "r");
  if (!f) {
    if (errno != ENOENT) read_error(filename, errno);
    data_error_text(std::string("Cannot open the normals file \"") + filename + "\"", ENOENT);
  }
  LineReader reader(f, filename);
  std::string line;
  try {
    if (!reader.next(line))
      reader.fail("the normals file ends before its header",
                  std::string("failed check: ") + kHeaderCheck);
    const char* p = line.c_str();
    long rows, cols;
    if (!scan_long(&p, &rows) || !scan_long(&p, &cols))
      reader.fail("Error: reading a file: wrong format\n",
                  "expected the numbers of rows and columns");
    if (rows < 1 || cols < 1 || rows > (1 << 15) || cols > (1 << 15))
      reader.fail("Error: reading a file: wrong format\n",
                  "rows and columns must be from 1 to 32768");
    // Every value takes a line of at least two bytes: refuse a header that
    // promises more values than the file can hold before allocating.
    struct stat st;
    if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) &&
        3.0 * rows * cols > static_cast<double>(st.st_size))
      reader.fail("the normals file ends early", "the header declares " +
                                                     std::to_string(3 * rows * cols) +
                                                     " values; failed check: " + kValueCheck);
    matrices = new MAT*[3]();
    initialise(static_cast<unsigned int>(rows), static_cast<unsigned int>(cols));
    for (unsigned int i = 0; i < m; i++) {
      for (unsigned int j = 0; j < n; j++) {
        for (unsigned int k = 0; k < 3; k++) {
          if (!reader.next(line))
            reader.fail("the normals file ends early", std::string("failed check: ") + kValueCheck);
          const char* s = line.c_str();
          double value;
          if (!scan_double(&s, &value))
            reader.fail("Convert normals file into matrices: error during transfer of values");
          matrices[k]->me[i][j] = value;
        }
      }
    }
  } catch (...) {
    std::fclose(f);
    if (matrices) {
      for (unsigned int k = 0; k < 3; k++)
        if (matrices[k]) m_free(matrices[k]);
      delete[] matrices;
    }
    throw;
  }
  std::fclose(f);
}

bool write_normals(FILE* f, MatrixMultiple* normals) {
  assert(normals->K == 3);
  if (std::fprintf(f, "%u %u\n", normals->m, normals->n) < 0) return false;
  for (unsigned int i = 0; i < normals->m; i++)
    for (unsigned int j = 0; j < normals->n; j++)
      for (unsigned int k = 0; k < 3; k++)
        if (std::fprintf(f, "%.17g\n", normals->matrices[k]->me[i][j]) < 0) return false;
  return true;
}

MatrixMultiple* MatrixMultiple::filter(MAT* filter) {
  for (unsigned int k = 0; k < K; k++)
    check_kernel_fits(filter, matrices[k], "matrices of a stack");
  if (K == 0 && (filter->m > m || filter->n > n))
    data_error_text("Filter kernel is larger than the matrices of a stack");
  const unsigned int mm = m - filter->m + 1, nn = n - filter->n + 1;
  MatrixMultiple* MM = new MatrixMultiple(K, mm, nn);
  for (unsigned int k = 0; k < K; k++) correlate(filter, matrices[k], MM->matrices[k]->base);
  return MM;
}

namespace {

// The means of the stack's matrices: each summed over its rows and columns
// in order, then multiplied by the reciprocal of the number of positions.
void stack_means(const MatrixMultiple* s, VEC* mean) {
  v_zero(mean);
  const double N = static_cast<double>(s->m * s->n);
  for (unsigned int k = 0; k < s->K; k++) {
    double sum = mean->ve[k];
    for (unsigned int i = 0; i < s->m; i++) {
      const double* row = s->matrices[k]->me[i];
      for (unsigned int j = 0; j < s->n; j++) sum += row[j];
    }
    mean->ve[k] = sum;
  }
  sv_mlt(1.0 / N, mean, mean);
}

}  // namespace

void distribution_plain(MatrixMultiple* s, VEC* mean, MAT* covariance) {
  assert(mean->dim == s->K);
  assert(covariance->m == s->K);
  assert(covariance->n == s->K);
  const unsigned int K = s->K, m = s->m, n = s->n;
  m_zero(covariance);
  stack_means(s, mean);
  const double N = static_cast<double>(m * n);
  MAT* tmp = m_get(m * n, K);
  for (unsigned int k = 0; k < K; k++) {
    const double mk = mean->ve[k];
    for (unsigned int i = 0; i < m; i++) {
      const double* row = s->matrices[k]->me[i];
      for (unsigned int j = 0; j < n; j++) tmp->me[i * n + j][k] = row[j] - mk;
    }
  }
  mtrm_mlt(tmp, tmp, covariance);
  m_free(tmp);
  sm_mlt(1.0 / N, covariance, covariance);
}

// The same sums without the m n x K copy: the matrix library's product
// tmp^T tmp adds, position by position in order, t_a t_b to element (a, b)
// for every a whose centred value t_a is not zero; so does this loop, one
// position at a time, and the results agree to the last bit.
void distribution_fast(MatrixMultiple* s, VEC* mean, MAT* covariance) {
  assert(mean->dim == s->K);
  assert(covariance->m == s->K);
  assert(covariance->n == s->K);
  const unsigned int K = s->K, m = s->m, n = s->n;
  m_zero(covariance);
  stack_means(s, mean);
  const double N = static_cast<double>(m * n);
  std::vector<double> t(K);
  std::vector<const double*> rows(K);
  double* const* c = covariance->me;
  for (unsigned int i = 0; i < m; i++) {
    for (unsigned int k = 0; k < K; k++) rows[k] = s->matrices[k]->me[i];
    for (unsigned int j = 0; j < n; j++) {
      for (unsigned int k = 0; k < K; k++) t[k] = rows[k][j] - mean->ve[k];
      for (unsigned int a = 0; a < K; a++) {
        const double ta = t[a];
        if (ta == 0.0) continue;
        double* ca = c[a];
        for (unsigned int b = 0; b < K; b++) ca[b] += ta * t[b];
      }
    }
  }
  sm_mlt(1.0 / N, covariance, covariance);
}

void MatrixMultiple::distribution(VEC* mean, MAT* covariance) {
#ifdef TI_PLAIN_KERNELS
  distribution_plain(this, mean, covariance);
#else
  distribution_fast(this, mean, covariance);
#endif
}

void MatrixMultiple::filter_response(MAT* m_filter, VEC* mean, MAT* covariance) {
  MatrixMultiple* filtered = filter(m_filter);
  filtered->distribution(mean, covariance);
  delete filtered;
}

VEC* stack_variances_plain(MatrixMultiple* s) {
  const unsigned int K = s->K;
  VEC* mean = v_get(K);
  MAT* cov = m_get(K, K);
  VEC* res = v_get(K);
  distribution_plain(s, mean, cov);
  for (unsigned int k = 0; k < K; k++) res->ve[k] = cov->me[k][k];
  v_free(mean);
  m_free(cov);
  return res;
}

// Only the diagonal of the covariance is needed: element (k, k) receives
// t_k t_k for every position with t_k not zero, as in distribution, and the
// same scaling; the other K (K - 1) products per position are not formed.
VEC* stack_variances_fast(MatrixMultiple* s) {
  const unsigned int K = s->K;
  VEC* mean = v_get(K);
  stack_means(s, mean);
  const double N = static_cast<double>(s->m * s->n);
  VEC* res = v_get(K);
  for (unsigned int k = 0; k < K; k++) {
    const double mk = mean->ve[k];
    double acc = 0.0;
    for (unsigned int i = 0; i < s->m; i++) {
      const double* row = s->matrices[k]->me[i];
      for (unsigned int j = 0; j < s->n; j++) {
        const double t = row[j] - mk;
        if (t != 0.0) acc += t * t;
      }
    }
    res->ve[k] = acc;
  }
  sv_mlt(1.0 / N, res, res);
  v_free(mean);
  return res;
}

VEC* uncorrelated_filter_response_plain(MatrixMultiple* s, MAT* m_filter) {
  MatrixMultiple* filtered = s->filter(m_filter);
  VEC* res = stack_variances_plain(filtered);
  delete filtered;
  return res;
}

VEC* uncorrelated_filter_response_fast(MatrixMultiple* s, MAT* m_filter) {
  MatrixMultiple* filtered = s->filter(m_filter);
  VEC* res = stack_variances_fast(filtered);
  delete filtered;
  return res;
}

VEC* MatrixMultiple::uncorrelated_filter_response(MAT* m_filter) {
#ifdef TI_PLAIN_KERNELS
  return uncorrelated_filter_response_plain(this, m_filter);
#else
  return uncorrelated_filter_response_fast(this, m_filter);
#endif
}

VEC* symmatrix2vector(MAT* M) {
  assert(M->m == M->n);
  const unsigned int order = M->m;
  VEC* v = v_get(order * (order + 1) / 2);
  unsigned int counter = 0;
  for (unsigned int i = 0; i < order; i++)
    for (unsigned int j = i; j < order; j++) v->ve[counter++] = (M->me[i][j] + M->me[j][i]) / 2;
  return v;
}

MAT* MatrixMultiple::filtering_matrix(Filters* fltrs) {
  const unsigned int Q = (K + 1) * K / 2;
  MAT* filtering = m_get(fltrs->F, Q);
  for (u_int i = 0; i < fltrs->F; i++) {
    MAT* sigma = m_get(K, K);
    VEC* mean = v_get(K);
    try {
      filter_response(fltrs->filters[i], mean, sigma);
    } catch (...) {
      m_free(sigma);
      v_free(mean);
      m_free(filtering);
      throw;
    }
    VEC* response = symmatrix2vector(sigma);
    for (unsigned int c = 0; c < Q; c++) filtering->me[i][c] = response->ve[c];
    m_free(sigma);
    v_free(mean);
    v_free(response);
  }
  return filtering;
}

MAT* MatrixMultiple::filtering_matrix2(Filters* fltrs) {
  assert(K >= 2);
  MatrixMultiple tmp(2, m, n);
  _m_copy(matrices[0], tmp.matrices[0], 0, 0);
  _m_copy(matrices[1], tmp.matrices[1], 0, 0);
  return tmp.filtering_matrix(fltrs);
}

MAT* MatrixMultiple::recovery_matrix(Filters* fltrs) {
  MAT* filtering = filtering_matrix(fltrs);
  MAT* recovery = left_inverse(filtering);
  m_free(filtering);
  return recovery;
}

MAT* MatrixMultiple::recovery_matrix2(Filters* fltrs) {
  MAT* filtering = filtering_matrix2(fltrs);
  MAT* recovery = left_inverse(filtering);
  m_free(filtering);
  return recovery;
}
