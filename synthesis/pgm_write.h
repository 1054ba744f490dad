// Generated images as PGM files (the format's writer is io/image.h).
#pragma once

#include <string>

#include "image8.h"

namespace gen {

// The PGM text of an image.
std::string encode_pgm(const Image8& img);

// Atomic write; raises a DataError.
void write_pgm(const std::string& path, const Image8& img);

}  // namespace gen
