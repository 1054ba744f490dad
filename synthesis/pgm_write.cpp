#include "pgm_write.h"

#include <stdexcept>

#include "image.h"

namespace gen {

std::string encode_pgm(const Image8& img) {
  if (img.pixels.size() !=
      static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height))
    throw std::invalid_argument("encode_pgm: image size and pixel count disagree");
  return encode_pnm(img.width, img.height, 1, img.pixels.data());
}

void write_pgm(const std::string& path, const Image8& img) {
  write_pnm(path, img.width, img.height, 1, img.pixels.data());
}

}  // namespace gen
