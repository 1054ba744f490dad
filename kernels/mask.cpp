#include "mask.h"

#include <cassert>
#include <cstring>
#include <string>

#include "data_error.h"
#include "filters.h"

size_t counted_positions(const unsigned char* inside, unsigned int m, unsigned int n,
                         unsigned int fm, unsigned int fn, std::vector<unsigned char>* counted) {
  assert(fm >= 1 && fn >= 1 && fm <= m && fn <= n);
  const unsigned int rows = m - fm + 1, cols = n - fn + 1;
  // A mask of all ones, the common case, counts every position.
  if (!std::memchr(inside, 0, static_cast<size_t>(m) * n)) {
    counted->assign(static_cast<size_t>(rows) * cols, 1);
    return counted->size();
  }
  // outside[(i) * (n + 1) + j]: the pixels outside the mask in rows < i and
  // columns < j (a summed-area table), so that a window's count is four
  // lookups.
  const size_t width = static_cast<size_t>(n) + 1;
  std::vector<unsigned int> outside(width * (m + 1), 0);
  for (unsigned int i = 0; i < m; i++) {
    unsigned int row = 0;
    for (unsigned int j = 0; j < n; j++) {
      row += inside[static_cast<size_t>(i) * n + j] ? 0 : 1;
      outside[(i + 1) * width + j + 1] = outside[i * width + j + 1] + row;
    }
  }
  counted->assign(static_cast<size_t>(rows) * cols, 0);
  size_t count = 0;
  for (unsigned int i = 0; i < rows; i++)
    for (unsigned int j = 0; j < cols; j++) {
      const unsigned int in_window = outside[(i + fm) * width + j + fn] -
                                     outside[i * width + j + fn] - outside[(i + fm) * width + j] +
                                     outside[i * width + j];
      if (in_window == 0) {
        (*counted)[static_cast<size_t>(i) * cols + j] = 1;
        count++;
      }
    }
  return count;
}

MatrixMultiple* counted_values(const MatrixMultiple* s, const std::vector<unsigned char>& counted,
                               size_t count) {
  assert(counted.size() == static_cast<size_t>(s->m) * s->n);
  MatrixMultiple* out = new MatrixMultiple(s->K, 1, static_cast<unsigned int>(count));
  for (unsigned int k = 0; k < s->K; k++) {
    const double* from = s->matrices[k]->base;
    double* to = out->matrices[k]->base;
    size_t at = 0;
    for (size_t p = 0; p < counted.size(); p++)
      if (counted[p]) to[at++] = from[p];
  }
  return out;
}

void no_counted_position(const Filters* bank, u_int k, unsigned int m, unsigned int n) {
  const MAT* kernel = bank->filters[k];
  data_error(bank->source, 0,
             "filter " + std::to_string(k) + " \"" + filter_name(bank, k) + "\" of " +
                 std::to_string(kernel->n) + "x" + std::to_string(kernel->m) +
                 " leaves no position counted in the mask of an image of " + std::to_string(n) +
                 "x" + std::to_string(m),
             "no place where the kernel lies wholly on the surface");
}
