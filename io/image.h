// Grey-level images from the common file formats.
//
// Formats, recognised by their content whatever the file is called:
//   PGM and PPM (binary "P5" and "P6"), maximum value 1 to 65535 (two bytes
//   per sample, most significant first, above 255);
//   PNG, grey or colour, 1 to 16 bits (libpng);
//   TIFF, grey or colour, 8 and 16-bit integers and 32 and 64-bit floats
//   (libtiff);
//   camera raw files of the TIFF family (DNG, CR2, NEF, ARW; LibRaw): told
//   from an ordinary TIFF by a DNGVersion tag, "CR" at byte 8, or a colour
//   filter array in the first directory or one of its sub-directories;
//   developed linear, the camera's white balance, no automatic brightening,
//   AHD demosaicking at full size, sRGB primaries, 16 bits; not turned by
//   the file's orientation;
//   JPEG, baseline or progressive, grey or colour (libjpeg); the EXIF
//   orientation is not applied;
//   OpenEXR, single part, scan lines or tiles, half or float R, G, B or Y
//   channels (OpenEXR);
//   BMP (uncompressed, 1, 4 and 8 bits through a colour table, 24 and 32
//   bits) and TGA (8-bit grey, 24 and 32-bit colour, 8-bit indices into a
//   24 or 32-bit colour map, each plain or run-length encoded) (stb_image).
//   TGA has no signature: a file is taken as TGA only when no other format
//   claims it and its header passes a strict check.
// Every sample becomes a grey level on the scale 0 to 255: an integer v as
// v / maxval * 255 (in that order of operations, so that an 8-bit image
// keeps its values exactly), a float as v * 255 (floats are taken as 0 to
// 1). Values are used as stored; with `srgb` the sRGB transfer curve is
// undone first, on v / maxval (or the float). Colour becomes luminance with
// the Rec. 709 weights, 0.2126 R + 0.7152 G + 0.0722 B, summed in that order
// after each channel is scaled; an alpha channel is ignored; a BMP colour
// table or TGA colour map whose entries are all grey gives grey samples
// (PNG palettes stay colour, as before). A TIFF stored
// "min-is-white" is turned into max - v. A sample whose grey level is not a
// finite number is refused.
//
// Memory: the file is taken whole into memory (a regular file mapped, as
// libtiff maps its files, a pipe or device read to its end) and released
// before the grey levels are allocated. Nothing is allocated on a header's
// word alone: a raster is checked against what the file's bytes can hold
// before it is allocated (exactly for uncompressed layouts, by the
// coding's largest ratio otherwise), or grows as its rows are decoded, so
// that a file that lies about its size fails before it costs more than its
// real image would.
//
// Failure: a DataError whose text begins with the file's name. The readers
// may run in several threads at once.
#ifndef TI_IMAGE_H
#define TI_IMAGE_H

#include <cstddef>
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

// Largest image file read (a 64-bit float RGBA TIFF of kMaxImagePixels is
// 2 GiB).
constexpr long kMaxImageFileBytes = (1L << 31) + (1L << 28);

// Reads the image at `path` (a file, or a pipe or device read to its end).
// A missing, unknown, damaged or unsupported file raises a DataError whose
// text begins with the path. `format`, when given, receives the name of
// the format read (one of image_format_names(), e.g. "JPEG").
GreyImage read_grey_image(const std::string& path, const ImageOptions& options = ImageOptions(),
                          std::string* format = nullptr);

// The same into storage of the caller's: storage(width, height) is called
// once the size is known and returns room for width * height levels, row by
// row.
void read_grey_image(const std::string& path, const ImageOptions& options,
                     const std::function<double*(int, int)>& storage,
                     std::string* format = nullptr);

// The same from the `size` bytes at `bytes` (the whole file), named `name`
// in messages: what read_grey_image does once the file is read, and what
// the fuzz harnesses run.
void decode_grey_image(const unsigned char* bytes, size_t size, const std::string& name,
                       const ImageOptions& options, const std::function<double*(int, int)>& storage,
                       std::string* format = nullptr);

// The name of the format that claims `bytes` (as image_format_names()
// writes it), or "" when none does.
std::string image_format_of(const unsigned char* bytes, size_t size);

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

// The formats read, for messages and help: "PGM/PPM, PNG, camera raw, TIFF,
// JPEG, OpenEXR, BMP, TGA".
std::string image_format_names();

#endif
