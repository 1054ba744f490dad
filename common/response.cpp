#include "response.h"

#include <algorithm>
#include <vector>

#include "correlation.h"
#include "mask.h"
#include "matrix_multiple.h"
#include "wide.h"

double variance_of_filtered_values_plain(MAT* filter, MAT* image) {
  check_kernel_fits(filter, image, "image");
  const unsigned int m = image->m - filter->m + 1, n = image->n - filter->n + 1;
  MAT* responses = m_get(m, n);
  double sum = 0.0;
  for (unsigned int k = 0; k < m; k++)
    for (unsigned int l = 0; l < n; l++) {
      responses->me[k][l] =
          single_filtered_value(filter, image, static_cast<int>(k), static_cast<int>(l));
      sum += responses->me[k][l];
    }
  const double N = static_cast<double>(static_cast<unsigned int>(m * n));
  const double mean = sum / N;
  double acc = 0.0;
  for (unsigned int k = 0; k < m; k++)
    for (unsigned int l = 0; l < n; l++) {
      const double d = responses->me[k][l] - mean;
      acc = acc + d * d;
    }
  m_free(responses);
  return acc / N;
}

VEC* image_response_plain(Filters* fltrs, MAT* image) {
  VEC* res = v_get(fltrs->F);
  try {
    for (u_int k = 0; k < fltrs->F; k++)
      res->ve[k] = variance_of_filtered_values_plain(fltrs->filters[k], image);
  } catch (...) {
    v_free(res);
    throw;
  }
  return res;
}

namespace {

// Filters whose two variance passes run side by side: each pass is a chain
// of dependent additions, so several independent chains keep the adder busy.
constexpr unsigned int kSideBySide = 4;

// The variances of `count` response buffers of N values each, every one
// summed in row-major order exactly as the plain definition does.
void variances(const std::vector<double>* buffers, unsigned int count, size_t N, double* out) {
  double sum[kSideBySide] = {0, 0, 0, 0}, acc[kSideBySide] = {0, 0, 0, 0};
  double mean[kSideBySide];
  const double* r[kSideBySide] = {};
  for (unsigned int b = 0; b < count; b++) r[b] = buffers[b].data();
  const double n = static_cast<double>(static_cast<unsigned int>(N));
  if (count == kSideBySide) {
    for (size_t p = 0; p < N; p++) {
      sum[0] += r[0][p];
      sum[1] += r[1][p];
      sum[2] += r[2][p];
      sum[3] += r[3][p];
    }
    for (unsigned int b = 0; b < kSideBySide; b++) mean[b] = sum[b] / n;
    for (size_t p = 0; p < N; p++) {
      const double d0 = r[0][p] - mean[0], d1 = r[1][p] - mean[1], d2 = r[2][p] - mean[2],
                   d3 = r[3][p] - mean[3];
      acc[0] = acc[0] + d0 * d0;
      acc[1] = acc[1] + d1 * d1;
      acc[2] = acc[2] + d2 * d2;
      acc[3] = acc[3] + d3 * d3;
    }
  } else {
    // Fewer buffers: still side by side, each sum in its own order.
    for (size_t p = 0; p < N; p++)
      for (unsigned int b = 0; b < count; b++) sum[b] += r[b][p];
    for (unsigned int b = 0; b < count; b++) mean[b] = sum[b] / n;
    for (size_t p = 0; p < N; p++)
      for (unsigned int b = 0; b < count; b++) {
        const double d = r[b][p] - mean[b];
        acc[b] = acc[b] + d * d;
      }
  }
  for (unsigned int b = 0; b < count; b++) out[b] = acc[b] / n;
}

// The response variances of kernels first .. first+count-1 of the bank.
void response_variances(Filters* fltrs, u_int first, unsigned int count, MAT* image,
                        std::vector<double>* buffers, double* out) {
  size_t N = 0;
  for (unsigned int b = 0; b < count; b++) {
    const MAT* filter = fltrs->filters[first + b];
    check_kernel_fits(filter, image, "image");
    N = static_cast<size_t>(image->m - filter->m + 1) * (image->n - filter->n + 1);
    buffers[b].resize(N);
    correlate_fast(filter, image, buffers[b].data());
  }
  variances(buffers, count, N, out);
}

// The kernels first .. F-1 of the bank (of one size) in groups of four, one
// kernel per lane of a vector, and the one to three left over one at a time
// with four neighbouring outputs to a vector (lane_statistics_avx2), on
// `copy`, the image; the variances into out[first .. F-1].
void narrow_lane_variances(Filters* fltrs, u_int first, const LineBuffer& copy, size_t stride,
                           unsigned int rows, unsigned int cols, double* out) {
  const u_int F = fltrs->F, groups = (F - first) / 4, left = (F - first) % 4;
  const unsigned int fm = fltrs->filters[0]->m, fn = fltrs->filters[0]->n;
  const size_t size = static_cast<size_t>(fm) * fn;
  thread_local LineBuffer coefficients;
  coefficients.resize((static_cast<size_t>(groups) * 4 + left) * size);
  // The left-over kernels first, so that the last second pass, which runs
  // alone, is a group's. (The other order, a lone kernel's pass last, summed
  // in runs, was measured: at most 3% faster up to 256 x 256, 2% to 6% slower
  // on 1024 x 1024, and for 5 x 5 it costs the strips.)
  std::vector<LaneUnit> units(left + groups);
  for (u_int b = 0; b < left; b++) {
    double* c = coefficients.data() + b * size;
    const MAT* kernel = fltrs->filters[first + 4 * groups + b];
    for (unsigned int k = 0; k < fm; k++)
      for (unsigned int l = 0; l < fn; l++) c[k * fn + l] = kernel->me[k][l];
    units[b].coefficients = c;
    units[b].columns = true;
  }
  for (u_int g = 0; g < groups; g++) {
    double* c = coefficients.data() + (left + static_cast<size_t>(g) * 4) * size;
    for (unsigned int k = 0; k < fm; k++)
      for (unsigned int l = 0; l < fn; l++)
        for (unsigned int b = 0; b < 4; b++)
          c[(k * fn + l) * 4 + b] = fltrs->filters[first + 4 * g + b]->me[k][l];
    units[left + g].coefficients = c;
  }
  for (LaneUnit& unit : units) unit.input = copy.data();
  lane_statistics_avx2(LaneMode::kKernels, units.data(), units.size(), fm, fn, rows, cols, stride,
                       MeanRule::kDivide);
  const double n = static_cast<double>(static_cast<unsigned int>(static_cast<size_t>(rows) * cols));
  for (u_int k = 0; k < 4 * groups; k++) out[first + k] = units[left + k / 4].squares[k % 4] / n;
  for (u_int b = 0; b < left; b++) out[first + 4 * groups + b] = units[b].squares[0] / n;
}

// The first 8 * groups kernels of the bank in groups of eight, one kernel per
// lane of a 512-bit vector (lane_statistics_wide); the variances into out.
void wide_lane_variances(Filters* fltrs, u_int groups, const LineBuffer& copy, size_t stride,
                         unsigned int rows, unsigned int cols, double* out) {
  const unsigned int fm = fltrs->filters[0]->m, fn = fltrs->filters[0]->n;
  const size_t size = static_cast<size_t>(fm) * fn;
  thread_local LineBuffer coefficients;
  coefficients.resize(static_cast<size_t>(groups) * 8 * size);
  std::vector<WideUnit> units(groups);
  for (u_int g = 0; g < groups; g++) {
    double* c = coefficients.data() + static_cast<size_t>(g) * 8 * size;
    for (unsigned int k = 0; k < fm; k++)
      for (unsigned int l = 0; l < fn; l++)
        for (unsigned int b = 0; b < 8; b++)
          c[(k * fn + l) * 8 + b] = fltrs->filters[8 * g + b]->me[k][l];
    units[g].coefficients = c;
    units[g].input = copy.data();
  }
  lane_statistics_wide(LaneMode::kKernels, units.data(), units.size(), fm, fn, rows, cols, stride,
                       MeanRule::kDivide);
  const double n = static_cast<double>(static_cast<unsigned int>(static_cast<size_t>(rows) * cols));
  for (u_int k = 0; k < 8 * groups; k++) out[k] = units[k / 8].squares[k % 8] / n;
}

// The kernels of the bank by lanes, on a copy of the image whose rows do not
// share cache sets: on the 512-bit paths the whole groups of eight
// (wide_lane_variances) and the rest on the 256-bit kernels, elsewhere all
// on those (narrow_lane_variances). The variances into out, and the number of
// kernels done returned (0 when the kernels differ in size).
u_int lane_variances(Filters* fltrs, MAT* image, double* out) {
  const u_int F = fltrs->F;
  if (F == 0) return 0;
  const unsigned int fm = fltrs->filters[0]->m, fn = fltrs->filters[0]->n;
  for (u_int k = 0; k < F; k++) {
    check_kernel_fits(fltrs->filters[k], image, "image");
    // (Every kernel of a bank has one size.)
    if (fltrs->filters[k]->m != fm || fltrs->filters[k]->n != fn) return 0;
  }
  const size_t stride = padded_stride(image->n);
  thread_local LineBuffer copy;
  copy.resize(stride * image->m);
  for (unsigned int i = 0; i < image->m; i++) {
    double* row = copy.data() + i * stride;
    std::copy(image->me[i], image->me[i] + image->n, row);
    std::fill(row + image->n, row + stride, 0.0);
  }
  const unsigned int rows = image->m - fm + 1, cols = image->n - fn + 1;
  const u_int wide_groups = have_wide_kernels() ? F / 8 : 0;
  if (8 * wide_groups < F)
    narrow_lane_variances(fltrs, 8 * wide_groups, copy, stride, rows, cols, out);
  if (wide_groups > 0) wide_lane_variances(fltrs, wide_groups, copy, stride, rows, cols, out);
  return F;
}

}  // namespace

VEC* image_response_fast(Filters* fltrs, MAT* image) {
  VEC* res = v_get(fltrs->F);
  // Kept from call to call: a large buffer freed and allocated again costs
  // page faults every time.
  thread_local std::vector<double> buffers[kSideBySide];
  try {
    u_int first = have_avx2() ? lane_variances(fltrs, image, res->ve) : 0;
    for (u_int k = first; k < fltrs->F; k += kSideBySide) {
      const unsigned int count = fltrs->F - k < kSideBySide ? fltrs->F - k : kSideBySide;
      response_variances(fltrs, k, count, image, buffers, res->ve + k);
    }
  } catch (...) {
    v_free(res);
    throw;
  }
  return res;
}

double variance_of_filtered_values(MAT* filter, MAT* image) {
#ifdef TI_PLAIN_KERNELS
  return variance_of_filtered_values_plain(filter, image);
#else
  std::vector<double> buffer;
  check_kernel_fits(filter, image, "image");
  const size_t N = static_cast<size_t>(image->m - filter->m + 1) * (image->n - filter->n + 1);
  buffer.resize(N);
  correlate_fast(filter, image, buffer.data());
  double out;
  variances(&buffer, 1, N, &out);
  return out;
#endif
}

VEC* image_response(Filters* fltrs, MAT* image) {
#ifdef TI_PLAIN_KERNELS
  return image_response_plain(fltrs, image);
#else
  return image_response_fast(fltrs, image);
#endif
}

namespace {

// The counted positions of the bank's kernels (which share one size) under
// the mask; false when there is no mask or every position counts, so that
// the computation without a mask runs.
bool masked_positions(Filters* fltrs, MAT* image, const unsigned char* inside,
                      std::vector<unsigned char>* counted, size_t* count) {
  if (!inside || fltrs->F == 0) return false;
  for (u_int k = 0; k < fltrs->F; k++) check_kernel_fits(fltrs->filters[k], image, "image");
  const MAT* kernel = fltrs->filters[0];
  *count = counted_positions(inside, image->m, image->n, kernel->m, kernel->n, counted);
  if (*count == counted->size()) return false;
  if (*count == 0) no_counted_position(fltrs, 0, image->m, image->n);
  return true;
}

}  // namespace

VEC* image_response_plain(Filters* fltrs, MAT* image, const unsigned char* inside) {
  std::vector<unsigned char> counted;
  size_t N = 0;
  if (!masked_positions(fltrs, image, inside, &counted, &N))
    return image_response_plain(fltrs, image);
  VEC* res = v_get(fltrs->F);
  const unsigned int cols = image->n - fltrs->filters[0]->n + 1;
  std::vector<double> responses(N);
  const double n = static_cast<double>(static_cast<unsigned int>(N));
  for (u_int f = 0; f < fltrs->F; f++) {
    double sum = 0.0;
    size_t at = 0;
    for (size_t p = 0; p < counted.size(); p++)
      if (counted[p]) {
        responses[at] = single_filtered_value(fltrs->filters[f], image, static_cast<int>(p / cols),
                                              static_cast<int>(p % cols));
        sum += responses[at++];
      }
    const double mean = sum / n;
    double acc = 0.0;
    for (size_t q = 0; q < N; q++) {
      const double d = responses[q] - mean;
      acc = acc + d * d;
    }
    res->ve[f] = acc / n;
  }
  return res;
}

VEC* image_response_fast(Filters* fltrs, MAT* image, const unsigned char* inside) {
  std::vector<unsigned char> counted;
  size_t N = 0;
  if (!masked_positions(fltrs, image, inside, &counted, &N))
    return image_response_fast(fltrs, image);
  VEC* res = v_get(fltrs->F);
  thread_local std::vector<double> all, kept;
  all.resize(counted.size());
  kept.resize(N);
  for (u_int f = 0; f < fltrs->F; f++) {
    correlate_fast(fltrs->filters[f], image, all.data());
    size_t at = 0;
    for (size_t p = 0; p < counted.size(); p++)
      if (counted[p]) kept[at++] = all[p];
    variances(&kept, 1, N, &res->ve[f]);
  }
  return res;
}

VEC* image_response(Filters* fltrs, MAT* image, const unsigned char* inside) {
#ifdef TI_PLAIN_KERNELS
  return image_response_plain(fltrs, image, inside);
#else
  return image_response_fast(fltrs, image, inside);
#endif
}
