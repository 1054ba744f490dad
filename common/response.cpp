#include "response.h"

#include <vector>

#include "correlation.h"

namespace {

// The response variance with a caller-supplied buffer for the responses.
double response_variance(const MAT* filter, const MAT* image, std::vector<double>& buffer) {
  check_kernel_fits(filter, image, "image");
  const unsigned int m = image->m - filter->m + 1, n = image->n - filter->n + 1;
  const size_t count = static_cast<size_t>(m) * n;
  buffer.resize(count);
  correlate(filter, image, buffer.data());
  const double* r = buffer.data();
  double sum = 0.0;
  for (size_t p = 0; p < count; p++) sum += r[p];
  const double N = static_cast<double>(static_cast<unsigned int>(m * n));
  const double mean = sum / N;
  double acc = 0.0;
  for (size_t p = 0; p < count; p++) {
    double d = r[p] - mean;
    acc = acc + d * d;
  }
  return acc / N;
}

}  // namespace

double variance_of_filtered_values(MAT* filter, MAT* image) {
  std::vector<double> buffer;
  return response_variance(filter, image, buffer);
}

VEC* image_response(Filters* fltrs, MAT* image) {
  VEC* res = v_get(fltrs->F);
  std::vector<double> buffer;
  try {
    for (u_int k = 0; k < fltrs->F; k++) res->ve[k] = response_variance(fltrs->filters[k], image, buffer);
  } catch (...) {
    v_free(res);
    throw;
  }
  return res;
}
