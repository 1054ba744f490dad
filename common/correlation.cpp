#include "correlation.h"

#include "data_error.h"

void check_kernel_fits(const MAT* kernel, const MAT* image, const char* what) {
  if (kernel->m > image->m || kernel->n > image->n)
    data_error_text("Filter kernel of " + std::to_string(kernel->m) + "x" +
                    std::to_string(kernel->n) + " is larger than the " + what + " of " +
                    std::to_string(image->m) + "x" + std::to_string(image->n));
}

void correlate(const MAT* kernel, const MAT* image, double* out) {
  const unsigned int fm = kernel->m, fn = kernel->n;
  const unsigned int rows = image->m - fm + 1, cols = image->n - fn + 1;
  for (unsigned int i = 0; i < rows; i++) {
    double* o = out + static_cast<size_t>(i) * cols;
    for (unsigned int j = 0; j < cols; j++) {
      double res = 0.0;
      for (unsigned int k = 0; k < fm; k++) {
        const double* f = kernel->me[k];
        const double* x = image->me[i + k] + j;
        for (unsigned int l = 0; l < fn; l++) res = res + f[l] * x[l];
      }
      o[j] = res;
    }
  }
}
