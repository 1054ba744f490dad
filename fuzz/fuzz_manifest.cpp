// Manifest reader: Manifest(stream, file), fed from memory.
//
// Oracle: every image read has a surface name a database can hold, a path,
// a finite light vector of a length the light space allows, and a slant in
// [0, 90); the surfaces are distinct and listed in order of first
// appearance; the index of the sets holds every image exactly once.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>

#include "data_error.h"
#include "fuzz_support.h"
#include "manifest.h"
#include "surface.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // fmemopen needs a buffer of at least one byte.
  std::string text(reinterpret_cast<const char*>(data), size);
  text.push_back('\0');
  FILE* stream = fmemopen(&text[0], size == 0 ? 1 : size, "rb");
  if (!stream) fuzz_fail("fmemopen failed");
  try {
    const Manifest manifest(stream, "folder/m.csv");
    std::fclose(stream);
    FUZZ_CHECK(!manifest.images.empty());
    std::set<std::string> seen;
    size_t next_new = 0;
    for (const ManifestImage& image : manifest.images) {
      FUZZ_CHECK(unreadable_name(image.surface.c_str()).empty());
      FUZZ_CHECK(image.surface.find('\0') == std::string::npos);
      FUZZ_CHECK(!image.image.empty() && !image.path.empty());
      FUZZ_CHECK(image.line >= 2);
      const double length =
          std::sqrt(image.light[0] * image.light[0] + image.light[1] * image.light[1] +
                    image.light[2] * image.light[2]);
      FUZZ_CHECK(std::isfinite(length) && length > 0);
      if (!manifest.angles)
        FUZZ_CHECK(length >= kMinLightLength * (1 - 1e-12) &&
                   length <= kMaxLightLength * (1 + 1e-12));
      FUZZ_CHECK(image.slant >= 0 && image.slant < 90);
      FUZZ_CHECK(std::isfinite(image.tilt));
      if (seen.insert(image.surface).second) {
        FUZZ_CHECK(next_new < manifest.surfaces.size());
        FUZZ_CHECK(manifest.surfaces[next_new++] == image.surface);
      }
    }
    FUZZ_CHECK(next_new == manifest.surfaces.size());
    size_t indexed = 0;
    std::set<std::pair<std::string, unsigned>> sets;
    for (const ManifestImage& image : manifest.images) sets.emplace(image.surface, image.set);
    for (const auto& set : sets) {
      for (size_t k : manifest.set_of(set.first, set.second)) {
        FUZZ_CHECK(k < manifest.images.size());
        FUZZ_CHECK(manifest.images[k].surface == set.first);
        FUZZ_CHECK(manifest.images[k].set == set.second);
        indexed++;
      }
    }
    FUZZ_CHECK(indexed == manifest.images.size());
  } catch (const DataError&) {
    std::fclose(stream);
  }
  return 0;
}
