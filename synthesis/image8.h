// An 8-bit grey image, row 0 at the top.
#pragma once

#include <cstdint>
#include <vector>

namespace gen {

struct Image8 {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // width * height, row-major

  Image8() = default;
  Image8(int w, int h, std::uint8_t fill = 0)
      : width(w),
        height(h),
        pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), fill) {}

  std::uint8_t& at(int i, int j) { return pixels[static_cast<std::size_t>(i) * width + j]; }
  std::uint8_t at(int i, int j) const { return pixels[static_cast<std::size_t>(i) * width + j]; }
};

}  // namespace gen
