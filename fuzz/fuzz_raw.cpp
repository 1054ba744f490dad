// Camera raw decoding (DNG, CR2, NEF, ARW): decode_grey_image on such input (fuzz_image.h).
#include "fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_image(data, size, {"camera raw"});
}
