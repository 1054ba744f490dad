#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>
#include <ImfTiledOutputFile.h>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <thread>

#include "correlation.h"
#include "data_error.h"
#include "image.h"
#include "matrix_multiple.h"
#include "response.h"
#include "surface.h"
#include "test_support.h"

// The matrix library's machine.h names a macro FLOAT, as OpenEXR names a
// pixel type.
#undef FLOAT

TEST(variance_of_filtered_values, PopulationVariance) {
  MAT* one = matrix({{1}});
  MAT* image = matrix({{0, 0}, {0, 4}});
  EXPECT_EQ(variance_of_filtered_values(one, image), 3);
  MAT* whole = matrix({{1, 2}, {3, 4}});
  EXPECT_EQ(variance_of_filtered_values(whole, image), 0);  // a single position
  m_free(one);
  m_free(image);
  m_free(whole);
}

TEST(variance_of_filtered_values, TwoPassDefinition) {
  MAT* kernel = random_matrix(3, 3, 3);
  MAT* image = random_matrix(12, 9, 4);
  std::vector<double> r;
  for (int i = 0; i < 10; i++)
    for (int j = 0; j < 7; j++) r.push_back(single_filtered_value(kernel, image, i, j));
  double sum = 0;
  for (double v : r) sum += v;
  double mean = sum / 70.0, acc = 0;
  for (double v : r) acc = acc + (v - mean) * (v - mean);
  EXPECT_EQ(variance_of_filtered_values(kernel, image), acc / 70.0);
  m_free(kernel);
  m_free(image);
}

TEST(image_response, ScalingAndOffset) {
  TempDir dir;
  write_bank(dir / "bank.dat", test_kernels(3, 5));
  Filters bank((dir / "bank.dat").c_str());
  bank.normalise();
  MAT* image = random_matrix(20, 20, 5);
  VEC* r = image_response(&bank, image);
  ASSERT_EQ(r->dim, 3u);
  MAT* scaled = sm_mlt(3.0, image, MNULL);
  VEC* rs = image_response(&bank, scaled);
  MAT* constant = m_get(20, 20);
  for (int i = 0; i < 20; i++)
    for (int j = 0; j < 20; j++) constant->me[i][j] = 7;
  VEC* rc = image_response(&bank, constant);
  for (int k = 0; k < 3; k++) {
    EXPECT_GT(r->ve[k], 0);
    EXPECT_NEAR(rs->ve[k], 9 * r->ve[k], 1e-12 * r->ve[k]);
    EXPECT_NEAR(rc->ve[k], 0, 1e-24);
  }
  for (VEC* v : {r, rs, rc}) v_free(v);
  for (MAT* m : {image, scaled, constant}) m_free(m);
}

TEST(image_response, KernelLargerThanTheImageIsRefused) {
  TempDir dir;
  write_bank(dir / "bank.dat", test_kernels(1, 7));
  Filters bank((dir / "bank.dat").c_str());
  MAT* image = m_get(6, 20);
  EXPECT_THROW(image_response(&bank, image), DataError);
  m_free(image);
}

TEST(image_response, EveryFilterGivesItsVarianceByTheDefinition) {
  // Five different 3 x 3 kernels (one group of four and one left over in
  // the fast path) on a 9 x 11 image: each element is the population
  // variance of the kernel's correlation over the 7 x 9 positions where it
  // lies wholly inside, worked out here in the definition's order, so every
  // path must give the same bits. (A single kernel's variance alone would
  // not see a fault common to the fast and the plain path.)
  TempDir dir;
  const int M = 3, F = 5;
  std::vector<Kernel> kernels;
  std::mt19937 g(11);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int k = 0; k < F; k++) {
    Kernel kernel(M, std::vector<double>(M));
    for (auto& row : kernel)
      for (double& v : row) v = u(g);
    kernels.push_back(kernel);
  }
  write_bank(dir / "bank.dat", kernels);
  Filters bank((dir / "bank.dat").c_str());
  bank.normalise();  // as the programs use a bank: the variances are of these kernels
  ASSERT_EQ(bank.F, static_cast<unsigned>(F));
  MAT* image = random_matrix(9, 11, 12);
  const unsigned rows = 9 - M + 1, cols = 11 - M + 1;
  std::vector<double> expected;
  for (int k = 0; k < F; k++) {
    const MAT* K = bank.filters[k];
    std::vector<double> r;
    for (unsigned i = 0; i < rows; i++)
      for (unsigned j = 0; j < cols; j++) {
        double v = 0;
        for (int a = 0; a < M; a++)
          for (int b = 0; b < M; b++) v = v + K->me[a][b] * image->me[i + a][j + b];
        r.push_back(v);
      }
    double sum = 0;
    for (double v : r) sum = sum + v;
    const double N = rows * cols, mean = sum / N;
    double acc = 0;
    for (double v : r) acc = acc + (v - mean) * (v - mean);
    expected.push_back(acc / N);
  }
  const struct {
    const char* name;
    VEC* (*response)(Filters*, MAT*);
  } paths[] = {{"image_response", image_response},
               {"image_response_fast", image_response_fast},
               {"image_response_plain", image_response_plain}};
  for (const auto& path : paths) {
    VEC* r = path.response(&bank, image);
    ASSERT_EQ(r->dim, static_cast<unsigned>(F)) << path.name;
    for (int k = 0; k < F; k++) EXPECT_EQ(r->ve[k], expected[k]) << path.name << ", filter " << k;
    v_free(r);
  }

  // Under a mask the same variances run over the positions whose 3 x 3
  // pixels all lie inside, in row-major order; a mask of all ones changes
  // nothing.
  std::vector<unsigned char> inside(9 * 11, 1);
  for (int p : {0, 13, 25, 26, 47, 60, 75, 98}) inside[p] = 0;
  std::vector<double> masked;
  for (int k = 0; k < F; k++) {
    const MAT* K = bank.filters[k];
    std::vector<double> r;
    for (unsigned i = 0; i < rows; i++)
      for (unsigned j = 0; j < cols; j++) {
        bool counted = true;
        double v = 0;
        for (int a = 0; a < M; a++)
          for (int b = 0; b < M; b++) {
            counted = counted && inside[(i + a) * 11 + j + b];
            v = v + K->me[a][b] * image->me[i + a][j + b];
          }
        if (counted) r.push_back(v);
      }
    ASSERT_GT(r.size(), 10u);
    ASSERT_LT(r.size(), rows * cols);
    double sum = 0;
    for (double v : r) sum = sum + v;
    const double N = static_cast<double>(r.size()), mean = sum / N;
    double acc = 0;
    for (double v : r) acc = acc + (v - mean) * (v - mean);
    masked.push_back(acc / N);
  }
  const std::vector<unsigned char> ones(9 * 11, 1);
  const struct {
    const char* name;
    VEC* (*response)(Filters*, MAT*, const unsigned char*);
  } masked_paths[] = {{"image_response", image_response},
                      {"image_response_fast", image_response_fast},
                      {"image_response_plain", image_response_plain}};
  for (const auto& path : masked_paths) {
    VEC* r = path.response(&bank, image, inside.data());
    VEC* all = path.response(&bank, image, ones.data());
    for (int k = 0; k < F; k++) {
      EXPECT_EQ(r->ve[k], masked[k]) << path.name << " under the mask, filter " << k;
      EXPECT_EQ(all->ve[k], expected[k]) << path.name << " under all ones, filter " << k;
    }
    v_free(r);
    v_free(all);
  }
  m_free(image);
}

TEST(image_response, FastEqualsPlainBitForBit) {
  // Kernel and image sizes that exercise every block and tail of the fast
  // kernels, and bank sizes of one group of four (or eight, on the 512-bit
  // paths) kernels or several (whose sums run beside the next group's
  // correlation), with and without the kernels left over (on the 512-bit
  // paths a group of four and lone kernels after the groups of eight).
  TempDir dir;
  const struct {
    int M, F;
  } banks[] = {{3, 7},  {4, 2},  {5, 4},  {7, 1},  {5, 2},  {5, 5},
               {13, 3}, {13, 9}, {15, 8}, {31, 6}, {5, 12}, {7, 17}};
  for (auto [M, F] : banks) {
    std::vector<Kernel> kernels;
    std::mt19937 g(M);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int k = 0; k < F; k++) {
      Kernel kernel(M, std::vector<double>(M));
      for (auto& row : kernel)
        for (double& v : row) v = u(g);
      kernels.push_back(kernel);
    }
    write_bank(dir / "bank.dat", kernels);
    Filters bank((dir / "bank.dat").c_str());
    bank.normalise();
    // Output rows x columns: every block width with and without a tail,
    // rows narrower than a vector or a vector and a few more, rows in
    // several bands, rows ending one to seven columns past a block of eight
    // (edge strips of every width, blocks of several heights down them),
    // and whole quads of rows by whole blocks of columns (nothing
    // overlapping).
    const struct {
      unsigned rows, cols;
    } shapes[] = {{1, 6}, {4, 9}, {18, 23}, {40, 61},  {6, 52}, {21, 27},
                  {5, 2}, {3, 7}, {1, 12},  {131, 10}, {8, 16}};
    for (auto [out_rows, out_cols] : shapes) {
      const unsigned size = M - 1 + out_rows, width = M - 1 + out_cols;
      MAT* image = random_matrix(size, width, size);
      VEC* fast = image_response(&bank, image);
      VEC* plain = image_response_plain(&bank, image);
      for (unsigned k = 0; k < static_cast<unsigned>(F); k++) {
        ASSERT_EQ(std::memcmp(&fast->ve[k], &plain->ve[k], sizeof(double)), 0)
            << "M " << M << " size " << size << " filter " << k;
        const double single = variance_of_filtered_values(bank.filters[k], image);
        ASSERT_EQ(std::memcmp(&single, &plain->ve[k], sizeof(double)), 0);
      }
      std::vector<double> a(out_rows * out_cols), b(a.size()), c(a.size());
      correlate_fast(bank.filters[0], image, a.data());
      correlate_plain(bank.filters[0], image, b.data());
      correlate_blocked(bank.filters[0], image, c.data());
      ASSERT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(double)), 0);
      ASSERT_EQ(std::memcmp(c.data(), b.data(), a.size() * sizeof(double)), 0);
      if (have_avx2()) {
        correlate_avx2(bank.filters[0], image, c.data());
        ASSERT_EQ(std::memcmp(c.data(), b.data(), a.size() * sizeof(double)), 0);
      }
      v_free(fast);
      v_free(plain);
      m_free(image);
    }
  }
}

namespace {

// Writes a PNG of `channels` (1 or 3) samples per pixel, most significant
// byte first at 16 bits.
void write_png(const std::string& path, int side, int depth, int channels, bool interlaced,
               const std::vector<unsigned>& samples) {
  FILE* f = std::fopen(path.c_str(), "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_set_IHDR(png, info, side, side, depth,
               channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const int bytes = depth / 8, row = side * channels * bytes;
  std::vector<unsigned char> data(static_cast<size_t>(row) * side);
  for (size_t k = 0; k < samples.size(); k++)
    for (int b = 0; b < bytes; b++) data[k * bytes + b] = samples[k] >> (8 * (bytes - 1 - b));
  std::vector<png_bytep> rows(side);
  for (int i = 0; i < side; i++) rows[i] = data.data() + static_cast<size_t>(row) * i;
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
}

// Writes a TIFF of `channels` samples per pixel given pixel by pixel, in
// strips or 16 x 16 tiles, the channels together or in planes of their own.
void write_tiff(const std::string& path, int side, int bits, int format, int channels,
                int photometric, bool tiled, bool planar, const std::vector<double>& samples) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, side);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, side);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, channels);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, format);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  const int block = 16, bytes = bits / 8, per_pixel = planar ? 1 : channels;
  if (tiled) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, block);
    TIFFSetField(t, TIFFTAG_TILELENGTH, block);
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 7);
  }
  auto put = [&](unsigned char* at, double v) {
    if (bits == 8) *at = static_cast<unsigned char>(v);
    if (bits == 16) {
      const uint16_t s = static_cast<uint16_t>(v);
      std::memcpy(at, &s, 2);
    }
    if (bits == 32) {
      const float s = static_cast<float>(v);
      std::memcpy(at, &s, 4);
    }
    if (bits == 64) std::memcpy(at, &v, 8);
  };
  for (int plane = 0; plane < (planar ? channels : 1); plane++) {
    const int w = tiled ? block : side, h = tiled ? block : 1;
    for (int y = 0; y < side; y += h)
      for (int x = 0; x < side; x += w) {
        std::vector<unsigned char> buffer(static_cast<size_t>(w) * h * per_pixel * bytes);
        for (int i = 0; i < h && y + i < side; i++)
          for (int j = 0; j < w && x + j < side; j++)
            for (int c = 0; c < per_pixel; c++)
              put(&buffer[((static_cast<size_t>(i) * w + j) * per_pixel + c) * bytes],
                  samples[(static_cast<size_t>(y + i) * side + x + j) * channels + plane + c]);
        if (tiled)
          TIFFWriteTile(t, buffer.data(), x, y, 0, static_cast<uint16_t>(plane));
        else
          TIFFWriteScanline(t, buffer.data(), y, static_cast<uint16_t>(plane));
      }
  }
  TIFFClose(t);
}

// Writes a TGA of 8-bit grey (type 3), of 24-bit colour (type 2) or of
// 8-bit indices into a map of 24-bit entries (type 1), run-length encoded
// (types 9 to 11) in packets of up to 128 pixels that cross rows; rows
// from the bottom unless `top_down`. `samples` holds `channels` values a
// pixel (one index a pixel with a map).
void write_tga(const std::string& path, int side, int type, bool rle, bool top_down,
               const std::vector<unsigned char>& map, const std::vector<unsigned char>& samples) {
  const int pixel = type == 2 ? 3 : 1;
  std::string out(18, '\0');
  out[1] = map.empty() ? 0 : 1;
  out[2] = static_cast<char>(type + (rle ? 8 : 0));
  out[5] = static_cast<char>(map.size() / 3 & 255);
  out[6] = static_cast<char>(map.size() / 3 >> 8);
  out[7] = map.empty() ? 0 : 24;
  out[12] = out[14] = static_cast<char>(side);
  out[16] = static_cast<char>(8 * pixel);
  out[17] = top_down ? 0x20 : 0;
  for (size_t k = 0; k < map.size(); k += 3)  // stored blue, green, red
    out +=
        {static_cast<char>(map[k + 2]), static_cast<char>(map[k + 1]), static_cast<char>(map[k])};
  std::string data;
  for (int i = 0; i < side; i++) {
    const int row = top_down ? i : side - 1 - i;
    for (int j = 0; j < side; j++) {
      const unsigned char* p = &samples[(static_cast<size_t>(row) * side + j) * pixel];
      for (int c = pixel - 1; c >= 0; c--) data += static_cast<char>(p[c]);
    }
  }
  if (!rle) {
    write_file(path, out + data);
    return;
  }
  // Runs of equal pixels as one packet, the rest as raw packets.
  const size_t pixels = data.size() / pixel;
  for (size_t k = 0; k < pixels;) {
    size_t run = 1;
    while (k + run < pixels && run < 128 &&
           data.compare(k * pixel, pixel, data, (k + run) * pixel, pixel) == 0)
      run++;
    if (run > 1) {
      out += static_cast<char>(0x80 | (run - 1));
      out += data.substr(k * pixel, pixel);
    } else {
      while (k + run < pixels && run < 128 &&
             data.compare((k + run - 1) * pixel, pixel, data, (k + run) * pixel, pixel) != 0)
        run++;
      out += static_cast<char>(run - 1);
      out += data.substr(k * pixel, run * pixel);
    }
    k += run;
  }
  write_file(path, out);
}

// Writes an uncompressed BMP: 8-bit indices into a grey table or 24-bit
// colour, rows from the bottom (or the top, with a negative height).
void write_bmp(const std::string& path, int side, int bits, bool top_down,
               const std::vector<unsigned char>& samples) {
  const int pixel = bits / 8;
  const size_t stride = (static_cast<size_t>(side) * pixel + 3) / 4 * 4;
  const size_t table = bits == 8 ? 1024 : 0, offset = 54 + table;
  std::string out;
  auto put = [&out](std::uint32_t v, int bytes) {
    for (int b = 0; b < bytes; b++) out += static_cast<char>(v >> (8 * b));
  };
  out += "BM";
  put(static_cast<std::uint32_t>(offset + stride * side), 4);
  put(0, 4);
  put(static_cast<std::uint32_t>(offset), 4);
  put(40, 4);
  put(side, 4);
  put(top_down ? static_cast<std::uint32_t>(-side) : side, 4);
  put(1, 2);
  put(bits, 2);
  put(0, 4);
  put(static_cast<std::uint32_t>(stride * side), 4);
  put(2835, 4);
  put(2835, 4);
  put(bits == 8 ? 256 : 0, 4);
  put(0, 4);
  for (size_t v = 0; v < table / 4; v++) put(static_cast<std::uint32_t>(v * 0x010101), 4);
  for (int i = 0; i < side; i++) {
    const int row = top_down ? i : side - 1 - i;
    std::string line(stride, '\0');
    for (int j = 0; j < side; j++)
      for (int c = 0; c < pixel; c++)  // stored blue, green, red
        line[j * pixel + c] = static_cast<char>(
            samples[(static_cast<size_t>(row) * side + j) * pixel + (pixel - 1 - c)]);
    out += line;
  }
  write_file(path, out);
}

// The grey levels of a JPEG as libjpeg decodes it, turned into levels as
// the reader promises (v / 255 * 255, Rec. 709 luminance of colour).
std::vector<double> jpeg_levels(const std::string& path) {
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  FILE* f = std::fopen(path.c_str(), "rb");
  jpeg_stdio_src(&info, f);
  jpeg_read_header(&info, TRUE);
  jpeg_start_decompress(&info);
  const int n = info.output_components;
  std::vector<unsigned char> row(static_cast<size_t>(info.output_width) * n);
  std::vector<double> levels;
  while (info.output_scanline < info.output_height) {
    JSAMPROW p = row.data();
    jpeg_read_scanlines(&info, &p, 1);
    for (size_t j = 0; j < info.output_width; j++) {
      double l[3];
      for (int c = 0; c < n; c++) l[c] = row[j * n + c] / 255.0 * 255;
      levels.push_back(n == 3 ? 0.2126 * l[0] + 0.7152 * l[1] + 0.0722 * l[2] : l[0]);
    }
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  std::fclose(f);
  return levels;
}

// Writes an OpenEXR file of Y, or R, G and B (each the same), in scan lines
// or 16 x 16 tiles.
void write_exr(const std::string& path, int side, Imf::PixelType type, bool rgb, bool tiled,
               Imf::Compression compression, const std::vector<float>& values) {
  Imf::Header header(side, side);
  header.compression() = compression;
  const std::vector<std::string> names =
      rgb ? std::vector<std::string>{"B", "G", "R"} : std::vector<std::string>{"Y"};
  for (const std::string& name : names) header.channels().insert(name, Imf::Channel(type));
  std::vector<half> halves(values.begin(), values.end());
  const char* base = type == Imf::HALF ? reinterpret_cast<const char*>(halves.data())
                                       : reinterpret_cast<const char*>(values.data());
  const size_t size = type == Imf::HALF ? sizeof(half) : sizeof(float);
  Imf::FrameBuffer frame;
  for (const std::string& name : names)
    frame.insert(name, Imf::Slice(type, const_cast<char*>(base), size, size * side));
  if (tiled) {
    header.setTileDescription(Imf::TileDescription(16, 16, Imf::ONE_LEVEL));
    Imf::TiledOutputFile file(path.c_str(), header);
    file.setFrameBuffer(frame);
    file.writeTiles(0, file.numXTiles() - 1, 0, file.numYTiles() - 1);
  } else {
    Imf::OutputFile file(path.c_str(), header);
    file.setFrameBuffer(frame);
    file.writePixels(side);
  }
}

}  // namespace

TEST(read_grey_image, PrimaryColoursGiveTheirOwnWeights) {
  // Pure red, green and blue pixels at full scale and a black one: each
  // primary gives its own Rec. 709 weight of 255, so a weight given to the
  // wrong channel shows (a grey picture checks only the weights' sum).
  TempDir dir;
  const int side = 2;
  const double weights[3] = {0.2126, 0.7152, 0.0722};
  auto samples = [](unsigned full) {
    std::vector<unsigned> s;
    for (int p = 0; p < side * side; p++)
      for (int c = 0; c < 3; c++) s.push_back(c == p ? full : 0);
    return s;
  };
  auto as_doubles = [](const std::vector<unsigned>& s) {
    return std::vector<double>(s.begin(), s.end());
  };
  auto ppm = [&](unsigned full) {
    std::string text = "P6\n2 2\n" + std::to_string(full) + "\n";
    for (unsigned v : samples(full)) {
      if (full > 255) text += static_cast<char>(v >> 8);
      text += static_cast<char>(v & 255);
    }
    return text;
  };
  const int kUint = SAMPLEFORMAT_UINT, kRgb = PHOTOMETRIC_RGB;
  const struct {
    std::string name;
    std::function<void(const std::string&)> write;
  } cases[] = {
      {"8-bit PNG", [&](const std::string& p) { write_png(p, side, 8, 3, false, samples(255)); }},
      {"16-bit PNG",
       [&](const std::string& p) { write_png(p, side, 16, 3, false, samples(65535)); }},
      {"8-bit TIFF",
       [&](const std::string& p) {
         write_tiff(p, side, 8, kUint, 3, kRgb, false, false, as_doubles(samples(255)));
       }},
      {"16-bit TIFF, planes, tiled",
       [&](const std::string& p) {
         write_tiff(p, side, 16, kUint, 3, kRgb, true, true, as_doubles(samples(65535)));
       }},
      {"8-bit PPM", [&](const std::string& p) { write_file(p, ppm(255)); }},
      {"16-bit PPM", [&](const std::string& p) { write_file(p, ppm(65535)); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.write(dir / "colours");
    const GreyImage image = read_grey_image(dir / "colours");
    ASSERT_EQ(image.pixels.size(), 4u);
    for (int p = 0; p < 3; p++) EXPECT_EQ(image.pixels[p], weights[p] * 255) << "primary " << p;
    EXPECT_EQ(image.pixels[3], 0);
  }
}

TEST(read_grey_image, EveryFormatGivesTheResponseOfThePgm) {
  // One picture written in every format and layout the reader takes; the
  // response vector is compared with that of the programs' own PGM reader.
  TempDir dir;
  write_bank(dir / "bank.dat", test_kernels(4, 5));
  Filters bank((dir / "bank.dat").c_str());
  bank.normalise();
  const int side = 40;
  const std::vector<unsigned char> picture = render(test_surface(4, 1), side, 45, 30, 3, 7);
  write_pgm(dir / "picture.pgm", side, side, picture);
  int width, height;
  FILE* f = skip_pgm_header((dir / "picture.pgm").c_str(), &width, &height);
  MAT* pgm = read_pgm_raster(f, "picture.pgm", height, width);
  std::fclose(f);
  VEC* reference = image_response(&bank, pgm);
  m_free(pgm);

  // 16-bit samples v * 257 are exactly v on the 0 to 255 scale, but their two
  // bytes are equal; v * 257 + 128 (the picture stays below 255) tells the
  // byte order and shifts every level by the same 0.5 or so, which the
  // zero-mean kernels do not see.
  std::vector<unsigned> grey(picture.begin(), picture.end()), grey16, uneven, rgb;
  std::vector<double> inverted, wide, rgb_wide, unit;
  for (unsigned char v : picture) {
    grey16.push_back(v * 257u);
    uneven.push_back(v * 257u + 128);
    inverted.push_back(255 - v);
    wide.push_back(v * 257.0);
    unit.push_back(v / 255.0);
    for (int c = 0; c < 3; c++) {
      rgb.push_back(v);
      rgb_wide.push_back(v * 257.0);
    }
  }
  std::string pgm16 = "P5\n# sixteen bits\n40 40\n65535\n";
  for (unsigned v : uneven) pgm16 += {static_cast<char>(v >> 8), static_cast<char>(v & 255)};
  const int kFloat = SAMPLEFORMAT_IEEEFP, kUint = SAMPLEFORMAT_UINT;
  const int kGrey = PHOTOMETRIC_MINISBLACK, kRgb = PHOTOMETRIC_RGB;
  std::vector<unsigned char> rgb8, indices;
  std::vector<unsigned char> grey_map;
  std::vector<float> unit_float(unit.begin(), unit.end());
  for (unsigned char v : picture) rgb8.insert(rgb8.end(), {v, v, v});
  for (int v = 0; v < 256; v++) grey_map.insert(grey_map.end(), 3, static_cast<unsigned char>(v));
  // Half floats of v / 255, and the levels they stand for.
  std::vector<double> half_levels;
  for (float v : unit_float) half_levels.push_back(static_cast<float>(half(v)) * 255.0);
  struct Case {
    std::string name;
    std::function<void(const std::string&)> write;
    double tolerance;  // relative; 0 for the same bits
    // The levels whose response is expected, when not the picture's own
    // (a lossy coding's); read from the file written.
    std::function<std::vector<double>(const std::string&)> levels = nullptr;
    bool pipe = false;  // read through a named pipe
  };
  const auto decoded = [](const std::string& p) { return jpeg_levels(p); };
  const auto halves = [&](const std::string&) { return half_levels; };
  const std::vector<Case> cases = {
      {"8-bit PGM", [&](const std::string& p) { write_pgm(p, side, side, picture); }, 0},
      {"16-bit PGM, uneven bytes", [&](const std::string& p) { write_file(p, pgm16); }, 1e-9},
      {"8-bit PNG", [&](const std::string& p) { write_png(p, side, 8, 1, false, grey); }, 0},
      {"8-bit PNG, interlaced", [&](const std::string& p) { write_png(p, side, 8, 1, true, grey); },
       0},
      {"16-bit PNG", [&](const std::string& p) { write_png(p, side, 16, 1, false, grey16); }, 0},
      {"16-bit PNG, uneven bytes",
       [&](const std::string& p) { write_png(p, side, 16, 1, false, uneven); }, 1e-9},
      {"8-bit RGB PNG, grey", [&](const std::string& p) { write_png(p, side, 8, 3, false, rgb); },
       1e-12},
      {"8-bit TIFF, min-is-white",
       [&](const std::string& p) {
         write_tiff(p, side, 8, kUint, 1, PHOTOMETRIC_MINISWHITE, false, false, inverted);
       },
       0},
      {"16-bit TIFF",
       [&](const std::string& p) { write_tiff(p, side, 16, kUint, 1, kGrey, false, false, wide); },
       0},
      {"16-bit TIFF, tiled",
       [&](const std::string& p) { write_tiff(p, side, 16, kUint, 1, kGrey, true, false, wide); },
       0},
      {"16-bit RGB TIFF, planes, tiled",
       [&](const std::string& p) { write_tiff(p, side, 16, kUint, 3, kRgb, true, true, rgb_wide); },
       1e-12},
      {"64-bit float TIFF",
       [&](const std::string& p) { write_tiff(p, side, 64, kFloat, 1, kGrey, false, false, unit); },
       1e-12},
      // A 32-bit float cannot hold v / 255 exactly (relative error up to
      // 6e-8 per pixel).
      {"32-bit float TIFF",
       [&](const std::string& p) { write_tiff(p, side, 32, kFloat, 1, kGrey, false, false, unit); },
       1e-6},
      {"8-bit PGM through a pipe", [&](const std::string& p) { write_pgm(p, side, side, picture); },
       0, nullptr, true},
      {"8-bit TGA", [&](const std::string& p) { write_tga(p, side, 3, false, false, {}, picture); },
       0},
      {"8-bit TGA, run-length, top down",
       [&](const std::string& p) { write_tga(p, side, 3, true, true, {}, picture); }, 0},
      {"TGA of a grey colour map, run-length",
       [&](const std::string& p) { write_tga(p, side, 1, true, false, grey_map, picture); }, 0},
      {"24-bit TGA, run-length",
       [&](const std::string& p) { write_tga(p, side, 2, true, false, {}, rgb8); }, 1e-12},
      {"8-bit BMP, grey table",
       [&](const std::string& p) { write_bmp(p, side, 8, false, picture); }, 0},
      {"24-bit BMP, top down", [&](const std::string& p) { write_bmp(p, side, 24, true, rgb8); },
       1e-12},
      {"JPEG, grey", [&](const std::string& p) { write_jpeg(p, side, 1, false, picture); }, 0,
       decoded},
      {"JPEG, grey, progressive",
       [&](const std::string& p) { write_jpeg(p, side, 1, true, picture); }, 0, decoded},
      {"JPEG, colour", [&](const std::string& p) { write_jpeg(p, side, 3, false, rgb8); }, 0,
       decoded},
      {"JPEG, colour, progressive",
       [&](const std::string& p) { write_jpeg(p, side, 3, true, rgb8); }, 0, decoded},
      {"OpenEXR, float Y",
       [&](const std::string& p) {
         write_exr(p, side, Imf::FLOAT, false, false, Imf::ZIP_COMPRESSION, unit_float);
       },
       1e-6},
      {"OpenEXR, float RGB, tiled",
       [&](const std::string& p) {
         write_exr(p, side, Imf::FLOAT, true, true, Imf::NO_COMPRESSION, unit_float);
       },
       1e-6},
      {"OpenEXR, half Y, PIZ",
       [&](const std::string& p) {
         write_exr(p, side, Imf::HALF, false, false, Imf::PIZ_COMPRESSION, unit_float);
       },
       0, halves},
      {"OpenEXR, half RGB, tiled",
       [&](const std::string& p) {
         write_exr(p, side, Imf::HALF, true, true, Imf::ZIPS_COMPRESSION, unit_float);
       },
       1e-12, halves},
  };
  auto response_of = [&](const std::vector<double>& levels) {
    MAT* m = m_get(side, side);
    for (int i = 0; i < side; i++)
      for (int j = 0; j < side; j++) m->me[i][j] = levels[i * side + j];
    VEC* response = image_response(&bank, m);
    m_free(m);
    return response;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir / "picture";
    c.write(path);
    std::thread writer;
    if (c.pipe) {
      // The file comes through a named pipe, written by another thread.
      const std::string fifo = dir / "fifo";
      std::remove(fifo.c_str());
      ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
      writer = std::thread([path, fifo] { write_file(fifo, read_file(path)); });
      path = fifo;
    }
    const GreyImage image = read_grey_image(path);
    if (writer.joinable()) writer.join();
    ASSERT_EQ(image.width, side);
    ASSERT_EQ(image.height, side);
    VEC* expected = c.levels ? response_of(c.levels(path)) : v_copy(reference, VNULL);
    VEC* response = response_of(image.pixels);
    for (unsigned k = 0; k < bank.F; k++) {
      if (c.tolerance == 0)
        EXPECT_EQ(response->ve[k], expected->ve[k]) << "filter " << k;
      else
        EXPECT_NEAR(response->ve[k], expected->ve[k], c.tolerance * expected->ve[k]);
    }
    v_free(response);
    v_free(expected);
  }
  v_free(reference);

  // With --srgb the curve is undone first: 128 is 0.2158605 of full scale.
  write_png(dir / "srgb.png", side, 8, 1, false, grey);
  ImageOptions srgb;
  srgb.srgb = true;
  const GreyImage linear = read_grey_image(dir / "srgb.png", srgb);
  size_t checked = 0;
  for (size_t p = 0; p < picture.size(); p++) {
    if (picture[p] != 128) continue;
    EXPECT_NEAR(linear.pixels[p], 0.2158605 * 255, 1e-4);
    ++checked;
  }
  EXPECT_GT(checked, 0u);
  EXPECT_EQ(read_grey_image(dir / "srgb.png").pixels[0], picture[0]);
}

namespace {

// Writes a DNG of 16-bit samples behind an RGGB colour filter array, its
// colour matrix that of linear sRGB (so that the camera's colours are
// sRGB's), a neutral white balance and the given orientation tag.
void write_dng(const std::string& path, int width, int height, int orientation,
               const std::vector<std::uint16_t>& samples) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  TIFFSetField(t, TIFFTAG_SUBFILETYPE, 0);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_CFA);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ORIENTATION, orientation);
  TIFFSetField(t, TIFFTAG_MAKE, "Test");
  TIFFSetField(t, TIFFTAG_MODEL, "Camera");
  const std::uint16_t dimensions[] = {2, 2};
  const std::uint8_t pattern[] = {0, 1, 1, 2};
  EXPECT_TRUE(TIFFSetField(t, TIFFTAG_CFAREPEATPATTERNDIM, dimensions));
  EXPECT_TRUE(TIFFSetField(t, TIFFTAG_CFAPATTERN, 4, pattern));
  const std::uint8_t version[] = {1, 4, 0, 0};
  EXPECT_TRUE(TIFFSetField(t, TIFFTAG_DNGVERSION, version));
  EXPECT_TRUE(TIFFSetField(t, TIFFTAG_UNIQUECAMERAMODEL, "Test Camera"));
  const float xyz_to_srgb[] = {3.2404542f, -1.5371385f, -0.4985314f, -0.9692660f, 1.8760108f,
                               0.0415560f, 0.0556434f,  -0.2040259f, 1.0572252f};
  EXPECT_TRUE(TIFFSetField(t, TIFFTAG_COLORMATRIX1, 9, xyz_to_srgb));
  EXPECT_TRUE(TIFFSetField(t, TIFFTAG_CALIBRATIONILLUMINANT1, 21));
  const float neutral[] = {1, 1, 1};
  EXPECT_TRUE(TIFFSetField(t, TIFFTAG_ASSHOTNEUTRAL, 3, neutral));
  const std::uint32_t white[] = {65535};
  EXPECT_TRUE(TIFFSetField(t, TIFFTAG_WHITELEVEL, 1, white));
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, height);
  for (int i = 0; i < height; i++)
    TIFFWriteScanline(t, const_cast<std::uint16_t*>(&samples[static_cast<size_t>(i) * width]), i,
                      0);
  TIFFClose(t);
}

}  // namespace

TEST(read_grey_image, CameraRawIsLinearAndKeepsTheSensorLayout) {
  // A grey scene of two levels, the top-left quarter four times as bright,
  // in a DNG written here (no raw file small enough comes with a Debian
  // package), tagged as turned by 180 degrees. The reader develops it
  // linearly, without brightening and without turning: the bright quarter
  // stays top left at 40000 / 65535 of full scale.
  TempDir dir;
  const int width = 48, height = 32;
  std::vector<std::uint16_t> samples(static_cast<size_t>(width) * height);
  for (int i = 0; i < height; i++)
    for (int j = 0; j < width; j++)
      samples[static_cast<size_t>(i) * width + j] = i < height / 2 && j < width / 2 ? 40000 : 10000;
  write_dng(dir / "scene.dng", width, height, 3, samples);
  std::string format;
  const GreyImage image = read_grey_image(dir / "scene.dng", ImageOptions(), &format);
  EXPECT_EQ(format, "camera raw");
  ASSERT_EQ(image.width, width);
  ASSERT_EQ(image.height, height);
  const double bright = image.pixels[4 * width + 4],
               dark = image.pixels[(height - 5) * width + width - 5];
  EXPECT_NEAR(bright, 40000 / 65535.0 * 255, 0.01 * bright);
  EXPECT_NEAR(dark, 10000 / 65535.0 * 255, 0.01 * dark);
  EXPECT_NEAR(image.pixels[(height - 5) * width + 4], dark, 0.01 * dark);

  // The same samples as an ordinary grey TIFF are read as they are.
  write_tiff(dir / "scene.tif", 16, 16, SAMPLEFORMAT_UINT, 1, PHOTOMETRIC_MINISBLACK, false, false,
             std::vector<double>(256, 10000));
  EXPECT_NEAR(read_grey_image(dir / "scene.tif", ImageOptions(), &format).pixels[0],
              10000 / 65535.0 * 255, 1e-12);
  EXPECT_EQ(format, "TIFF");
}
