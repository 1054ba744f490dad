#include "parameters.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "correlation.h"
#include "filters.h"
#include "mask.h"
#include "matrix_multiple.h"
#include "wide.h"

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
std::vector<std::string> spreads_stored_as_zero(const VEC* sigma, const Filters* bank) {
  std::vector<std::string> found;
  for (unsigned int f = 0; f < sigma->dim; f++) {
    char text[64], value[64];
    std::snprintf(text, sizeof text, "%0.6lf", sigma->ve[f]);
    if (std::strtod(text, nullptr) == 0.0) {
      std::snprintf(value, sizeof value, "%g", sigma->ve[f]);
      found.push_back("filter " + std::to_string(f) + " (" + filter_name(bank, f) + "): sigma " +
                      value + " is written as " + text);
    }
  }
  return found;
}

#ifndef TI_PLAIN_KERNELS
namespace {

// The filtering matrix of the normals and the variances of the filtered
// images, for every filter of the bank in one sweep: the three normal planes
// and the K images, packed W to a vector, are correlated with each kernel in
// turn (one kernel on W inputs: lane_statistics_avx2 for four lanes,
// lane_statistics_wide for eight). The sums are those of distribution_fast
// and uncorrelated_filter_response_fast, term for term. variances[f * K + k]
// receives image k's variance under filter f.
template <unsigned int W>
MAT* lane_parameters(MatrixMultiple* normals, MatrixMultiple* images, Filters* fltrs,
                     std::vector<double>& variances) {
  for (u_int f = 0; f < fltrs->F; f++)
    for (unsigned int k = 0; k < 3; k++)
      check_kernel_fits(fltrs->filters[f], normals->matrices[k], "matrices of a stack");
  const unsigned int K = images->K, planes = 3 + K, groups = (planes + W - 1) / W;
  const unsigned int m = normals->m, n = normals->n;
  const unsigned int fm = fltrs->filters[0]->m, fn = fltrs->filters[0]->n;
  const size_t stride = padded_stride(n);
  thread_local LineBuffer packed, coefficients;
  // Every element is written: the planes' values, and 0 in the padding
  // columns and the lanes of a last group that has no plane.
  packed.resize(static_cast<size_t>(groups) * m * stride * W);
  for (unsigned int g = 0; g < groups; g++) {
    const MAT* lane[W];
    for (unsigned int b = 0; b < W; b++) {
      const unsigned int p = W * g + b;
      lane[b] = p >= planes ? nullptr : p < 3 ? normals->matrices[p] : images->matrices[p - 3];
    }
    double* group = packed.data() + static_cast<size_t>(g) * m * stride * W;
    for (unsigned int i = 0; i < m; i++) {
      double* row = group + i * stride * W;
      for (unsigned int b = 0; b < W; b++) {
        if (lane[b]) {
          const double* in = lane[b]->me[i];
          for (unsigned int j = 0; j < n; j++) row[j * W + b] = in[j];
        } else {
          for (unsigned int j = 0; j < n; j++) row[j * W + b] = 0.0;
        }
      }
      std::fill(row + n * W, row + stride * W, 0.0);
    }
  }
  coefficients.resize(static_cast<size_t>(fltrs->F) * fm * fn);
  std::vector<LaneUnitOf<W>> units(static_cast<size_t>(fltrs->F) * groups);
  for (u_int f = 0; f < fltrs->F; f++) {
    double* c = coefficients.data() + static_cast<size_t>(f) * fm * fn;
    for (unsigned int k = 0; k < fm; k++)
      for (unsigned int l = 0; l < fn; l++) c[k * fn + l] = fltrs->filters[f]->me[k][l];
    for (unsigned int g = 0; g < groups; g++) {
      LaneUnitOf<W>& unit = units[f * groups + g];
      unit.coefficients = c;
      unit.input = packed.data() + static_cast<size_t>(g) * m * stride * W;
      unit.covariance = g == 0;
    }
  }
  const unsigned int rows = m - fm + 1, cols = n - fn + 1;
  if constexpr (W == 8)
    lane_statistics_wide(LaneMode::kImages, units.data(), units.size(), fm, fn, rows, cols, stride,
                         MeanRule::kReciprocal);
  else
    lane_statistics_avx2(LaneMode::kImages, units.data(), units.size(), fm, fn, rows, cols, stride,
                         MeanRule::kReciprocal);
  // The scaling of distribution and uncorrelated_filter_response.
  const double N = static_cast<double>(rows * cols);
  MAT* filtering = m_get(fltrs->F, 6);
  MAT* covariance = m_get(3, 3);
  variances.resize(static_cast<size_t>(fltrs->F) * K);
  for (u_int f = 0; f < fltrs->F; f++) {
    const LaneUnitOf<W>* unit = &units[f * groups];
    for (unsigned int a = 0; a < 3; a++)
      for (unsigned int b = 0; b < 3; b++) covariance->me[a][b] = (1.0 / N) * unit->products[a][b];
    VEC* row = symmatrix2vector(covariance);
    for (unsigned int c = 0; c < 6; c++) filtering->me[f][c] = row->ve[c];
    v_free(row);
    for (unsigned int k = 0; k < K; k++)
      variances[f * K + k] = (1.0 / N) * unit[(3 + k) / W].squares[(3 + k) % W];
  }
  m_free(covariance);
  return filtering;
}

}  // namespace
#endif

namespace {

// The filtering matrix and the variances of the filtered images over the
// counted positions of a mask: the statistics of filtering_matrix and
// uncorrelated_filter_response, taken over the stacks of counted values
// (counted_values), whose sums are theirs term for term.
MAT* counted_parameters(MatrixMultiple* normals, MatrixMultiple* images, Filters* fltrs,
                        const std::vector<unsigned char>& counted, size_t count,
                        std::vector<double>& variances) {
  const unsigned int K = images->K;
  MAT* filtering = m_get(fltrs->F, 6);
  variances.resize(static_cast<size_t>(fltrs->F) * K);
  VEC* mean = v_get(3);
  MAT* covariance = m_get(3, 3);
  try {
    for (u_int f = 0; f < fltrs->F; f++) {
      std::unique_ptr<MatrixMultiple> filtered(normals->filter(fltrs->filters[f]));
      std::unique_ptr<MatrixMultiple> kept(counted_values(filtered.get(), counted, count));
      kept->distribution(mean, covariance);
      VEC* row = symmatrix2vector(covariance);
      for (unsigned int c = 0; c < 6; c++) filtering->me[f][c] = row->ve[c];
      v_free(row);
      filtered.reset(images->filter(fltrs->filters[f]));
      kept.reset(counted_values(filtered.get(), counted, count));
#ifdef TI_PLAIN_KERNELS
      VEC* v = stack_variances_plain(kept.get());
#else
      VEC* v = stack_variances_fast(kept.get());
#endif
      for (unsigned int k = 0; k < K; k++) variances[f * K + k] = v->ve[k];
      v_free(v);
    }
  } catch (...) {
    m_free(filtering);
    v_free(mean);
    m_free(covariance);
    throw;
  }
  v_free(mean);
  m_free(covariance);
  return filtering;
}

}  // namespace

MAT* TrainingSet::parameters(Filters* fltrs, VEC* mu, VEC* sigma) {
  check_bank(fltrs);
  // A mask under which every position counts changes nothing: the
  // computation without one runs.
  std::vector<unsigned char> counted;
  size_t count = 0;
  bool masked = false;
  if (!inside.empty() && fltrs->F > 0) {
    const MAT* kernel = fltrs->filters[0];
    count = counted_positions(inside.data(), m, n, kernel->m, kernel->n, &counted);
    if (count == 0) no_counted_position(fltrs, 0, m, n);
    masked = count != counted.size();
  }
  MatrixMultiple* normals = build_normals();
  MAT* filtering;
  std::vector<double> variances;  // filled when the lane kernels or the mask ran
  try {
    if (masked) filtering = counted_parameters(normals, images, fltrs, counted, count, variances);
#ifndef TI_PLAIN_KERNELS
    else if (have_wide_kernels())
      filtering = lane_parameters<8>(normals, images, fltrs, variances);
    else if (have_avx2())
      filtering = lane_parameters<4>(normals, images, fltrs, variances);
#endif
    else
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
    VEC* y;
    if (variances.empty()) {
      y = images->uncorrelated_filter_response(fltrs->filters[k]);
    } else {
      y = v_get(K);
      for (unsigned int i = 0; i < K; i++) y->ve[i] = variances[k * K + i];
    }
    pmtrs(x, y, &mu->ve[k], &sigma->ve[k]);
    m_free(Phi);
    v_free(x);
    v_free(y);
  }
  delete normals;
  return filtering;
}
