#include "correlation.h"

#include "data_error.h"

void check_kernel_fits(const MAT* kernel, const MAT* image, const char* what) {
  if (kernel->m > image->m || kernel->n > image->n)
    data_error_text("Filter kernel of " + std::to_string(kernel->n) + "x" +
                    std::to_string(kernel->m) + " is larger than the " + what + " of " +
                    std::to_string(image->n) + "x" + std::to_string(image->m));
}

size_t padded_stride(unsigned int n) {
  // A whole number of 64-byte lines, an odd number of 8-element blocks: row
  // r then starts r * 64 bytes (mod 4096) from row 0 for 64 rows in turn.
  size_t s = (static_cast<size_t>(n) + 7) / 8 * 8;
  if ((s / 8) % 2 == 0) s += 8;
  return s;
}

void correlate_plain(const MAT* kernel, const MAT* image, double* out) {
  const unsigned int fm = kernel->m, fn = kernel->n;
  const unsigned int rows = image->m - fm + 1, cols = image->n - fn + 1;
  for (unsigned int i = 0; i < rows; i++) {
    for (unsigned int j = 0; j < cols; j++) {
      double res = 0.0;
      for (unsigned int k = 0; k < fm; k++)
        for (unsigned int l = 0; l < fn; l++)
          res = res + kernel->me[k][l] * image->me[i + k][j + l];
      out[static_cast<size_t>(i) * cols + j] = res;
    }
  }
}

// Eight outputs of a row at a time, each in its own accumulator summed in
// the definition's order, so the compiler can vectorise across them with
// any instruction set; the last columns of a row are done one by one.
void correlate_blocked(const MAT* kernel, const MAT* image, double* out) {
  const unsigned int fm = kernel->m, fn = kernel->n;
  const unsigned int rows = image->m - fm + 1, cols = image->n - fn + 1;
  constexpr unsigned int kBlock = 8;
  for (unsigned int i = 0; i < rows; i++) {
    double* o = out + static_cast<size_t>(i) * cols;
    unsigned int j = 0;
    for (; j + kBlock <= cols; j += kBlock) {
      double acc[kBlock] = {0, 0, 0, 0, 0, 0, 0, 0};
      for (unsigned int k = 0; k < fm; k++) {
        const double* f = kernel->me[k];
        const double* x = image->me[i + k] + j;
        for (unsigned int l = 0; l < fn; l++) {
          const double c = f[l];
          const double* xl = x + l;
          for (unsigned int b = 0; b < kBlock; b++) acc[b] = acc[b] + c * xl[b];
        }
      }
      for (unsigned int b = 0; b < kBlock; b++) o[j + b] = acc[b];
    }
    for (; j < cols; j++) {
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

void correlate_fast(const MAT* kernel, const MAT* image, double* out) {
  if (have_avx2())
    correlate_avx2(kernel, image, out);
  else
    correlate_blocked(kernel, image, out);
}

void correlate(const MAT* kernel, const MAT* image, double* out) {
#ifdef TI_PLAIN_KERNELS
  correlate_plain(kernel, image, out);
#else
  correlate_fast(kernel, image, out);
#endif
}
