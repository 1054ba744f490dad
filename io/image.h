// Grey-level images from the common file formats.
//
// Formats, recognised by their first bytes whatever the file is called:
//   PGM and PPM (binary "P5" and "P6"), maximum value 1 to 65535 (two bytes
//   per sample, most significant first, above 255);
//   PNG, grey or colour, 1 to 16 bits (libpng);
//   TIFF, grey or colour, 8 and 16-bit integers and 32 and 64-bit floats
//   (libtiff).
// Every sample becomes a grey level on the scale 0 to 255: an integer v as
// v / maxval * 255 (in that order of operations, so that an 8-bit image
// keeps its values exactly), a float as v * 255 (floats are taken as 0 to
// 1). Values are used as stored; with `srgb` the sRGB transfer curve is
// undone first, on v / maxval (or the float). Colour becomes luminance with
// the Rec. 709 weights, 0.2126 R + 0.7152 G + 0.0722 B, summed in that order
// after each channel is scaled; an alpha channel is ignored. A TIFF stored
// "min-is-white" is turned into max - v.
#ifndef TI_IMAGE_H
#define TI_IMAGE_H

#include <functional>
#include <string>
#include <vector>

struct ImageOptions {
  bool srgb = false;  // undo the sRGB transfer curve
};

// A grey-level image: pixels[i * width + j] is row i (from the top), column
// j (from the left).
struct GreyImage {
  int width = 0;
  int height = 0;
  std::vector<double> pixels;
};

// Largest width or height accepted, and largest number of pixels.
constexpr long kMaxImageSideLength = 1 << 15;
constexpr long kMaxImagePixels = 1L << 26;

// Reads the image at `path`. A missing, unknown, damaged or unsupported file
// raises a DataError whose text begins with the path.
GreyImage read_grey_image(const std::string& path, const ImageOptions& options = ImageOptions());

// The same into storage of the caller's: storage(width, height) is called
// once the size is known and returns room for width * height levels, row by
// row.
void read_grey_image(const std::string& path, const ImageOptions& options,
                     const std::function<double*(int, int)>& storage);

// A binary PGM ("P5", channels 1) or PPM ("P6", channels 3) file with the
// maximum value 255: "P5\n<width> <height>\n255\n" and then the samples,
// top row first, `channels` bytes per pixel. `samples` holds width * height
// * channels bytes. This is the one writer of the project's PGM and PPM
// files; read_grey_image above reads them.
std::string encode_pnm(int width, int height, int channels, const unsigned char* samples);
// Writes encode_pnm's text atomically (atomic_output.h); raises a DataError
// naming `path` when it cannot.
void write_pnm(const std::string& path, int width, int height, int channels,
               const unsigned char* samples);

// The formats read, for messages and help: "PGM/PPM, PNG, TIFF".
std::string image_format_names();

#endif
