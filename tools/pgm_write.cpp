#include "pgm_write.h"

#include <stdexcept>

#include "atomic_output.h"

namespace gen {

std::string encode_pgm(const Image8& img) {
  if (img.width <= 0 || img.height <= 0 ||
      img.pixels.size() !=
          static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height))
    throw std::invalid_argument("encode_pgm: image size and pixel count disagree");
  std::string out =
      "P5\n" + std::to_string(img.width) + " " + std::to_string(img.height) + "\n255\n";
  out.append(reinterpret_cast<const char*>(img.pixels.data()), img.pixels.size());
  return out;
}

void write_pgm(const std::string& path, const Image8& img) {
  write_file_atomically(path, encode_pgm(img));
}

}  // namespace gen
