// Binary PGM (P5) output: "P5\n<width> <height>\n255\n" then the pixels,
// top row first.
#pragma once

#include <string>

#include "image8.h"

namespace gen {

std::string encode_pgm(const Image8& img);

// Atomic write; raises a DataError.
void write_pgm(const std::string& path, const Image8& img);

}  // namespace gen
