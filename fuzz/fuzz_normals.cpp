// Normals text file reader: MatrixMultiple(file).
//
// Oracle: an accepted field has K = 3 planes of m x n (1 to 32768 each),
// no more values than the input could hold (each takes a line of at least
// two bytes), all finite.
#include <cmath>
#include <cstdint>

#include "class.h"
#include "data_error.h"
#include "fuzz_support.h"
#include "matrix_multiple.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file("fuzz_normals");
  file.write(data, size);
  MatrixMultiple* field = nullptr;
  try {
    field = new MatrixMultiple(file.path());
  } catch (const DataError&) {
    return 0;
  }
  FUZZ_CHECK(field->K == 3);
  FUZZ_CHECK(field->m >= 1 && field->m <= (1u << 15));
  FUZZ_CHECK(field->n >= 1 && field->n <= (1u << 15));
  FUZZ_CHECK(3.0 * field->m * field->n <= static_cast<double>(size));
  for (unsigned k = 0; k < 3; k++) {
    const MAT* plane = field->matrices[k];
    FUZZ_CHECK(plane != nullptr && plane->m == field->m && plane->n == field->n);
    for (unsigned i = 0; i < plane->m; i++)
      for (unsigned j = 0; j < plane->n; j++) FUZZ_CHECK(std::isfinite(plane->me[i][j]));
  }
  delete field;
  return 0;
}
