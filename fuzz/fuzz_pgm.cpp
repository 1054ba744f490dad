// PGM header and raster reader: skip_pgm_header + read_pgm_raster.
//
// Oracle: an accepted image has a size within the header's limits, a raster
// that fits in the input, and elements that are exactly the input's bytes
// from the stream position skip_pgm_header left (grey levels unscaled); the
// header's last line, the maximum value, is nothing but an integer from 1 to
// 255 between blanks.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "data_error.h"
#include "fuzz_support.h"
#include "surface.h"

namespace {

bool blank(uint8_t c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Whether the header line ending just before `end` holds only a maximum value.
bool maximum_value_line(const uint8_t* data, size_t end) {
  size_t first = end;
  if (first > 0 && data[first - 1] == '\n') --first;
  while (first > 0 && data[first - 1] != '\n') --first;
  size_t last = end;
  while (last > first && blank(data[last - 1])) --last;
  while (first < last && blank(data[first])) ++first;
  if (first < last && data[first] == '+') ++first;
  if (first == last) return false;
  long value = 0;
  for (size_t k = first; k < last; k++) {
    if (data[k] < '0' || data[k] > '9') return false;
    value = value * 10 + (data[k] - '0');
    if (value > 255) return false;
  }
  return value >= 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file("fuzz_pgm");
  file.write(data, size);
  int width = -1, height = -1;
  FILE* f = nullptr;
  try {
    f = skip_pgm_header(file.path(), &width, &height);
  } catch (const DataError&) {
    return 0;
  }
  FUZZ_CHECK(f != nullptr);
  FUZZ_CHECK(width >= 1 && width <= (1 << 15));
  FUZZ_CHECK(height >= 1 && height <= (1 << 15));
  long start = std::ftell(f);
  FUZZ_CHECK(start >= 3 && static_cast<size_t>(start) <= size);
  FUZZ_CHECK(maximum_value_line(data, static_cast<size_t>(start)));
  MAT* image = nullptr;
  try {
    image = read_pgm_raster(f, file.path(), height, width);
  } catch (const DataError&) {
    std::fclose(f);
    // Refused only when the input really is too short for the raster.
    FUZZ_CHECK(size - static_cast<size_t>(start) <
               static_cast<size_t>(width) * static_cast<size_t>(height));
    return 0;
  }
  std::fclose(f);
  FUZZ_CHECK(image != nullptr);
  FUZZ_CHECK(image->m == static_cast<unsigned>(height));
  FUZZ_CHECK(image->n == static_cast<unsigned>(width));
  FUZZ_CHECK(static_cast<size_t>(start) + static_cast<size_t>(width) * height <= size);
  const uint8_t* raster = data + start;
  for (int i = 0; i < height; i++)
    for (int j = 0; j < width; j++)
      FUZZ_CHECK(image->me[i][j] ==
                 static_cast<double>(raster[static_cast<size_t>(i) * width + j]));
  m_free(image);
  return 0;
}
