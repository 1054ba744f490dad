#include "image.h"

#include <png.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "atomic_output.h"
#include "data_error.h"

namespace {

// The samples of a file as stored, before they become grey levels.
struct Raster {
  int width = 0;
  int height = 0;
  int channels = 1;  // samples per pixel: 1 grey, 2 grey and alpha, 3 RGB, 4 RGBA
  int bytes = 1;     // per sample: 1 or 2 (integers, host order), 4 or 8 (floats)
  bool is_float = false;
  double maxval = 255;  // of integer samples
  bool invert = false;  // stored as maxval - v ("min-is-white")
  bool planar = false;  // every channel a plane of its own, else pixel by pixel
  std::vector<unsigned char> data;
};

[[noreturn]] void fail(const std::string& path, const std::string& message,
                       const std::string& detail = "") {
  data_error(path, 0, message, detail);
}

void check_size(const std::string& path, long width, long height) {
  if (width < 1 || height < 1 || width > kMaxImageSideLength || height > kMaxImageSideLength ||
      width * height > kMaxImagePixels)
    fail(path, "unsupported image size",
         std::to_string(width) + "x" + std::to_string(height) + "; sides from 1 to " +
             std::to_string(kMaxImageSideLength) + ", at most " + std::to_string(kMaxImagePixels) +
             " pixels");
}

bool little_endian() {
  const std::uint16_t one = 1;
  unsigned char first;
  std::memcpy(&first, &one, 1);
  return first == 1;
}

// ---- PGM and PPM ("P5", "P6") ----

// The next header number: white space and comment lines ('#' to the end of
// the line) before it, decimal digits, then one byte of white space.
long pnm_number(FILE* f, const std::string& path, const char* what) {
  int c = std::getc(f);
  for (;;) {
    if (c == '#') {
      while (c != '\n' && c != EOF) c = std::getc(f);
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
      c = std::getc(f);
    } else {
      break;
    }
  }
  if (c < '0' || c > '9') fail(path, std::string("the header lacks the ") + what);
  long value = 0;
  while (c >= '0' && c <= '9') {
    if (value > 1000000) fail(path, std::string("the ") + what + " in the header is too large");
    value = value * 10 + (c - '0');
    c = std::getc(f);
  }
  if (!(c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'))
    fail(path, std::string("the ") + what + " in the header is not followed by white space");
  return value;
}

Raster read_pnm(const std::string& path, FILE* f) {
  Raster r;
  const int magic0 = std::getc(f), magic1 = std::getc(f);
  if (magic0 != 'P' || (magic1 != '5' && magic1 != '6')) fail(path, "not a binary PGM or PPM");
  r.channels = magic1 == '6' ? 3 : 1;
  const long width = pnm_number(f, path, "width");
  const long height = pnm_number(f, path, "height");
  const long maxval = pnm_number(f, path, "maximum value");
  check_size(path, width, height);
  if (maxval < 1 || maxval > 65535)
    fail(path, "the maximum value must be from 1 to 65535", std::to_string(maxval));
  r.width = static_cast<int>(width);
  r.height = static_cast<int>(height);
  r.maxval = static_cast<double>(maxval);
  r.bytes = maxval > 255 ? 2 : 1;
  const size_t size = static_cast<size_t>(width) * height * r.channels * r.bytes;
  // Refuse before allocating when a regular file is too short for the raster.
  struct stat st;
  const long here = std::ftell(f);
  if (here >= 0 && fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<long long>(st.st_size) - here < static_cast<long long>(size))
    fail(path, "the raster is too short",
         std::to_string(static_cast<long long>(st.st_size) - here) + " of " + std::to_string(size) +
             " bytes");
  r.data.resize(size);
  if (std::fread(r.data.data(), 1, size, f) != size) fail(path, "the raster is too short");
  if (r.bytes == 2) {
    // Most significant byte first in the file; host order here.
    const bool swap = little_endian();
    for (size_t k = 0; k < size; k += 2) {
      const unsigned value = (static_cast<unsigned>(r.data[k]) << 8) | r.data[k + 1];
      if (value > static_cast<unsigned>(maxval))
        fail(path, "a sample exceeds the maximum value", std::to_string(value));
      if (swap) std::swap(r.data[k], r.data[k + 1]);
    }
  } else {
    for (unsigned char value : r.data)
      if (value > maxval) fail(path, "a sample exceeds the maximum value", std::to_string(value));
  }
  return r;
}

// ---- PNG (libpng) ----

// The decoder and the message of its last error. libpng reports an error
// by a long jump back to the function that called it; the two functions
// that call it create no object with a destructor, so the jump skips none.
struct PngDecoder {
  png_structp png = nullptr;
  png_infop info = nullptr;
  char error[256] = "";
  ~PngDecoder() {
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  }
};

void png_error_handler(png_structp png, png_const_charp message) {
  auto* decoder = static_cast<PngDecoder*>(png_get_error_ptr(png));
  std::snprintf(decoder->error, sizeof decoder->error, "%s", message ? message : "?");
  png_longjmp(png, 1);
}

void png_warning_handler(png_structp, png_const_charp) {}

// Reads the header and sets the transformations: one byte per sample below
// 16 bits, palettes as RGB, 16-bit samples in host order, interlacing
// undone. Fills the raster's size and sample description.
bool png_header(PngDecoder* d, FILE* f, Raster* r, size_t* row_bytes) {
  if (setjmp(png_jmpbuf(d->png))) return false;
  png_init_io(d->png, f);
  png_set_user_limits(d->png, kMaxImageSideLength, kMaxImageSideLength);
  png_read_info(d->png, d->info);
  const int type = png_get_color_type(d->png, d->info);
  const int depth = png_get_bit_depth(d->png, d->info);
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(d->png);
  if (depth < 8) png_set_packing(d->png);
  if (depth == 16 && little_endian()) png_set_swap(d->png);
  png_set_interlace_handling(d->png);
  png_read_update_info(d->png, d->info);
  r->width = static_cast<int>(png_get_image_width(d->png, d->info));
  r->height = static_cast<int>(png_get_image_height(d->png, d->info));
  r->channels = png_get_channels(d->png, d->info);
  r->bytes = png_get_bit_depth(d->png, d->info) == 16 ? 2 : 1;
  r->maxval = (type == PNG_COLOR_TYPE_PALETTE) ? 255 : (1 << depth) - 1;
  *row_bytes = png_get_rowbytes(d->png, d->info);
  return true;
}

bool png_raster(PngDecoder* d, png_bytep* rows) {
  if (setjmp(png_jmpbuf(d->png))) return false;
  png_read_image(d->png, rows);
  png_read_end(d->png, nullptr);
  return true;
}

Raster read_png(const std::string& path, FILE* f) {
  PngDecoder d;
  d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &d, png_error_handler, png_warning_handler);
  if (d.png) d.info = png_create_info_struct(d.png);
  if (!d.png || !d.info) fail(path, "cannot read the PNG file", "out of memory");
  Raster r;
  size_t row_bytes = 0;
  if (!png_header(&d, f, &r, &row_bytes)) fail(path, "damaged PNG file", d.error);
  check_size(path, r.width, r.height);
  if (row_bytes != static_cast<size_t>(r.width) * r.channels * r.bytes)
    fail(path, "unsupported PNG layout");
  r.data.resize(row_bytes * r.height);
  std::vector<png_bytep> rows(r.height);
  for (int i = 0; i < r.height; i++) rows[i] = r.data.data() + row_bytes * i;
  if (!png_raster(&d, rows.data())) fail(path, "damaged PNG file", d.error);
  return r;
}

// ---- TIFF (libtiff) ----

// libtiff reports through process-wide handlers: errors are kept, per
// thread, for the message; warnings (unknown tags and the like) are dropped.
thread_local char tiff_message[256];

void tiff_error_handler(const char* module, const char* format, va_list arguments) {
  char text[200];
  std::vsnprintf(text, sizeof text, format, arguments);
  std::snprintf(tiff_message, sizeof tiff_message, "%s%s%s", module ? module : "",
                module ? ": " : "", text);
}

void tiff_warning_handler(const char*, const char*, va_list) {}

struct TiffFile {
  TIFF* tiff = nullptr;
  ~TiffFile() {
    if (tiff) TIFFClose(tiff);
  }
};

Raster read_tiff(const std::string& path, FILE*) {
  static std::once_flag handlers;
  std::call_once(handlers, [] {
    TIFFSetErrorHandler(tiff_error_handler);
    TIFFSetWarningHandler(tiff_warning_handler);
  });
  tiff_message[0] = '\0';
  TiffFile file;
  file.tiff = TIFFOpen(path.c_str(), "r");
  TIFF* t = file.tiff;
  if (!t) fail(path, "damaged TIFF file", tiff_message);
  std::uint32_t width = 0, height = 0;
  std::uint16_t channels = 1, bits = 1, format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG;
  std::uint16_t photometric = 0;
  if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width) ||
      !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height))
    fail(path, "damaged TIFF file", "no image size");
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &channels);
  TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
  if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric))
    photometric = channels >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  check_size(path, width, height);

  Raster r;
  r.width = static_cast<int>(width);
  r.height = static_cast<int>(height);
  r.channels = channels;
  r.bytes = bits / 8;
  r.is_float = format == SAMPLEFORMAT_IEEEFP;
  r.maxval = bits == 16 ? 65535 : 255;
  r.invert = photometric == PHOTOMETRIC_MINISWHITE;
  r.planar = planar == PLANARCONFIG_SEPARATE;
  const bool integer = format == SAMPLEFORMAT_UINT && (bits == 8 || bits == 16);
  const bool floating = r.is_float && (bits == 32 || bits == 64);
  if (!integer && !floating)
    fail(path, "unsupported TIFF samples",
         std::to_string(bits) + "-bit " +
             (format == SAMPLEFORMAT_IEEEFP ? "float"
              : format == SAMPLEFORMAT_INT  ? "signed"
                                            : "unsigned") +
             "; 8 and 16-bit unsigned integers and 32 and 64-bit floats are read");
  const bool grey = (photometric == PHOTOMETRIC_MINISBLACK ||
                     (photometric == PHOTOMETRIC_MINISWHITE && integer)) &&
                    channels <= 2;
  const bool rgb = photometric == PHOTOMETRIC_RGB && channels >= 3 && channels <= 4;
  if (channels < 1 || (!grey && !rgb))
    fail(path, "unsupported TIFF colour layout",
         "photometric interpretation " + std::to_string(photometric) + " with " +
             std::to_string(channels) + " samples per pixel; grey or RGB are read");

  // Planes are whole channels when separate, else one plane of all of them.
  const size_t planes = r.planar ? channels : 1;
  const size_t pixel_bytes = static_cast<size_t>(r.bytes) * (r.planar ? 1 : channels);
  const size_t line_bytes = pixel_bytes * width;
  const size_t plane_bytes = line_bytes * height;
  r.data.resize(plane_bytes * planes);
  if (TIFFIsTiled(t)) {
    std::uint32_t tile_width = 0, tile_height = 0;
    TIFFGetField(t, TIFFTAG_TILEWIDTH, &tile_width);
    TIFFGetField(t, TIFFTAG_TILELENGTH, &tile_height);
    const tmsize_t tile_bytes = TIFFTileSize(t);
    if (tile_width == 0 || tile_height == 0 || tile_bytes <= 0 ||
        static_cast<size_t>(tile_bytes) != pixel_bytes * tile_width * tile_height)
      fail(path, "unsupported TIFF tile layout");
    std::vector<unsigned char> tile(static_cast<size_t>(tile_bytes));
    for (size_t plane = 0; plane < planes; plane++)
      for (std::uint32_t y = 0; y < height; y += tile_height)
        for (std::uint32_t x = 0; x < width; x += tile_width) {
          const std::uint32_t number =
              TIFFComputeTile(t, x, y, 0, static_cast<std::uint16_t>(plane));
          if (TIFFReadEncodedTile(t, number, tile.data(), tile_bytes) != tile_bytes)
            fail(path, "damaged TIFF file", tiff_message[0] ? tiff_message : "a tile is short");
          const std::uint32_t rows = std::min(tile_height, height - y);
          const size_t count = pixel_bytes * std::min(tile_width, width - x);
          for (std::uint32_t k = 0; k < rows; k++)
            std::memcpy(
                r.data.data() + plane * plane_bytes + (y + k) * line_bytes + x * pixel_bytes,
                tile.data() + static_cast<size_t>(k) * tile_width * pixel_bytes, count);
        }
  } else {
    std::uint32_t rows_per_strip = height;
    TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rows_per_strip);
    if (rows_per_strip == 0 || rows_per_strip > height) rows_per_strip = height;
    const std::uint32_t per_plane = (height + rows_per_strip - 1) / rows_per_strip;
    if (static_cast<size_t>(TIFFScanlineSize(t)) != line_bytes ||
        TIFFNumberOfStrips(t) != per_plane * planes)
      fail(path, "unsupported TIFF strip layout");
    for (std::uint32_t strip = 0; strip < per_plane * planes; strip++) {
      const std::uint32_t first = (strip % per_plane) * rows_per_strip;
      const size_t size = line_bytes * std::min(rows_per_strip, height - first);
      unsigned char* into = r.data.data() + (strip / per_plane) * plane_bytes + first * line_bytes;
      if (TIFFReadEncodedStrip(t, strip, into, static_cast<tmsize_t>(size)) !=
          static_cast<tmsize_t>(size))
        fail(path, "damaged TIFF file", tiff_message[0] ? tiff_message : "a strip is short");
    }
  }
  return r;
}

// ---- The formats ----

struct Format {
  const char* name;
  std::vector<std::string> signatures;  // the first bytes of a file
  Raster (*read)(const std::string& path, FILE* f);
};

const std::vector<Format>& formats() {
  static const std::vector<Format> table = {
      {"PGM/PPM", {"P5", "P6"}, read_pnm},
      {"PNG", {std::string("\x89PNG\r\n\x1a\n", 8)}, read_png},
      {"TIFF", {std::string("II*\0", 4), std::string("MM\0*", 4)}, read_tiff},
  };
  return table;
}

double srgb_to_linear(double u) {
  return u <= 0.04045 ? u / 12.92 : std::pow((u + 0.055) / 1.055, 2.4);
}

// Sample `channel` of pixel p as stored.
double sample(const Raster& r, size_t p, int channel) {
  const size_t pixels = static_cast<size_t>(r.width) * r.height;
  const size_t index = r.planar ? channel * pixels + p : p * r.channels + channel;
  const unsigned char* at = r.data.data() + index * r.bytes;
  switch (r.bytes) {
    case 1:
      return *at;
    case 2: {
      std::uint16_t v;
      std::memcpy(&v, at, 2);
      return v;
    }
    case 4: {
      float v;
      std::memcpy(&v, at, 4);
      return v;
    }
    default: {
      double v;
      std::memcpy(&v, at, 8);
      return v;
    }
  }
}

// Writes the grey levels of the raster into out[0 .. width * height - 1].
void grey_levels(const Raster& r, const ImageOptions& options, const std::string& path,
                 double* out) {
  const size_t pixels = static_cast<size_t>(r.width) * r.height;
  const int colours = r.channels >= 3 ? 3 : 1;
  for (size_t p = 0; p < pixels; p++) {
    double level[3];
    for (int c = 0; c < colours; c++) {
      double v = sample(r, p, c);
      if (r.is_float && !std::isfinite(v)) fail(path, "a sample is not a finite number");
      if (r.invert) v = r.maxval - v;
      if (options.srgb)
        level[c] = srgb_to_linear(r.is_float ? v : v / r.maxval) * 255;
      else
        level[c] = r.is_float ? v * 255 : v / r.maxval * 255;
    }
    out[p] = colours == 3 ? 0.2126 * level[0] + 0.7152 * level[1] + 0.0722 * level[2] : level[0];
  }
}

struct File {
  FILE* f = nullptr;
  ~File() {
    if (f) std::fclose(f);
  }
};

}  // namespace

void read_grey_image(const std::string& path, const ImageOptions& options,
                     const std::function<double*(int, int)>& storage) {
  File file;
  file.f = std::fopen(path.c_str(), "rb");
  if (!file.f) file_error(path, "cannot open the image", errno);
  char head[8];
  const size_t got = std::fread(head, 1, sizeof head, file.f);
  // A folder opens, but cannot be read: the system's reason, not "unknown format".
  if (got < sizeof head && std::ferror(file.f)) read_error(path, errno);
  std::rewind(file.f);
  for (const Format& format : formats())
    for (const std::string& signature : format.signatures)
      if (got >= signature.size() && std::memcmp(head, signature.data(), signature.size()) == 0) {
        const Raster raster = format.read(path, file.f);
        grey_levels(raster, options, path, storage(raster.width, raster.height));
        return;
      }
  fail(path, "not an image of a known format", image_format_names() + " are read");
}

GreyImage read_grey_image(const std::string& path, const ImageOptions& options) {
  GreyImage image;
  read_grey_image(path, options, [&image](int width, int height) {
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<size_t>(width) * height);
    return image.pixels.data();
  });
  return image;
}

std::string image_format_names() {
  std::string names;
  for (const Format& format : formats())
    names += (names.empty() ? "" : ", ") + std::string(format.name);
  return names;
}

std::string encode_pnm(int width, int height, int channels, const unsigned char* samples) {
  if (width <= 0 || height <= 0 || (channels != 1 && channels != 3))
    throw std::invalid_argument("encode_pnm: no such image");
  std::string out = (channels == 1 ? "P5\n" : "P6\n") + std::to_string(width) + " " +
                    std::to_string(height) + "\n255\n";
  out.append(reinterpret_cast<const char*>(samples),
             static_cast<size_t>(width) * static_cast<size_t>(height) * channels);
  return out;
}

void write_pnm(const std::string& path, int width, int height, int channels,
               const unsigned char* samples) {
  write_file_atomically(path, encode_pnm(width, height, channels, samples));
}
