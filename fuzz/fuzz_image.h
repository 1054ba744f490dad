// The image decoding harnesses: decode_grey_image (image.h) on the input
// from memory, exactly what read_grey_image runs once a file is read. Each
// harness keeps to its own formats: an input that another format (or none)
// claims is rejected, so that the corpus stays on its decoder.
//
// Oracle: a DataError's text begins with the name given; an accepted image
// asked for its storage once, within the size limits, and gave finite grey
// levels, from 0 to 255 where the samples are integers (every format but
// TIFF and OpenEXR, which may hold floats); with --srgb the same size and
// finite levels again.
#ifndef TI_FUZZ_IMAGE_H
#define TI_FUZZ_IMAGE_H

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "data_error.h"
#include "fuzz_support.h"
#include "image.h"

inline int fuzz_image(const uint8_t* data, size_t size, const std::vector<std::string>& formats) {
  const std::string format = image_format_of(data, size);
  bool mine = false;
  for (const std::string& f : formats) mine = mine || f == format;
  if (!mine) return -1;
  const std::string name = "fuzz input";
  for (bool srgb : {false, true}) {
    ImageOptions options;
    options.srgb = srgb;
    std::vector<double> levels;
    int calls = 0, width = 0, height = 0;
    std::string read;
    try {
      decode_grey_image(
          data, size, name, options,
          [&](int w, int h) {
            ++calls;
            FUZZ_CHECK(w >= 1 && w <= kMaxImageSideLength && h >= 1 && h <= kMaxImageSideLength);
            FUZZ_CHECK(static_cast<long>(w) * h <= kMaxImagePixels);
            width = w;
            height = h;
            levels.assign(static_cast<size_t>(w) * h, NAN);
            return levels.data();
          },
          &read);
    } catch (const DataError& e) {
      FUZZ_CHECK(std::string(e.what()).compare(0, name.size() + 2, name + ": ") == 0);
      FUZZ_CHECK(!srgb);  // what was read once is read again
      return 0;
    }
    FUZZ_CHECK(calls == 1 && read == format);
    const bool integers = format != "TIFF" && format != "OpenEXR";
    for (double v : levels) {
      FUZZ_CHECK(std::isfinite(v));
      if (integers) FUZZ_CHECK(v >= 0 && v <= 255 + 1e-9);
    }
  }
  return 0;
}

#endif
