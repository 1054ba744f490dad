// Filter bank reader: Filters(file), then normalise().
//
// Oracle: an accepted bank has F >= 1 kernels of M x M (M >= 1) with finite
// coefficients, no more coefficients than the input has bytes, one name line
// per kernel ending in its line break; after normalise() every kernel has
// finite coefficients and unit Frobenius norm.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "class.h"
#include "data_error.h"
#include "filters.h"
#include "fuzz_support.h"

namespace {

void check_bank(const Filters& bank, size_t size) {
  FUZZ_CHECK(bank.F >= 1);
  FUZZ_CHECK(bank.filters != nullptr && bank.names != nullptr);
  const unsigned M = bank.filters[0]->m;
  FUZZ_CHECK(M >= 1);
  FUZZ_CHECK(static_cast<double>(bank.F) * M * M <= static_cast<double>(size));
  for (unsigned k = 0; k < bank.F; k++) {
    const MAT* kernel = bank.filters[k];
    FUZZ_CHECK(kernel != nullptr && kernel->m == M && kernel->n == M);
    for (unsigned i = 0; i < M; i++)
      for (unsigned j = 0; j < M; j++) FUZZ_CHECK(std::isfinite(kernel->me[i][j]));
    const char* name = bank.names[k];
    FUZZ_CHECK(name != nullptr);
    // A name line is followed by M row lines, so it always has its break.
    const size_t length = std::strlen(name);
    FUZZ_CHECK(length >= 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file("fuzz_filters");
  file.write(data, size);
  Filters* bank = nullptr;
  try {
    bank = new Filters(file.path());
  } catch (const DataError&) {
    return 0;
  }
  check_bank(*bank, size);
  try {
    bank->normalise();
  } catch (const DataError&) {
    delete bank;
    return 0;
  }
  for (unsigned k = 0; k < bank->F; k++) {
    const MAT* kernel = bank->filters[k];
    double sum = 0.0;
    for (unsigned i = 0; i < kernel->m; i++)
      for (unsigned j = 0; j < kernel->n; j++) {
        FUZZ_CHECK(std::isfinite(kernel->me[i][j]));
        sum += kernel->me[i][j] * kernel->me[i][j];
      }
    FUZZ_CHECK(std::fabs(sum - 1.0) < 1e-9);
  }
  delete bank;
  return 0;
}
