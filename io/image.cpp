#include "image.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfInputFile.h>
#include <fcntl.h>
#include <jpeglib.h>
#include <libraw/libraw.h>
#include <png.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csetjmp>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "atomic_output.h"
#include "data_error.h"

// stb_image, for BMP and TGA only, compiled here with internal linkage (the
// fuzz build instruments it with the readers).
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#define STBI_ONLY_TGA
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_MAX_DIMENSIONS (1 << 15)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-declarations"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

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

// A whole file in memory.
struct Bytes {
  const unsigned char* data;
  size_t size;
};

// The largest ratio of a deflate stream's output to its input (258 bytes
// from one bit, in blocks of the fixed code).
constexpr double kDeflateRatio = 1032;

[[noreturn]] void fail(const std::string& path, const std::string& message,
                       const std::string& detail = "") {
  data_error(path, 0, message, detail);
}

// A library's message as one line: control characters become spaces.
std::string one_line(const std::string& text) {
  std::string line = text;
  for (char& c : line)
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = ' ';
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line.substr(0, 200);
}

void check_size(const std::string& path, long width, long height) {
  if (width < 1 || height < 1 || width > kMaxImageSideLength || height > kMaxImageSideLength ||
      width * height > kMaxImagePixels)
    fail(path, "unsupported image size",
         std::to_string(width) + "x" + std::to_string(height) + "; sides from 1 to " +
             std::to_string(kMaxImageSideLength) + ", at most " + std::to_string(kMaxImagePixels) +
             " pixels");
}

// Refuses a raster of `need` bytes when the file's `have` bytes cannot hold
// it (at `ratio` bytes of raster per byte of file at most).
void check_room(const std::string& path, const char* what, double need, double have, double ratio) {
  if (need > have * ratio)
    fail(path, std::string("the file is too short for its image"),
         std::string(what) + ": " + std::to_string(static_cast<long long>(need)) +
             " bytes declared, " + std::to_string(static_cast<long long>(have)) + " bytes of data");
}

// Room for a raster that grows as it is decoded: all of it when the file
// could give that much at `ratio` bytes of raster per byte of file, else
// that much, so that a valid image is allocated once and a lying header
// costs no more than its bytes.
void reserve_raster(Raster* r, double declared, size_t file_bytes, double ratio) {
  r->data.reserve(static_cast<size_t>(std::min(declared, static_cast<double>(file_bytes) * ratio)));
}

bool little_endian() {
  const std::uint16_t one = 1;
  unsigned char first;
  std::memcpy(&first, &one, 1);
  return first == 1;
}

unsigned get16le(const unsigned char* p) { return p[0] | (p[1] << 8); }
std::uint32_t get32le(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// ---- PGM and PPM ("P5", "P6") ----

bool is_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The next header number from *at: white space and comment lines ('#' to
// the end of the line) before it, decimal digits, then one byte of white
// space.
long pnm_number(const Bytes& in, size_t* at, const std::string& path, const char* what) {
  auto next = [&]() { return *at < in.size ? static_cast<int>(in.data[(*at)++]) : EOF; };
  int c = next();
  for (;;) {
    if (c == '#') {
      while (c != '\n' && c != EOF) c = next();
    } else if (is_space(c)) {
      c = next();
    } else {
      break;
    }
  }
  if (c < '0' || c > '9') fail(path, std::string("the header lacks the ") + what);
  long value = 0;
  while (c >= '0' && c <= '9') {
    if (value > 1000000) fail(path, std::string("the ") + what + " in the header is too large");
    value = value * 10 + (c - '0');
    c = next();
  }
  if (!is_space(c))
    fail(path, std::string("the ") + what + " in the header is not followed by white space");
  return value;
}

Raster read_pnm(const std::string& path, const Bytes& in) {
  Raster r;
  if (in.size < 2 || in.data[0] != 'P' || (in.data[1] != '5' && in.data[1] != '6'))
    fail(path, "not a binary PGM or PPM");
  r.channels = in.data[1] == '6' ? 3 : 1;
  size_t at = 2;
  const long width = pnm_number(in, &at, path, "width");
  const long height = pnm_number(in, &at, path, "height");
  const long maxval = pnm_number(in, &at, path, "maximum value");
  check_size(path, width, height);
  if (maxval < 1 || maxval > 65535)
    fail(path, "the maximum value must be from 1 to 65535", std::to_string(maxval));
  r.width = static_cast<int>(width);
  r.height = static_cast<int>(height);
  r.maxval = static_cast<double>(maxval);
  r.bytes = maxval > 255 ? 2 : 1;
  const size_t size = static_cast<size_t>(width) * height * r.channels * r.bytes;
  if (in.size - at < size)
    fail(path, "the raster is too short",
         std::to_string(in.size - at) + " of " + std::to_string(size) + " bytes");
  r.data.assign(in.data + at, in.data + at + size);
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

// The decoder, its input and the message of its last error. libpng reports
// an error by a long jump back to the function that called it; the
// functions that call it create no object with a destructor, so the jump
// skips none.
struct PngDecoder {
  png_structp png = nullptr;
  png_infop info = nullptr;
  Bytes in{nullptr, 0};
  size_t at = 0;
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

void png_read_bytes(png_structp png, png_bytep into, size_t count) {
  auto* d = static_cast<PngDecoder*>(png_get_io_ptr(png));
  if (count > d->in.size - d->at) png_error(png, "the file is truncated");
  std::memcpy(into, d->in.data + d->at, count);
  d->at += count;
}

// The bytes of compressed image data (IDAT chunks) in the file; the chunks
// are walked without being checked (libpng checks them).
double png_data_bytes(const Bytes& in) {
  double total = 0;
  for (size_t at = 8; at + 8 <= in.size;) {
    const size_t length = (static_cast<size_t>(in.data[at]) << 24) | (in.data[at + 1] << 16) |
                          (in.data[at + 2] << 8) | in.data[at + 3];
    if (std::memcmp(in.data + at + 4, "IDAT", 4) == 0) total += std::min(length, in.size - at - 8);
    if (length > in.size - at - 8) break;
    at += 12 + length;
  }
  return total;
}

// Reads the header and sets the transformations: one byte per sample below
// 16 bits, palettes as RGB, 16-bit samples in host order, interlacing
// undone. Fills the raster's size and sample description.
bool png_header(PngDecoder* d, Raster* r, size_t* row_bytes, size_t* filtered_bytes,
                bool* interlaced) {
  if (setjmp(png_jmpbuf(d->png))) return false;
  png_set_read_fn(d->png, d, png_read_bytes);
  png_set_user_limits(d->png, kMaxImageSideLength, kMaxImageSideLength);
  png_read_info(d->png, d->info);
  const int type = png_get_color_type(d->png, d->info);
  const int depth = png_get_bit_depth(d->png, d->info);
  *filtered_bytes = png_get_image_height(d->png, d->info) * (1 + png_get_rowbytes(d->png, d->info));
  *interlaced = png_get_interlace_type(d->png, d->info) != PNG_INTERLACE_NONE;
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

// An interlaced image, whole: its passes fill the rows in turn.
bool png_interlaced_raster(PngDecoder* d, png_bytep* rows) {
  if (setjmp(png_jmpbuf(d->png))) return false;
  png_read_image(d->png, rows);
  png_read_end(d->png, nullptr);
  return true;
}

// Row after row, the raster growing as they are decoded.
bool png_rows(PngDecoder* d, Raster* r, size_t row_bytes) {
  if (setjmp(png_jmpbuf(d->png))) return false;
  for (int i = 0; i < r->height; i++) {
    r->data.resize(row_bytes * (i + 1));
    png_read_row(d->png, r->data.data() + row_bytes * i, nullptr);
  }
  png_read_end(d->png, nullptr);
  return true;
}

Raster read_png(const std::string& path, const Bytes& in) {
  PngDecoder d;
  d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &d, png_error_handler, png_warning_handler);
  if (d.png) d.info = png_create_info_struct(d.png);
  if (!d.png || !d.info) fail(path, "cannot read the PNG file", "out of memory");
  d.in = in;
  Raster r;
  size_t row_bytes = 0, filtered_bytes = 0;
  bool interlaced = false;
  if (!png_header(&d, &r, &row_bytes, &filtered_bytes, &interlaced))
    fail(path, "damaged PNG file", d.error);
  check_size(path, r.width, r.height);
  if (row_bytes != static_cast<size_t>(r.width) * r.channels * r.bytes)
    fail(path, "unsupported PNG layout");
  if (interlaced) {
    // The passes need the whole raster at once: it must be one the
    // compressed data can give.
    check_room(path, "interlaced PNG", static_cast<double>(filtered_bytes), png_data_bytes(in),
               kDeflateRatio);
    r.data.resize(row_bytes * r.height);
    std::vector<png_bytep> rows(r.height);
    for (int i = 0; i < r.height; i++) rows[i] = r.data.data() + row_bytes * i;
    if (!png_interlaced_raster(&d, rows.data())) fail(path, "damaged PNG file", d.error);
  } else if (reserve_raster(&r, static_cast<double>(row_bytes) * r.height, in.size, 16),
             !png_rows(&d, &r, row_bytes)) {
    fail(path, "damaged PNG file", d.error);
  }
  return r;
}

// ---- TIFF (libtiff) and camera raw files (LibRaw) ----

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

// The file in memory as libtiff's client: read, seek and map.
struct TiffSource {
  Bytes in;
  toff_t at = 0;
};

tmsize_t tiff_read(thandle_t handle, void* into, tmsize_t count) {
  auto* s = static_cast<TiffSource*>(handle);
  if (count < 0 || s->at >= s->in.size) return 0;
  const size_t n = std::min(static_cast<size_t>(count), static_cast<size_t>(s->in.size - s->at));
  std::memcpy(into, s->in.data + s->at, n);
  s->at += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t tiff_write(thandle_t, void*, tmsize_t) { return 0; }

toff_t tiff_seek(thandle_t handle, toff_t offset, int whence) {
  auto* s = static_cast<TiffSource*>(handle);
  const toff_t base = whence == SEEK_CUR ? s->at : whence == SEEK_END ? s->in.size : 0;
  s->at = base + offset;
  return s->at;
}

int tiff_close(thandle_t) { return 0; }

toff_t tiff_size(thandle_t handle) { return static_cast<TiffSource*>(handle)->in.size; }

int tiff_map(thandle_t handle, void** base, toff_t* size) {
  auto* s = static_cast<TiffSource*>(handle);
  *base = const_cast<unsigned char*>(s->in.data);
  *size = s->in.size;
  return 1;
}

void tiff_unmap(thandle_t, void*, toff_t) {}

struct TiffFile {
  TiffSource source;
  TIFF* tiff = nullptr;
  ~TiffFile() {
    if (tiff) TIFFClose(tiff);
  }
};

bool is_tiff(const unsigned char* d, size_t n) {
  return n >= 4 && (std::memcmp(d, "II*\0", 4) == 0 || std::memcmp(d, "MM\0*", 4) == 0);
}

// The directories of a classic TIFF, walked with every offset checked
// against the file: the first, its sub-directories (the first 8), and the
// chain of directories after the first (the first 16).
class TiffDirectories {
 public:
  TiffDirectories(const unsigned char* d, size_t n) : d_(d), n_(n), le_(d[0] == 'I') {
    std::vector<std::uint32_t> chain;
    for (std::uint32_t ifd = u32(4); ifd >= 8 && ifd <= n - 2 && chain.size() < 16;) {
      if (std::find(chain.begin(), chain.end(), ifd) != chain.end()) break;
      chain.push_back(ifd);
      const size_t next = ifd + 2 + 12 * static_cast<size_t>(u16(ifd));
      ifd = next <= n - 4 ? u32(next) : 0;
    }
    if (chain.empty()) return;
    // The first directory's sub-directories come right after it.
    directories_.push_back(chain[0]);
    entries(chain[0], [&](unsigned tag, unsigned type, std::uint32_t count, size_t value) {
      if (tag != 330 || (type != 4 && type != 13) || count < 1) return;
      const std::uint32_t first = count == 1 ? static_cast<std::uint32_t>(value) : u32(value);
      for (std::uint32_t s = 0; s < std::min<std::uint32_t>(count, 8); s++)
        if (first <= n_ - 4 && 4 * static_cast<size_t>(s) <= n_ - 4 - first)
          directories_.push_back(u32(first + 4 * s));
    });
    first_group_ = directories_.size();
    directories_.insert(directories_.end(), chain.begin() + 1, chain.end());
  }
  // The first directory, its sub-directories, then the chain after it.
  const std::vector<std::uint32_t>& directories() const { return directories_; }
  // How many of them are the first and its sub-directories.
  size_t first_group() const { return first_group_; }

  // Calls visit(tag, type, count, where the value or its offset lies) for
  // every entry of the directory at `ifd` within the file.
  template <class Visit>
  void entries(std::uint32_t ifd, Visit visit) const {
    if (ifd < 8 || ifd > n_ - 2) return;
    const unsigned count = u16(ifd);
    for (unsigned k = 0; k < count; k++) {
      const size_t entry = ifd + 2 + 12 * static_cast<size_t>(k);
      if (entry + 12 > n_) break;
      visit(u16(entry), u16(entry + 2), u32(entry + 4), entry + 8);
    }
  }
  unsigned u16(size_t at) const {
    return le_ ? d_[at] | (d_[at + 1] << 8) : (d_[at] << 8) | d_[at + 1];
  }
  std::uint32_t u32(size_t at) const {
    return le_ ? get32le(d_ + at)
               : (static_cast<std::uint32_t>(d_[at]) << 24) | (d_[at + 1] << 16) |
                     (d_[at + 2] << 8) | d_[at + 3];
  }

 private:
  const unsigned char* d_;
  size_t n_;
  bool le_;
  std::vector<std::uint32_t> directories_;
  size_t first_group_ = 0;
};

// Whether a classic TIFF is a camera's raw file: a DNGVersion tag, "CR" at
// byte 8 (CR2), or a colour filter array as the photometric interpretation
// of the first directory or of one of its sub-directories (NEF, ARW and
// others keep the raw data in a sub-directory, a preview in the first).
bool is_camera_raw(const unsigned char* d, size_t n) {
  if (!is_tiff(d, n) || n < 16) return false;
  if (d[8] == 'C' && d[9] == 'R') return true;
  const TiffDirectories tiff(d, n);
  const unsigned kDngVersion = 50706, kPhotometric = 262, kCfa = 32803;
  bool raw = false;
  const std::vector<std::uint32_t>& all = tiff.directories();
  // The first directory and its sub-directories (the chain after them is
  // not looked at: an ordinary TIFF's later pages are its own business).
  for (size_t k = 0; k < tiff.first_group(); k++)
    tiff.entries(all[k], [&](unsigned tag, unsigned type, std::uint32_t, size_t value) {
      if (tag == kDngVersion && k == 0) raw = true;
      if (tag == kPhotometric && type == 3 && tiff.u16(value) == kCfa) raw = true;
    });
  return raw;
}

// Checks what LibRaw 0.20 trusts in a raw file's directories: a colour
// filter pattern as long as its repeat (with 36 entries and another repeat
// it crashes), or of at most 16 entries without one.
void check_raw_directories(const std::string& path, const Bytes& in) {
  const TiffDirectories tiff(in.data, in.size);
  for (std::uint32_t ifd : tiff.directories()) {
    long repeat = -1, pattern = -1;
    tiff.entries(ifd, [&](unsigned tag, unsigned type, std::uint32_t count, size_t value) {
      if (tag == 33421)
        repeat = type == 3 && count == 2 ? tiff.u16(value) * tiff.u16(value + 2) : 0;
      if (tag == 33422) pattern = count;
    });
    if (pattern >= 0 && (repeat >= 0 ? pattern != repeat : pattern > 16))
      fail(path, "unsupported camera raw file",
           "a colour filter pattern of " + std::to_string(pattern) + " entries for a repeat of " +
               std::to_string(repeat) + " cells");
  }
}

bool is_ordinary_tiff(const unsigned char* d, size_t n) {
  return is_tiff(d, n) && !is_camera_raw(d, n);
}

Raster read_tiff(const std::string& path, const Bytes& in) {
  static std::once_flag handlers;
  std::call_once(handlers, [] {
    TIFFSetErrorHandler(tiff_error_handler);
    TIFFSetWarningHandler(tiff_warning_handler);
  });
  tiff_message[0] = '\0';
  TiffFile file;
  file.source.in = in;
  file.tiff = TIFFClientOpen(path.c_str(), "r", &file.source, tiff_read, tiff_write, tiff_seek,
                             tiff_close, tiff_size, tiff_map, tiff_unmap);
  TIFF* t = file.tiff;
  if (!t) fail(path, "damaged TIFF file", tiff_message);
  std::uint32_t width = 0, height = 0;
  std::uint16_t channels = 1, bits = 1, format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG;
  std::uint16_t photometric = 0, compression = COMPRESSION_NONE;
  if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width) ||
      !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height))
    fail(path, "damaged TIFF file", "no image size");
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &channels);
  TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
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
  // The raster grows as rows are decoded, plane after plane, so that a file
  // whose data falls short of its declared size fails first.
  const size_t planes = r.planar ? channels : 1;
  const size_t pixel_bytes = static_cast<size_t>(r.bytes) * (r.planar ? 1 : channels);
  const size_t line_bytes = pixel_bytes * width;
  reserve_raster(&r, static_cast<double>(line_bytes) * height * planes, in.size,
                 compression == COMPRESSION_NONE ? 1 : 16);
  if (TIFFIsTiled(t)) {
    std::uint32_t tile_width = 0, tile_height = 0;
    TIFFGetField(t, TIFFTAG_TILEWIDTH, &tile_width);
    TIFFGetField(t, TIFFTAG_TILELENGTH, &tile_height);
    const tmsize_t tile_bytes = TIFFTileSize(t);
    // Tiles have sides of multiples of 16 (libtiff reads others, e.g.
    // 1 x 373 tiles, a library call each).
    if (tile_width == 0 || tile_height == 0 || tile_width % 16 != 0 || tile_height % 16 != 0 ||
        tile_bytes <= 0 ||
        static_cast<size_t>(tile_bytes) != pixel_bytes * tile_width * tile_height)
      fail(path, "unsupported TIFF tile layout",
           "tiles of " + std::to_string(tile_width) + "x" + std::to_string(tile_height) +
               "; their sides must be multiples of 16");
    // A tile is decoded whole: up to 16 MiB, or what the file could give at
    // the coding's ratio (all of it, uncompressed).
    if (tile_bytes > (1 << 24))
      check_room(path, "TIFF tile", static_cast<double>(tile_bytes), static_cast<double>(in.size),
                 compression == COMPRESSION_NONE ? 1 : 4096);
    std::vector<unsigned char> tile(static_cast<size_t>(tile_bytes));
    for (size_t plane = 0; plane < planes; plane++)
      for (std::uint32_t y = 0; y < height; y += tile_height) {
        const std::uint32_t rows = std::min(tile_height, height - y);
        const size_t band = r.data.size();
        r.data.resize(band + rows * line_bytes);
        for (std::uint32_t x = 0; x < width; x += tile_width) {
          const std::uint32_t number =
              TIFFComputeTile(t, x, y, 0, static_cast<std::uint16_t>(plane));
          if (TIFFReadEncodedTile(t, number, tile.data(), tile_bytes) != tile_bytes)
            fail(path, "damaged TIFF file", tiff_message[0] ? tiff_message : "a tile is short");
          const size_t count = pixel_bytes * std::min(tile_width, width - x);
          for (std::uint32_t k = 0; k < rows; k++)
            std::memcpy(r.data.data() + band + k * line_bytes + x * pixel_bytes,
                        tile.data() + static_cast<size_t>(k) * tile_width * pixel_bytes, count);
        }
      }
  } else {
    std::uint32_t rows_per_strip = height;
    TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rows_per_strip);
    if (rows_per_strip == 0 || rows_per_strip > height) rows_per_strip = height;
    const std::uint32_t per_plane = (height + rows_per_strip - 1) / rows_per_strip;
    if (static_cast<size_t>(TIFFScanlineSize(t)) != line_bytes ||
        TIFFNumberOfStrips(t) != per_plane * planes)
      fail(path, "unsupported TIFF strip layout");
    for (size_t plane = 0; plane < planes; plane++)
      for (std::uint32_t y = 0; y < height; y++) {
        const size_t at = r.data.size();
        r.data.resize(at + line_bytes);
        if (TIFFReadScanline(t, r.data.data() + at, y, static_cast<std::uint16_t>(plane)) != 1)
          fail(path, "damaged TIFF file", tiff_message[0] ? tiff_message : "a strip is short");
      }
  }
  return r;
}

// LibRaw's reports of damaged data (it goes on with zeros): the first is
// kept for the message.
void raw_data_error(void* data, const char*, const int offset) {
  auto* first = static_cast<long*>(data);
  if (*first < 0) *first = offset;
}

void raw_memory_error(void*, const char*, const char*) {}

struct RawImage {
  libraw_processed_image_t* image = nullptr;
  ~RawImage() {
    if (image) LibRaw::dcraw_clear_mem(image);
  }
};

Raster read_raw(const std::string& path, const Bytes& in) {
  check_raw_directories(path, in);
  auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
  long data_error_at = -1;
  raw->set_dataerror_handler(raw_data_error, &data_error_at);
  raw->set_memerror_handler(raw_memory_error, nullptr);
  libraw_output_params_t& p = raw->imgdata.params;
  p.output_bps = 16;  // 16 bits per sample
  p.gamm[0] = 1;      // linear: no gamma curve
  p.gamm[1] = 1;
  p.no_auto_bright = 1;  // no automatic brightening
  p.use_camera_wb = 1;   // the camera's white balance
  p.half_size = 0;       // full size
  p.user_qual = 3;       // AHD demosaicking
  p.output_color = 1;    // sRGB primaries
  p.user_flip = 0;       // the sensor's layout, not turned
  auto check = [&](int status, const char* what) {
    if (status != LIBRAW_SUCCESS)
      fail(path, "cannot read the camera raw file",
           std::string(what) + ": " + libraw_strerror(status));
  };
  check(raw->open_buffer(const_cast<unsigned char*>(in.data), in.size), "LibRaw cannot open it");
  const libraw_image_sizes_t& sizes = raw->imgdata.sizes;
  check_size(path, sizes.width, sizes.height);
  check_size(path, sizes.raw_width, sizes.raw_height);
  // Every sample of the raw data takes a bit at least, whatever its coding.
  check_room(path, "camera raw data", static_cast<double>(sizes.raw_width) * sizes.raw_height / 8,
             static_cast<double>(in.size), 1);
  check(raw->unpack(), "cannot unpack the raw data");
  if (data_error_at >= 0)
    fail(path, "damaged camera raw file", "bad data at byte " + std::to_string(data_error_at));
  check(raw->dcraw_process(), "cannot develop the raw data");
  if (data_error_at >= 0)
    fail(path, "damaged camera raw file", "bad data at byte " + std::to_string(data_error_at));
  int status = LIBRAW_SUCCESS;
  RawImage developed;
  developed.image = raw->dcraw_make_mem_image(&status);
  check(developed.image ? status : LIBRAW_UNSPECIFIED_ERROR, "cannot develop the raw data");
  const libraw_processed_image_t& image = *developed.image;
  if (image.type != LIBRAW_IMAGE_BITMAP || image.bits != 16 ||
      (image.colors != 1 && image.colors != 3))
    fail(path, "unsupported camera raw file",
         std::to_string(image.colors) + " colours of " + std::to_string(image.bits) + " bits");
  check_size(path, image.width, image.height);
  Raster r;
  r.width = image.width;
  r.height = image.height;
  r.channels = image.colors;
  r.bytes = 2;
  r.maxval = 65535;
  const size_t size = static_cast<size_t>(r.width) * r.height * r.channels * 2;
  if (image.data_size != size) fail(path, "unsupported camera raw file", "unexpected layout");
  r.data.assign(image.data, image.data + size);
  return r;
}

// ---- JPEG (libjpeg) ----

// Checks the markers before libjpeg allocates anything: one frame of
// Huffman-coded samples (baseline, extended or progressive), segments
// within the file, at most kMaxJpegScans scans, an end-of-image marker,
// and every component's first DC scan long enough for its blocks (each
// block takes a code of one bit at least there), so that the buffers libjpeg
// sizes by the frame's word are ones the file's data can fill.
constexpr int kMaxJpegScans = 1000;

void check_jpeg_markers(const std::string& path, const Bytes& in) {
  const unsigned char* d = in.data;
  const size_t n = in.size;
  struct Component {
    int id, h, v;
    double blocks = 0;
    bool coded = false;
  };
  std::vector<Component> components;
  int scans = 0;
  size_t at = 2;  // after the start-of-image marker
  for (;;) {
    if (at >= n) fail(path, "damaged JPEG file", "no end-of-image marker");
    if (d[at] != 0xFF) fail(path, "damaged JPEG file", "data where a marker belongs");
    while (at < n && d[at] == 0xFF) at++;
    if (at >= n) fail(path, "damaged JPEG file", "no end-of-image marker");
    const int marker = d[at++];
    if (marker == 0xD9) break;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) continue;  // no length
    if (n - at < 2) fail(path, "damaged JPEG file", "a segment is cut short");
    const size_t length = (static_cast<size_t>(d[at]) << 8) | d[at + 1];
    if (length < 2 || length > n - at) fail(path, "damaged JPEG file", "a segment is cut short");
    const unsigned char* s = d + at + 2;
    const size_t have = length - 2;
    at += length;
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      if (marker > 0xC2)
        fail(path, "unsupported JPEG coding",
             "frame type " + std::to_string(marker - 0xC0) +
                 "; baseline, extended and progressive Huffman coding are read");
      if (!components.empty()) fail(path, "damaged JPEG file", "two frames");
      if (have < 6 || have < 6 + 3 * static_cast<size_t>(s[5]) || s[5] == 0)
        fail(path, "damaged JPEG file", "a short frame header");
      const long height = (s[1] << 8) | s[2], width = (s[3] << 8) | s[4];
      check_size(path, width, height);
      int hmax = 1, vmax = 1;
      for (int c = 0; c < s[5]; c++) {
        const Component component{s[6 + 3 * c], s[7 + 3 * c] >> 4, s[7 + 3 * c] & 15};
        if (component.h < 1 || component.h > 4 || component.v < 1 || component.v > 4)
          fail(path, "damaged JPEG file", "bad sampling factors");
        hmax = std::max(hmax, component.h);
        vmax = std::max(vmax, component.v);
        components.push_back(component);
      }
      for (Component& c : components) {
        const double w = std::ceil(static_cast<double>(width) * c.h / hmax);
        const double h = std::ceil(static_cast<double>(height) * c.v / vmax);
        c.blocks = std::ceil(w / 8) * std::ceil(h / 8);
      }
    } else if (marker == 0xDA) {
      if (components.empty()) fail(path, "damaged JPEG file", "a scan before the frame");
      if (++scans > kMaxJpegScans)
        fail(path, "unsupported JPEG file",
             "more than " + std::to_string(kMaxJpegScans) + " scans");
      if (have < 1 || have < 4 + 2 * static_cast<size_t>(s[0]))
        fail(path, "damaged JPEG file", "a short scan header");
      const int count = s[0], first = s[1 + 2 * count], high = s[3 + 2 * count] >> 4;
      // The coded data: up to the next marker that is neither a stuffed
      // zero nor a restart.
      const size_t start = at;
      while (at + 1 < n &&
             !(d[at] == 0xFF && d[at + 1] != 0 && (d[at + 1] < 0xD0 || d[at + 1] > 0xD7)))
        at++;
      if (at + 1 >= n) fail(path, "damaged JPEG file", "the coded data is cut short");
      if (first == 0 && high == 0) {
        double blocks = 0;
        std::vector<Component*> in_scan;
        for (int k = 0; k < count; k++)
          for (Component& c : components)
            if (c.id == s[1 + 2 * k]) {
              blocks += c.blocks;
              in_scan.push_back(&c);
            }
        if (blocks > 8.0 * static_cast<double>(at - start))
          fail(path, "the file is too short for its image",
               "a scan of " + std::to_string(static_cast<long>(blocks)) + " blocks in " +
                   std::to_string(at - start) + " bytes");
        for (Component* c : in_scan) c->coded = true;
      }
    }
  }
  if (components.empty()) fail(path, "damaged JPEG file", "no frame");
  for (const Component& c : components)
    if (!c.coded) fail(path, "damaged JPEG file", "a component is never coded");
}

// The decoder and its error manager: libjpeg reports an error, and here
// every warning too (damaged data it would decode as grey), by a long jump
// back to the function that called it, which creates no object with a
// destructor.
struct JpegDecoder {
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  std::jmp_buf back;
  char error[JMSG_LENGTH_MAX] = "";
  bool created = false;
  ~JpegDecoder() {
    if (created) jpeg_destroy_decompress(&info);
  }
};

void jpeg_error_exit(j_common_ptr info) {
  auto* d = static_cast<JpegDecoder*>(info->client_data);
  (*info->err->format_message)(info, d->error);
  std::longjmp(d->back, 1);
}

void jpeg_message(j_common_ptr info, int level) {
  if (level < 0) jpeg_error_exit(info);
}

bool jpeg_decode(JpegDecoder* d, const Bytes& in, Raster* r) {
  if (setjmp(d->back)) return false;
  jpeg_create_decompress(&d->info);
  d->created = true;
  jpeg_mem_src(&d->info, in.data, static_cast<unsigned long>(in.size));
  if (jpeg_read_header(&d->info, TRUE) != JPEG_HEADER_OK) {
    std::snprintf(d->error, sizeof d->error, "no image");
    return false;
  }
  if (d->info.num_components == 1) {
    d->info.out_color_space = JCS_GRAYSCALE;
  } else if (d->info.num_components == 3) {
    d->info.out_color_space = JCS_RGB;
  } else {
    std::snprintf(d->error, sizeof d->error, "%d components; grey or colour are read",
                  d->info.num_components);
    return false;
  }
  jpeg_start_decompress(&d->info);
  r->width = static_cast<int>(d->info.output_width);
  r->height = static_cast<int>(d->info.output_height);
  r->channels = d->info.output_components;
  const size_t row_bytes = static_cast<size_t>(r->width) * r->channels;
  reserve_raster(r, static_cast<double>(row_bytes) * r->height, in.size, 32);
  while (d->info.output_scanline < d->info.output_height) {
    const size_t at = r->data.size();
    r->data.resize(at + row_bytes);
    JSAMPROW row = r->data.data() + at;
    jpeg_read_scanlines(&d->info, &row, 1);
  }
  jpeg_finish_decompress(&d->info);
  return true;
}

Raster read_jpeg(const std::string& path, const Bytes& in) {
  check_jpeg_markers(path, in);
  JpegDecoder d;
  d.info.err = jpeg_std_error(&d.errors);
  d.errors.error_exit = jpeg_error_exit;
  d.errors.emit_message = jpeg_message;
  d.info.client_data = &d;
  Raster r;
  if (!jpeg_decode(&d, in, &r)) fail(path, "damaged or unsupported JPEG file", one_line(d.error));
  check_size(path, r.width, r.height);
  return r;
}

// ---- OpenEXR ----

// The file in memory as OpenEXR's input stream. It is not offered as
// mapped memory: OpenEXR then copies each chunk into buffers of its own,
// sized for the largest chunk, instead of decoding in place.
class ExrStream : public Imf::IStream {
 public:
  ExrStream(const std::string& name, const Bytes& in) : Imf::IStream(name.c_str()), in_(in) {}
  bool read(char c[], int n) override {
    if (n < 0 || at_ > in_.size || static_cast<size_t>(n) > in_.size - at_)
      throw std::runtime_error("the file is truncated");
    std::memcpy(c, in_.data + at_, static_cast<size_t>(n));
    at_ += n;
    return at_ < in_.size;
  }
  std::uint64_t tellg() override { return at_; }
  void seekg(std::uint64_t at) override { at_ = at; }

 private:
  Bytes in_;
  std::uint64_t at_ = 0;
};

// What the header says, read here with every size checked against the file
// before OpenEXR reads it.
struct ExrHeader {
  bool tiled = false;
  long xmin = 0, ymin = 0, width = 0, height = 0;
  int compression = -1;
  long tile_width = 0, tile_height = 0;
  double pixel_bytes = 0;  // of all channels
  struct Channel {
    std::string name;
    int type, xsampling, ysampling;
  };
  std::vector<Channel> channels;
  size_t end = 0;  // where the chunk offsets begin
};

ExrHeader exr_header(const std::string& path, const Bytes& in) {
  ExrHeader h;
  const unsigned char* d = in.data;
  const size_t n = in.size;
  if (n < 8) fail(path, "damaged OpenEXR file", "the header is cut short");
  const std::uint32_t version = get32le(d + 4);
  if ((version & 0xFF) != 2 || (version & 0x1800) != 0)
    fail(path, "unsupported OpenEXR file",
         "version " + std::to_string(version & 0xFF) + (version & 0x800 ? ", deep data" : "") +
             (version & 0x1000 ? ", several parts" : "") +
             "; single-part version 2 files are read");
  h.tiled = (version & 0x200) != 0;
  const size_t longest = version & 0x400 ? 255 : 31;
  bool window = false;
  size_t at = 8;
  auto text = [&](std::string* into) {
    const unsigned char* end =
        static_cast<const unsigned char*>(std::memchr(d + at, 0, std::min(n - at, longest + 1)));
    if (!end) fail(path, "damaged OpenEXR file", "a bad attribute name");
    into->assign(reinterpret_cast<const char*>(d + at), end - (d + at));
    at = end - d + 1;
  };
  for (;;) {
    if (at >= n) fail(path, "damaged OpenEXR file", "the header is cut short");
    if (d[at] == 0) {
      h.end = at + 1;
      break;
    }
    std::string name, type;
    text(&name);
    if (at >= n) fail(path, "damaged OpenEXR file", "the header is cut short");
    text(&type);
    if (n - at < 4) fail(path, "damaged OpenEXR file", "the header is cut short");
    const std::uint32_t size = get32le(d + at);
    at += 4;
    if (size > n - at) fail(path, "damaged OpenEXR file", "an attribute runs past the end");
    const unsigned char* v = d + at;
    at += size;
    // OpenEXR reads a value of a fixed-size type whatever the size says,
    // and a channel list to its end: both must fill the size exactly.
    static const std::pair<const char*, std::uint32_t> kFixed[] = {
        {"box2i", 16},
        {"box2f", 16},
        {"v2i", 8},
        {"v2f", 8},
        {"v2d", 16},
        {"v3i", 12},
        {"v3f", 12},
        {"v3d", 24},
        {"m33f", 36},
        {"m33d", 72},
        {"m44f", 64},
        {"m44d", 128},
        {"int", 4},
        {"float", 4},
        {"double", 8},
        {"compression", 1},
        {"lineOrder", 1},
        {"envmap", 1},
        {"tiledesc", 9},
        {"keycode", 28},
        {"timecode", 8},
        {"rational", 8},
        {"chromaticities", 32},
        {"deepImageState", 1},
    };
    for (const auto& fixed : kFixed)
      if (type == fixed.first && size != fixed.second)
        fail(path, "damaged OpenEXR file", "an attribute " + one_line(name) + " of the wrong size");
    if (type == "chlist") {
      size_t k = 0;
      while (k < size && v[k] != 0) {
        const unsigned char* end = static_cast<const unsigned char*>(
            std::memchr(v + k, 0, std::min<size_t>(size - k, 256)));
        if (!end || size - (end + 1 - v) < 16)
          fail(path, "damaged OpenEXR file", "a bad channel list");
        ExrHeader::Channel c;
        c.name.assign(reinterpret_cast<const char*>(v + k), end - (v + k));
        c.type = static_cast<int>(get32le(end + 1));
        c.xsampling = static_cast<int>(get32le(end + 9));
        c.ysampling = static_cast<int>(get32le(end + 13));
        if (c.type < 0 || c.type > 2 || c.xsampling < 1 || c.ysampling < 1)
          fail(path, "damaged OpenEXR file", "a bad channel list");
        if (name == "channels") {
          h.channels.push_back(c);
          if (h.channels.size() > 1024) fail(path, "unsupported OpenEXR file", "too many channels");
          h.pixel_bytes += c.type == 1 ? 2 : 4;
        }
        k = end + 17 - v;
      }
      if (k != size - 1) fail(path, "damaged OpenEXR file", "a bad channel list");
    } else if (name == "dataWindow" && type == "box2i" && size == 16) {
      const auto corner = [&](int k) {
        return static_cast<long>(static_cast<std::int32_t>(get32le(v + 4 * k)));
      };
      h.xmin = corner(0);
      h.ymin = corner(1);
      h.width = corner(2) - corner(0) + 1;
      h.height = corner(3) - corner(1) + 1;
      window = true;
    } else if (name == "compression" && type == "compression" && size == 1) {
      h.compression = v[0];
    } else if (type == "preview" && (size < 8 || 4.0 * get32le(v) * get32le(v + 4) != size - 8.0)) {
      fail(path, "damaged OpenEXR file", "a preview of the wrong size");
    } else if (type == "stringvector") {
      for (size_t k = 0; k < size;) {
        if (size - k < 4 || get32le(v + k) > size - k - 4)
          fail(path, "damaged OpenEXR file", "a bad list of strings");
        k += 4 + get32le(v + k);
      }
    } else if (name == "tiles" && type == "tiledesc" && size == 9) {
      h.tile_width = get32le(v);
      h.tile_height = get32le(v + 4);
    }
  }
  if (!window || h.channels.empty() || h.compression < 0)
    fail(path, "damaged OpenEXR file", "the header lacks the data window, channels or compression");
  check_size(path, h.width, h.height);
  return h;
}

// The samples of channel c in rows y0 to y1 (numbered as in the data
// window): the rows and columns that are multiples of its sampling.
double exr_samples(const ExrHeader& h, const ExrHeader::Channel& c, long y0, long y1) {
  const auto multiples = [](long a, long b, long step) {  // in [a, b]
    const auto below = [step](long v) { return v >= 0 ? v / step : -((-v + step - 1) / step); };
    return static_cast<double>(below(b) - below(a - 1));
  };
  return multiples(y0, y1, c.ysampling) * multiples(h.xmin, h.xmin + h.width - 1, c.xsampling);
}

// Checks the chunks of the first level: every offset in the table leads to
// a chunk header and data within the file (OpenEXR would otherwise rebuild
// the table by a scan of its own), and uncompressed data is exactly as long
// as its samples (OpenEXR reads that many bytes, not the chunk's).
void check_exr_chunks(const std::string& path, const Bytes& in, const ExrHeader& h, long chunks,
                      long chunk_rows) {
  const unsigned char* d = in.data;
  const size_t n = in.size, header = h.tiled ? 20 : 8;
  const long tiles_across =
      h.tiled ? (h.width + h.tile_width - 1) / std::max<long>(h.tile_width, 1) : 1;
  for (long k = 0; k < chunks; k++) {
    const size_t entry = h.end + 8 * static_cast<size_t>(k);
    const std::uint64_t offset =
        get32le(d + entry) | static_cast<std::uint64_t>(get32le(d + entry + 4)) << 32;
    if (offset < h.end + 8 * static_cast<std::uint64_t>(chunks) || offset > n - header)
      fail(path, "damaged OpenEXR file", "a chunk offset outside the file");
    const std::uint32_t size = get32le(d + offset + header - 4);
    if (size > n - offset - header) fail(path, "damaged OpenEXR file", "a chunk runs past the end");
    if (h.compression != 0) continue;
    double expected = 0;
    if (h.tiled) {
      const long x = (k % tiles_across) * h.tile_width, y = (k / tiles_across) * h.tile_height;
      expected = h.pixel_bytes * static_cast<double>(std::min(h.tile_width, h.width - x)) *
                 static_cast<double>(std::min(h.tile_height, h.height - y));
    } else {
      const long y0 = h.ymin + k * chunk_rows,
                 y1 = std::min(y0 + chunk_rows, h.ymin + h.height) - 1;
      for (const ExrHeader::Channel& c : h.channels)
        expected += exr_samples(h, c, y0, y1) * (c.type == 1 ? 2 : 4);
    }
    if (size != expected)
      fail(path, "damaged OpenEXR file", "an uncompressed chunk of the wrong size");
  }
}

Raster read_exr(const std::string& path, const Bytes& in) {
  static std::once_flag limits;
  std::call_once(limits, [] {
    Imf::Header::setMaxImageSize(kMaxImageSideLength, kMaxImageSideLength);
    Imf::Header::setMaxTileSize(kMaxImageSideLength, kMaxImageSideLength);
  });
  const ExrHeader h = exr_header(path, in);
  // The channels read: R, G and B, or else Y; half or float, not subsampled.
  std::vector<std::string> used;
  auto has = [&](const char* name) {
    for (const ExrHeader::Channel& c : h.channels)
      if (c.name == name) return true;
    return false;
  };
  if (has("R") && has("G") && has("B"))
    used = {"R", "G", "B"};
  else if (has("Y"))
    used = {"Y"};
  else
    fail(path, "unsupported OpenEXR channels", "R, G and B, or Y are read");
  for (const ExrHeader::Channel& c : h.channels)
    if (std::find(used.begin(), used.end(), c.name) != used.end() &&
        (c.type == 0 || c.xsampling != 1 || c.ysampling != 1))
      fail(path, "unsupported OpenEXR channels",
           "channel " + c.name + " is " + (c.type == 0 ? "of integers" : "subsampled") +
               "; half and float channels of every pixel are read");
  // Rows per chunk of each compression (none, RLE, ZIPS, ZIP, PIZ, PXR24,
  // B44, B44A, DWAA, DWAB).
  static const int kChunkRows[] = {1, 1, 1, 16, 32, 16, 32, 32, 32, 256};
  if (h.compression > 9)
    fail(path, "unsupported OpenEXR compression", std::to_string(h.compression));
  double chunk_rows = kChunkRows[h.compression], chunks;
  if (h.tiled) {
    if (h.tile_width < 1 || h.tile_height < 1) fail(path, "damaged OpenEXR file", "no tile size");
    chunk_rows = std::min<double>(h.tile_height, h.height);
    chunks = std::ceil(static_cast<double>(h.width) / h.tile_width) *
             std::ceil(static_cast<double>(h.height) / h.tile_height);
  } else {
    chunks = std::ceil(h.height / chunk_rows);
  }
  // Each chunk has its offset in the table after the header; the rows
  // OpenEXR decodes at once (a chunk, or a row of tiles) take at most what
  // a deflate stream of the whole file could give, or 4 MiB.
  check_room(path, "OpenEXR chunk offsets", 8 * chunks, static_cast<double>(in.size - h.end), 1);
  check_exr_chunks(path, in, h, static_cast<long>(chunks), static_cast<long>(chunk_rows));
  const double chunk_bytes = h.pixel_bytes * static_cast<double>(h.width) * chunk_rows;
  if (chunk_bytes > (1 << 22))
    check_room(path, "OpenEXR chunk", chunk_bytes, static_cast<double>(in.size),
               h.compression == 0 ? 1 : kDeflateRatio);

  Raster r;
  r.width = static_cast<int>(h.width);
  r.height = static_cast<int>(h.height);
  r.channels = static_cast<int>(used.size());
  r.bytes = 4;
  r.is_float = true;
  const size_t row_bytes = static_cast<size_t>(r.width) * r.channels * 4;
  reserve_raster(&r, static_cast<double>(row_bytes) * r.height, in.size,
                 h.compression == 0 ? 2 : 16);
  try {
    ExrStream stream(path, in);
    Imf::InputFile file(stream);
    // Chunk after chunk, the raster growing as they are decoded.
    const int step = static_cast<int>(chunk_rows);
    for (int y = 0; y < r.height; y += step) {
      const int rows = std::min(step, r.height - y);
      r.data.resize(row_bytes * (y + rows));
      Imf::FrameBuffer frame;
      for (size_t c = 0; c < used.size(); c++)
        frame.insert(used[c], Imf::Slice::Make(
                                  Imf::FLOAT, r.data.data() + c * 4,
                                  Imath::V2i(static_cast<int>(h.xmin), static_cast<int>(h.ymin)),
                                  std::int64_t{r.width}, std::int64_t{r.height},
                                  static_cast<size_t>(r.channels) * 4, row_bytes));
      file.setFrameBuffer(frame);
      file.readPixels(static_cast<int>(h.ymin) + y, static_cast<int>(h.ymin) + y + rows - 1);
    }
  } catch (const DataError&) {
    throw;
  } catch (const std::exception& e) {
    fail(path, "damaged OpenEXR file", one_line(e.what()));
  }
  return r;
}

// ---- BMP and TGA (stb_image) ----

// What stb_image is asked for: grey when every colour of the table is grey
// (stb_image then keeps the value: (77 + 150 + 29) v / 256), else RGB.
struct StbRequest {
  int channels = 3;
};

// Checks an uncompressed BMP (Windows headers of 40 bytes and more, or the
// OS/2 one of 12) as stb_image reads it: 1, 4 or 8 bits through a colour
// table of at most 256 entries (every index within it), or 24 or 32 bits
// without one; the raster within the file.
StbRequest check_bmp(const std::string& path, const Bytes& in) {
  const unsigned char* d = in.data;
  const size_t n = in.size;
  if (n < 26) fail(path, "damaged BMP file", "the header is cut short");
  const std::uint32_t offset = get32le(d + 10), header = get32le(d + 14);
  if (header != 12 && header != 40 && header != 56 && header != 108 && header != 124)
    fail(path, "unsupported BMP file", "a header of " + std::to_string(header) + " bytes");
  if (n < 14 + header) fail(path, "damaged BMP file", "the header is cut short");
  long width, height;
  unsigned bits, compression = 0;
  if (header == 12) {
    width = get16le(d + 18);
    height = get16le(d + 20);
    bits = get16le(d + 24);
  } else {
    width = static_cast<std::int32_t>(get32le(d + 18));
    height = std::labs(static_cast<long>(static_cast<std::int32_t>(get32le(d + 22))));
    bits = get16le(d + 28);
    compression = get32le(d + 30);
  }
  check_size(path, width, height);
  if (compression != 0 || (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32))
    fail(path, "unsupported BMP samples",
         std::to_string(bits) + " bits, compression " + std::to_string(compression) +
             "; uncompressed 1, 4, 8, 24 and 32 bits are read");
  if (offset > n) fail(path, "damaged BMP file", "the raster is cut short");
  // The colour table lies between the header and the raster; stb_image
  // counts the entries of an OS/2 table as if it began 12 bytes later, and
  // so does this check.
  const size_t entry = header == 12 ? 3 : 4, table_at = 14 + header;
  const size_t table_start = header == 12 ? table_at + 12 : table_at;
  StbRequest request;
  size_t entries = 0;
  if (bits <= 8) {
    entries = offset > table_start ? (offset - table_start) / entry : 0;
    if (entries < 1 || entries > 256) fail(path, "damaged BMP file", "a bad colour table");
    bool grey = true;
    for (size_t k = 0; k < entries; k++) {
      const unsigned char* c = d + table_at + entry * k;
      grey = grey && c[0] == c[1] && c[1] == c[2];
    }
    request.channels = grey ? 1 : 3;
  } else if (offset != table_at) {
    fail(path, "unsupported BMP file", "data apart from the header");
  }
  const size_t stride = (static_cast<size_t>(width) * bits + 31) / 32 * 4;
  if (stride * height > n - offset) fail(path, "damaged BMP file", "the raster is cut short");
  if (bits <= 8)
    for (long i = 0; i < height; i++)
      for (long j = 0; j < width; j++) {
        const size_t bit = static_cast<size_t>(j) * bits;
        const unsigned byte = d[offset + i * stride + bit / 8];
        const unsigned index = (byte >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
        if (index >= entries) fail(path, "damaged BMP file", "a colour index beyond the table");
      }
  return request;
}

// Whether the first bytes are a TGA header of a kind read here: no colour
// map and image type 2 or 3 (10 or 11 run-length encoded), or a colour map
// of 24 or 32-bit entries starting at index 0 and type 1 (9) of 8-bit
// indices; 8 bits of grey, 24 or 32 of colour; the origin at the left (top
// or bottom), no interleaving.
bool is_tga(const unsigned char* d, size_t n) {
  if (n < 18) return false;
  const int map = d[1], type = d[2], depth = d[16], descriptor = d[17];
  const unsigned map_first = get16le(d + 3), map_length = get16le(d + 5), map_bits = d[7];
  if (get16le(d + 12) == 0 || get16le(d + 14) == 0 || (descriptor & 0xD0) != 0) return false;
  switch (type & 7) {
    case 1:
      return map == 1 && map_first == 0 && map_length >= 1 && map_length <= 256 &&
             (map_bits == 24 || map_bits == 32) && depth == 8 && (type & ~8) == 1;
    case 2:
      return map == 0 && map_length == 0 && (depth == 24 || depth == 32) && (type & ~8) == 2;
    case 3:
      return map == 0 && map_length == 0 && depth == 8 && (type & ~8) == 3;
    default:
      return false;
  }
}

// Checks a TGA's data as stb_image reads it, which would take missing bytes
// as zeros and a colour index beyond the map as 0: the run-length packets
// (or the raster) are walked to the last pixel within the file, every
// index within the map.
StbRequest check_tga(const std::string& path, const Bytes& in) {
  const unsigned char* d = in.data;
  const size_t n = in.size;
  const size_t pixel = d[16] / 8, map_length = d[1] ? get16le(d + 5) : 0;
  const size_t map_at = 18 + static_cast<size_t>(d[0]), map_entry = d[7] / 8;
  const size_t data_at = map_at + map_length * map_entry;
  const long width = get16le(d + 12), height = get16le(d + 14);
  check_size(path, width, height);
  if (data_at > n) fail(path, "damaged TGA file", "the colour map is cut short");
  StbRequest request;
  if (map_length > 0) {
    bool grey = true;
    for (size_t k = 0; k < map_length; k++) {
      const unsigned char* c = d + map_at + map_entry * k;
      grey = grey && c[0] == c[1] && c[1] == c[2];
    }
    request.channels = grey ? 1 : 3;
  } else {
    request.channels = pixel == 1 ? 1 : 3;
  }
  const size_t pixels = static_cast<size_t>(width) * height;
  auto check_indices = [&](const unsigned char* p, size_t count) {
    if (map_length > 0)
      for (size_t k = 0; k < count; k++)
        if (p[k] >= map_length) fail(path, "damaged TGA file", "a colour index beyond the map");
  };
  if (d[2] & 8) {
    size_t at = data_at;
    for (size_t done = 0; done < pixels;) {
      if (at >= n) fail(path, "damaged TGA file", "the run-length data is cut short");
      const unsigned packet = d[at++];
      const size_t count = (packet & 127) + 1, stored = packet & 128 ? 1 : count;
      if (stored * pixel > n - at)
        fail(path, "damaged TGA file", "the run-length data is cut short");
      check_indices(d + at, stored * pixel);
      at += stored * pixel;
      done += count;
    }
  } else {
    if (pixels * pixel > n - data_at) fail(path, "damaged TGA file", "the raster is cut short");
    check_indices(d + data_at, pixels * pixel);
  }
  return request;
}

Raster read_stb(const std::string& path, const Bytes& in, const char* format,
                const StbRequest& request) {
  int width = 0, height = 0, stored = 0;
  std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
      stbi_load_from_memory(in.data, static_cast<int>(std::min<size_t>(in.size, INT_MAX)), &width,
                            &height, &stored, request.channels),
      stbi_image_free);
  if (!pixels) fail(path, std::string("damaged ") + format + " file", stbi_failure_reason());
  check_size(path, width, height);
  Raster r;
  r.width = width;
  r.height = height;
  r.channels = request.channels;
  r.data.assign(pixels.get(), pixels.get() + static_cast<size_t>(width) * height * r.channels);
  return r;
}

Raster read_bmp(const std::string& path, const Bytes& in) {
  return read_stb(path, in, "BMP", check_bmp(path, in));
}

Raster read_tga(const std::string& path, const Bytes& in) {
  return read_stb(path, in, "TGA", check_tga(path, in));
}

// ---- The formats ----

bool is_pnm(const unsigned char* d, size_t n) {
  return n >= 2 && d[0] == 'P' && (d[1] == '5' || d[1] == '6');
}
bool is_png(const unsigned char* d, size_t n) {
  return n >= 8 && std::memcmp(d, "\x89PNG\r\n\x1a\n", 8) == 0;
}
bool is_jpeg(const unsigned char* d, size_t n) {
  return n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF;
}
bool is_exr(const unsigned char* d, size_t n) {
  return n >= 4 && std::memcmp(d, "\x76\x2f\x31\x01", 4) == 0;
}
bool is_bmp(const unsigned char* d, size_t n) { return n >= 2 && d[0] == 'B' && d[1] == 'M'; }

// One row per format, in the order they are tried: the formats with a
// signature first, camera raw files before the ordinary TIFF they look
// like, TGA (no signature) last.
struct Format {
  const char* name;
  bool (*claims)(const unsigned char* bytes, size_t size);
  Raster (*read)(const std::string& path, const Bytes& in);
};

const std::vector<Format>& formats() {
  static const std::vector<Format> table = {
      {"PGM/PPM", is_pnm, read_pnm},
      {"PNG", is_png, read_png},
      {"camera raw", is_camera_raw, read_raw},
      {"TIFF", is_ordinary_tiff, read_tiff},
      {"JPEG", is_jpeg, read_jpeg},
      {"OpenEXR", is_exr, read_exr},
      {"BMP", is_bmp, read_bmp},
      {"TGA", is_tga, read_tga},
  };
  return table;
}

const Format* format_of(const unsigned char* bytes, size_t size) {
  for (const Format& format : formats())
    if (format.claims(bytes, size)) return &format;
  return nullptr;
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
    if (!std::isfinite(out[p]))
      fail(path, "a sample gives no finite grey level", "pixel " + std::to_string(p));
  }
}

// The whole file in memory: a regular file mapped (as libtiff maps the
// files it opens; its pages are the page cache's and go at once when
// released), a pipe or device read as its bytes come, up to
// kMaxImageFileBytes.
class FileBytes {
 public:
  explicit FileBytes(const std::string& path);
  ~FileBytes() { release(); }
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;
  const unsigned char* data() const { return mapped_ ? mapped_ : read_.data(); }
  size_t size() const { return size_; }
  void release() {
    if (mapped_) munmap(mapped_, size_);
    mapped_ = nullptr;
    std::vector<unsigned char>().swap(read_);
    size_ = 0;
  }

 private:
  unsigned char* mapped_ = nullptr;
  size_t size_ = 0;
  std::vector<unsigned char> read_;
};

FileBytes::FileBytes(const std::string& path) {
  struct Descriptor {
    int fd;
    ~Descriptor() {
      if (fd >= 0) close(fd);
    }
  } file{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) file_error(path, "cannot open the image", errno);
  struct stat st;
  if (fstat(file.fd, &st) == 0 && S_ISREG(st.st_mode)) {
    if (st.st_size > kMaxImageFileBytes)
      fail(path, "the file is too large for an image",
           std::to_string(static_cast<long long>(st.st_size)) + " bytes");
    if (st.st_size > 0) {
      void* at = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, file.fd, 0);
      if (at != MAP_FAILED) {
        mapped_ = static_cast<unsigned char*>(at);
        size_ = static_cast<size_t>(st.st_size);
        return;
      }
    }
    // One byte more, to see the end without growing.
    read_.reserve(static_cast<size_t>(st.st_size) + 1);
  }
  size_t got = 0;
  for (;;) {
    if (got == read_.size()) {
      if (got > static_cast<size_t>(kMaxImageFileBytes))
        fail(path, "the file is too large for an image");
      read_.resize(read_.capacity() > got ? read_.capacity()
                                          : std::min<size_t>(std::max<size_t>(65536, 2 * got),
                                                             kMaxImageFileBytes + 1));
    }
    const ssize_t n = read(file.fd, read_.data() + got, read_.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) read_error(path, errno);
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  read_.resize(got);
  size_ = got;
}

}  // namespace

namespace {

// The samples of the file in `bytes`, and the name of its format.
Raster decode_raster(const unsigned char* bytes, size_t size, const std::string& name,
                     std::string* format) {
  const Format* found = format_of(bytes, size);
  if (!found) fail(name, "not an image of a known format", image_format_names() + " are read");
  Raster raster = found->read(name, Bytes{bytes, size});
  if (raster.data.size() !=
      static_cast<size_t>(raster.width) * raster.height * raster.channels * raster.bytes)
    fail(name, std::string("damaged ") + found->name + " file", "a short raster");
  if (format) *format = found->name;
  return raster;
}

}  // namespace

void decode_grey_image(const unsigned char* bytes, size_t size, const std::string& name,
                       const ImageOptions& options, const std::function<double*(int, int)>& storage,
                       std::string* format) {
  const Raster raster = decode_raster(bytes, size, name, format);
  grey_levels(raster, options, name, storage(raster.width, raster.height));
}

std::string image_format_of(const unsigned char* bytes, size_t size) {
  const Format* found = format_of(bytes, size);
  return found ? found->name : "";
}

void read_grey_image(const std::string& path, const ImageOptions& options,
                     const std::function<double*(int, int)>& storage, std::string* format) {
  // The file's bytes are released before the levels are allocated.
  FileBytes bytes(path);
  const Raster raster = decode_raster(bytes.data(), bytes.size(), path, format);
  bytes.release();
  grey_levels(raster, options, path, storage(raster.width, raster.height));
}

GreyImage read_grey_image(const std::string& path, const ImageOptions& options,
                          std::string* format) {
  GreyImage image;
  read_grey_image(
      path, options,
      [&image](int width, int height) {
        image.width = width;
        image.height = height;
        image.pixels.resize(static_cast<size_t>(width) * height);
        return image.pixels.data();
      },
      format);
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
