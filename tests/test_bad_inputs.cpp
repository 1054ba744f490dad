// Bad inputs as a user meets them: every reader and every command line is
// given broken data in a child process, which must end with one clear line
// on standard error naming the file, a failure status, nothing on standard
// output and no signal. The table of cases is printed with the outcomes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

enum Form { kFile, kMissing, kFolder };

struct Case {
  std::string reader;     // pgm, image, filters, normals, database
  std::string what;       // the kind of damage
  std::string content;    // the file
  Form form = kFile;      // or no file at all, or a folder in its place
  std::string says = "";  // what the message must say, besides the file name
  long max_mb = 0;        // the most memory the reader may take, when not 0
};

std::string garbage(size_t n, unsigned seed) {
  std::string s(n, '\0');
  unsigned x = seed;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return s;
}

const char kBank[] =
    "Number of filters: 2\nSize: 3\na\n1 2 3\n4 5 6\n7 8 9\nb\n1 0 -1\n2 0 -2\n1 0 -1\n";

std::string model(const std::string& name) {
  return name + "\nMatrix P\n1 2 3 4 5 6\n1 2 3 4 5 6\nVector mu\n0 0\nVector sigma\n1 1\n";
}

std::string bytes_le(std::uint64_t v, int n) {
  std::string s;
  for (int b = 0; b < n; b++) s += static_cast<char>(b < 8 ? v >> (8 * b) : 0);
  return s;
}
std::string bytes_be(std::uint64_t v, int n) {
  std::string s;
  for (int b = n - 1; b >= 0; b--) s += static_cast<char>(v >> (8 * b));
  return s;
}

// A little-endian TIFF of one strip: `channels` samples of `bits` bits in
// `format` (1 integer, 3 float), the given compression and strip data, and
// `more` entries of 12 bytes each after the usual ones.
std::string tiff(int width, int height, int channels, int bits, int format, int compression,
                 const std::string& strip, const std::string& more = "") {
  const int entries = 11 + static_cast<int>(more.size() / 12);
  const size_t extra = 8 + 2 + 12 * entries + 4, formats = extra + 2 * channels,
               data = formats + 2 * channels;
  std::string out = "II*" + std::string(1, '\0') + bytes_le(8, 4) + bytes_le(entries, 2);
  auto entry = [&](int tag, int type, int count, std::uint32_t value) {
    out += bytes_le(tag, 2) + bytes_le(type, 2) + bytes_le(count, 4) + bytes_le(value, 4);
  };
  const bool many = channels > 2;
  entry(256, 4, 1, width);
  entry(257, 4, 1, height);
  entry(258, 3, channels, many ? extra : bits);
  entry(259, 3, 1, compression);
  entry(262, 3, 1, channels >= 3 ? 2 : 1);
  entry(273, 4, 1, data);
  entry(277, 3, 1, channels);
  entry(278, 4, 1, height);
  entry(279, 4, 1, strip.size());
  entry(284, 3, 1, 1);
  entry(339, 3, channels, many ? formats : format);
  out += more + bytes_le(0, 4);
  for (int c = 0; c < channels; c++) out += bytes_le(bits, 2);
  for (int c = 0; c < channels; c++) out += bytes_le(format, 2);
  return out + strip;
}

std::uint32_t crc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; k++) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

// A PNG of the given header and zlib data.
std::string png(int width, int height, int depth, int type, int interlace, const std::string& z) {
  auto chunk = [](const std::string& kind, const std::string& data) {
    return bytes_be(data.size(), 4) + kind + data + bytes_be(crc32(kind + data), 4);
  };
  const std::string header = bytes_be(width, 4) + bytes_be(height, 4) +
                             std::string{static_cast<char>(depth), static_cast<char>(type), 0, 0,
                                         static_cast<char>(interlace)};
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", z) +
         chunk("IEND", "");
}

// An OpenEXR file of one half channel Y, uncompressed, with `chunks` bytes
// after the header (the chunk offsets and chunks).
std::string exr(int width, int height, const std::string& chunks) {
  auto attribute = [](const std::string& name, const std::string& type, const std::string& v) {
    return name + std::string(1, '\0') + type + std::string(1, '\0') + bytes_le(v.size(), 4) + v;
  };
  const std::string window = bytes_le(0, 8) + bytes_le(width - 1, 4) + bytes_le(height - 1, 4);
  return std::string("\x76\x2f\x31\x01\x02\0\0\0", 8) +
         attribute("channels", "chlist",
                   std::string("Y\0", 2) + bytes_le(1, 4) + bytes_le(0, 4) + bytes_le(1, 4) +
                       bytes_le(1, 4) + std::string(1, '\0')) +
         attribute("compression", "compression", std::string(1, '\0')) +
         attribute("dataWindow", "box2i", window) + attribute("displayWindow", "box2i", window) +
         attribute("lineOrder", "lineOrder", std::string(1, '\0')) +
         attribute("pixelAspectRatio", "float", bytes_le(0x3F800000, 4)) +
         attribute("screenWindowCenter", "v2f", bytes_le(0, 8)) +
         attribute("screenWindowWidth", "float", bytes_le(0x3F800000, 4)) + std::string(1, '\0') +
         chunks;
}

// An 8x8 grey baseline JPEG (libjpeg, quality 90).
std::string jpeg() {
  const std::string hex =
      "ffd8ffe000104a46494600010100000100010000ffdb004300030202030202030303030403030405080505040405"
      "0a07"
      "0706080c0a0c0c0b0a0b0b0d0e12100d0e110e0b0b1016101113141515150c0f171816141812141514ffc0000b08"
      "0008"
      "000801011100ffc4001f0000010501010101010100000000000000000102030405060708090a0bffc400b5100002"
      "0103"
      "03020403050504040000017d01020300041105122131410613516107227114328191a1082342b1c11552d1f02433"
      "6272"
      "82090a161718191a25262728292a3435363738393a434445464748494a535455565758595a636465666768696a73"
      "7475"
      "767778797a838485868788898a92939495969798999aa2a3a4a5a6a7a8a9aab2b3b4b5b6b7b8b9bac2c3c4c5c6c7"
      "c8c9"
      "cad2d3d4d5d6d7d8d9dae1e2e3e4e5e6e7e8e9eaf1f2f3f4f5f6f7f8f9faffda0008010100003f00a97ba3697e1e"
      "f871"
      "add969365ff08bfc215f2ec1b528ad59759f12be1f36d02332ec8a7e008b0ae638d9a578e369634fffd9";
  std::string out;
  for (size_t k = 0; k < hex.size(); k += 2)
    out += static_cast<char>(std::stoi(hex.substr(k, 2), nullptr, 16));
  return out;
}

// The same JPEG with its frame declaring 8000 x 8000 pixels.
std::string jpeg_claiming_more() {
  std::string out = jpeg();
  const size_t frame = out.find("\xff\xc0");
  out.replace(frame + 5, 4, bytes_be(8000, 2) + bytes_be(8000, 2));
  return out;
}

// A TGA header: image type, colour map length, width, height, bits.
std::string tga(int type, int map, int width, int height, int bits) {
  return std::string{0, static_cast<char>(map ? 1 : 0), static_cast<char>(type), 0, 0} +
         bytes_le(map, 2) + std::string(1, static_cast<char>(map ? 24 : 0)) + bytes_le(0, 4) +
         bytes_le(width, 2) + bytes_le(height, 2) + std::string{static_cast<char>(bits), 0};
}

// A BMP of 8-bit indices into a grey table of 256 entries, `raster` after.
std::string bmp(int width, int height, const std::string& raster) {
  std::string table;
  for (int v = 0; v < 256; v++) table += bytes_le(v * 0x010101, 4);
  return "BM" + bytes_le(1078 + raster.size(), 4) + bytes_le(0, 4) + bytes_le(1078, 4) +
         bytes_le(40, 4) + bytes_le(width, 4) + bytes_le(height, 4) + bytes_le(1, 2) +
         bytes_le(8, 2) + bytes_le(0, 4) + bytes_le(raster.size(), 4) + bytes_le(0, 16) + table +
         raster;
}

std::vector<Case> cases() {
  const std::string raster(6, '\x05');
  const std::string huge_line(3 << 20, '7');  // longer than any line a reader takes
  return {
      {"pgm", "missing file", "", kMissing},
      {"pgm", "a folder", "", kFolder, "cannot read the file (Is a directory)"},
      {"pgm", "empty file", ""},
      {"pgm", "truncated header", "P5\n3"},
      {"pgm", "truncated raster", "P5\n3 2\n255\n\x01\x02"},
      {"pgm", "wrong magic", "P6\n3 2\n255\n" + raster},
      {"pgm", "size zero", "P5\n0 0\n255\n"},
      {"pgm", "size negative", "P5\n-3 2\n255\n" + raster},
      {"pgm", "size huge", "P5\n2147483647 2147483647\n255\n" + raster},
      {"pgm", "size not a number", "P5\nthree two\n255\n" + raster},
      {"pgm", "maximum value not a number", "P5\n3 2\nmax\n" + raster},
      {"pgm", "maximum value with a NUL byte",
       "P5\n3 2\n255" + std::string(1, '\0') + "junk\n" + raster},
      {"pgm", "endless comment line", "P5\n#" + huge_line + "\n3 2\n255\n" + raster},
      {"pgm", "binary garbage", garbage(5000, 1)},
      {"image", "missing file", "", kMissing},
      {"image", "a folder", "", kFolder, "cannot read the file (Is a directory)"},
      {"image", "empty file", ""},
      {"image", "not an image", "surface,set,image\n"},
      {"image", "PGM truncated raster", "P5 3 2 255 \x01\x02"},
      {"image", "PGM sample above the maximum", "P5\n3 2\n4\n" + raster},
      {"image", "PGM maximum value 0", "P5\n3 2\n0\n" + raster},
      {"image", "PGM 16 bits, maximum above 65535", "P5\n3 1\n65536\n" + raster},
      {"image", "PPM size huge", "P6\n100000 100000\n255\n" + raster},
      {"image", "PNG signature only", std::string("\x89PNG\r\n\x1a\n", 8)},
      {"image", "PNG of garbage", std::string("\x89PNG\r\n\x1a\n", 8) + garbage(3000, 5)},
      {"image", "TIFF header only", std::string("II*\0\x08\0\0\0", 8)},
      {"image", "TIFF of garbage", std::string("MM\0*", 4) + garbage(3000, 6)},
      // Tiny files declaring huge rasters: refused before the raster is
      // allocated (they took 2.1 GB and 530 MB).
      {"image", "TIFF of 174 bytes, 8192x8192 float RGBA",
       tiff(8192, 8192, 4, 64, 3, 8, std::string("\x78\x9c\x63\x60\x00\x00\x00\x02\x00\x01", 10)),
       kFile, "damaged TIFF file", 200},
      {"image", "PNG of 66 bytes, 32768x2048 16-bit RGBA",
       png(32768, 2048, 16, 6, 0, std::string("\x78\x9c\x63\x00\x00\x00\x01\x00\x01", 9)), kFile,
       "damaged PNG file", 200},
      {"image", "PNG interlaced, 32768x2048 16-bit RGBA",
       png(32768, 2048, 16, 6, 1, std::string("\x78\x9c\x63\x00\x00\x00\x01\x00\x01", 9)), kFile,
       "the file is too short for its image", 200},
      {"image", "JPEG declaring 8000x8000", jpeg_claiming_more(), kFile,
       "the file is too short for its image", 200},
      {"image", "OpenEXR declaring 30000x2000, no chunks", exr(30000, 2000, ""), kFile,
       "the file is too short for its image", 200},
      {"image", "float TIFF sample 1e308",
       tiff(2, 1, 1, 64, 3, 1, bytes_le(0x7FE1CCF385EBC8A0ull, 8) + bytes_le(0, 8)), kFile,
       "a sample gives no finite grey level"},
      {"image", "DNG of a 36-entry colour pattern for a 2x2 repeat (LibRaw crashed)",
       tiff(24, 24, 1, 16, 1, 1, std::string(1152, '\x10'),
            bytes_le(33421, 2) + bytes_le(3, 2) + bytes_le(2, 4) + bytes_le(0x00020002, 4) +
                bytes_le(33422, 2) + bytes_le(1, 2) + bytes_le(36, 4) + bytes_le(8, 4) +
                bytes_le(50706, 2) + bytes_le(1, 2) + bytes_le(4, 4) + bytes_le(0x00000401, 4)),
       kFile, "unsupported camera raw file (a colour filter pattern of 36 entries"},
      {"image", "JPEG cut short", jpeg().substr(0, 340), kFile, "damaged JPEG file"},
      {"image", "TGA cut short", tga(3, 0, 10, 10, 8) + raster, kFile,
       "damaged TGA file (the raster is cut short)"},
      {"image", "TGA run-length cut short", tga(11, 0, 10, 10, 8) + "\x85\x01\x03", kFile,
       "damaged TGA file (the run-length data is cut short)"},
      {"image", "TGA colour index beyond the map", tga(1, 2, 2, 1, 8) + "abcdef\x01\x02", kFile,
       "a colour index beyond the map"},
      {"image", "BMP cut short", bmp(10, 10, raster), kFile,
       "damaged BMP file (the raster is cut short)"},
      {"image", "OpenEXR chunk missing", exr(4, 2, bytes_le(400, 8) + bytes_le(1000, 8)), kFile,
       "damaged OpenEXR file"},
      {"filters", "missing file", "", kMissing},
      {"filters", "a folder", "", kFolder, "cannot read the file (Is a directory)"},
      {"filters", "empty file", ""},
      {"filters", "truncated", std::string(kBank).substr(0, 40)},
      {"filters", "count zero", "Number of filters: 0\nSize: 3\n"},
      {"filters", "count negative", "Number of filters: -2\nSize: 3\n"},
      {"filters", "count huge", "Number of filters: 4000000000\nSize: 3\n"},
      {"filters", "size huge", "Number of filters: 1\nSize: 2147483647\nk\n1\n"},
      {"filters", "number not a number", "F: 1\nM: 2\nk\n1 x\n3 4\n"},
      {"filters", "number not finite", "F: 1\nM: 2\nk\n1 inf\n3 4\n"},
      {"filters", "endless line", "F: 1\nM: 2\nk\n" + huge_line + "\n"},
      {"filters", "binary garbage", garbage(5000, 2)},
      {"normals", "missing file", "", kMissing},
      {"normals", "a folder", "", kFolder, "cannot read the file (Is a directory)"},
      {"normals", "empty file", ""},
      {"normals", "truncated", "2 2\n1\n2\n3\n"},
      {"normals", "sizes zero", "0 0\n"},
      {"normals", "sizes negative", "-1 4\n1\n"},
      {"normals", "sizes huge", "100000 100000\n1\n"},
      {"normals", "value not a number", "1 1\n1\nnope\n3\n"},
      {"normals", "endless line", "1 1\n" + huge_line + "\n"},
      {"normals", "binary garbage", garbage(5000, 3)},
      {"database", "missing file", "", kMissing},
      {"database", "a folder", "", kFolder, "cannot read the file (Is a directory)"},
      {"database", "empty file", ""},
      {"database", "truncated", "1\n" + model("aaa").substr(0, 30)},
      {"database", "count not a number", "many\n" + model("aaa")},
      {"database", "count negative", "-1\n" + model("aaa")},
      {"database", "count huge", "2147483647\n" + model("aaa")},
      {"database", "fewer models than the count", "3\n" + model("aaa") + model("aab")},
      {"database", "number not a number", "1\naaa\nMatrix P\n1 2 3 x 5 6\n"},
      {"database", "name a number", "1\n" + model("5aa")},
      {"database", "endless line", "1\naaa\nMatrix P\n" + huge_line + "\n"},
      {"database", "binary garbage", garbage(5000, 4)},
  };
}

}  // namespace

TEST(BadInputs, EveryReaderGivesOneClearLine) {
  TempDir dir;
  write_file(dir / "bank.dat", kBank);
  std::string table = "\n| reader | input | status | message |\n|---|---|---|---|\n";
  for (const Case& c : cases()) {
    const std::string file = dir / ("input." + c.reader);
    std::remove(file.c_str());
    if (c.form == kFile) write_file(file, c.content);
    if (c.form == kFolder) make_dirs(file);
    std::vector<std::string> argv = {program("probe"), c.reader, file};
    if (c.reader == "database") argv.push_back(dir / "bank.dat");
    RunResult r = run(argv);
    SCOPED_TRACE(c.reader + ": " + c.what);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(file), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    if (c.max_mb > 0) {
      EXPECT_LT(r.max_rss_kb, c.max_mb * 1024) << r.err;
    }
    std::string message = r.err.substr(0, r.err.size() - 1);
    message.replace(message.find(file), file.size(), "FILE");
    table += "| " + c.reader + " | " + c.what + " | " + std::to_string(r.status) + " | " +
             message.substr(0, 150) + " |\n";
  }
  std::printf("%s", table.c_str());
}

TEST(BadInputs, CommandLines) {
  TempDir dir;
  Workspace w = make_workspace(dir.path(), {"aaa"}, {0}, 2, 16, 2);
  const std::string long_name(5000, 'n');
  struct Line {
    std::string program;
    std::vector<std::string> args;
    std::vector<std::string> env = {};
    std::string says = "";  // what the message must say, where it matters
  };
  // A kernel path the processor lacks (kernel_path.h): AVX-512F where it has
  // none, else (on a processor with AVX-512F, which has every path) a name
  // that is no path.
  const bool wide = __builtin_cpu_supports("avx512f");
  std::vector<Line> lines = {
      {"classify_experiment", {}},
      {"classify_experiment", {"1", "2"}},
      {"classify_experiment", {"one"}},
      {"classify_experiment", {"-1"}},
      {"classify_experiment", {"20"}},
      {"classify_experiment", {"99999999999"}},
      {"classify_experiment", {long_name}},
      {"direction_experiment", {}},
      {"direction_experiment", {"aaa", "aab"}},
      {"direction_experiment", {long_name}},
      {"direction_experiment", {"../aaa"}},
      {"direction_experiment", {"a/b"}},
      {"direction_experiment", {".."}},
      {"build_database", {"--set", "-1"}},
      {"build_database", {"--set", "x"}},
      {"build_database", {"--surfaces", "a/b"}},
      {"build_database", {"--surfaces", ".."}},
      {"build_database", {"--surfaces", long_name}},
      {"build_database", {"--unknown"}},
      {"build_database", {"--manifest", "m.csv", "--surfaces", "aaa"}},
      {"build_database", {"--srgb"}},
      {"build_database", {"--set", "1000"}},
      {"build_database", {"--set=x"}},
      {"build_database", {"--jobs"}},
      {"build_database", {"--list-surfaces=yes"}},
      {"classify_images", {}},
      {"classify_images", {"--manifest", "m.csv", "--database", "d.dat"}},
      {"classify_images", {"--manifest", "m.csv", "--database", "d.dat", "--sets", "1,x"}},
      {"classify_images", {"--manifest", "m.csv", "--database", "d.dat", "--sets", "1,1"}},
      {"classify_images", {"--manifest=m.csv", "--database=d.dat", "--sets=1", "--jobs=0"}},
      {"classify_images", {"--manifest", "m.csv", "--database", "d.dat", "--sets", "1", "extra"}},
      {"estimate_light", {"--manifest", "m.csv", "--model-set", "0"}},
      {"estimate_light", {"--manifest", "m.csv", "--model-set", "0", "--test-set", "-1"}},
      {"estimate_light",
       {"--manifest", "m.csv", "--model-set", "0", "--test-set", "1", "--space",
        "120,30,65,35,0.8,1.3"}},
      {"estimate_light",
       {"--manifest", "m.csv", "--model-set", "0", "--test-set", "1", "--space",
        "120,30,65,0,0.8,1.3,5"}},
      {"estimate_light", {"--manifest", "m.csv", "--model-set", "0", "--test-set", "1", "--model"}},
      // Whole numbers of any length, magnitudes whose squares leave the
      // doubles' range, reversed ranges, an option given twice.
      {"classify_images",
       {"--manifest", "m.csv", "--database", "d.dat", "--sets", "1", "--jobs",
        "9999999999999999999"}},
      {"classify_images",
       {"--manifest", "m.csv", "--database", "d.dat", "--sets", "99999999999999999999999"}},
      {"classify_images",
       {"--manifest", "m.csv", "--database", "d.dat", "--sets", "1", "--surface",
        "-9999999999999999999"}},
      {"build_database", {"--manifest", "m.csv", "--set", "9999999999999999999"}},
      {"estimate_light",
       {"--manifest", "m.csv", "--model-set", "9223372036854775808", "--test-set", "1"}},
      {"estimate_light",
       {"--manifest", "m.csv", "--model-set", "0", "--test-set", "1", "--space",
        "9999999999999999999,30,65,35,0.8,1.3,5"}},
      {"classify_images",
       {"--manifest", "m.csv", "--database", "d.dat", "--sets", "1", "--space",
        "120,30,65,35,1e160,1e160,1"}},
      {"estimate_light",
       {"--manifest", "m.csv", "--model-set", "0", "--test-set", "1", "--space",
        "120,30,65,35,1e-300,1,5"}},
      {"estimate_light",
       {"--manifest", "m.csv", "--model-set", "0", "--test-set", "1", "--space",
        "120,65,30,35,0.8,1.3,5"}},
      {"estimate_light",
       {"--manifest", "m.csv", "--model-set", "0", "--test-set", "1", "--space",
        "120,30,65,35,1.3,0.8,5"}},
      {"classify_images",
       {"--manifest", "m.csv", "--database", "d.dat", "--sets", "1", "--sets", "0"}},
      {"build_database", {"--jobs", "1", "--jobs=2"}},
      {"estimate_light", {"--manifest"}},
      {"summarize_results", {}},
      {"summarize_results", {"plot"}},
      {"summarize_results", {"rows", "--kind", "classification"}},
      {"summarize_results", {"rows", "--kind", "both", "r.csv"}},
      {"summarize_results", {"survey", "--manifest", "m.csv", "--space", "120,30,65"}},
      {"summarize_results", {"survey", "--manifest", "m.csv", "--test-sets", "1,1"}},
      {"summarize_results", {"confusion", "--manifest", "m.csv"}},
      {"summarize_results", {"table", "--kind", "direction", "--format", "pdf"}},
      {"summarize_results", {"table", "--kind=direction", "--format=tex", "--model-set=0"}},
      {"summarize_results", {"summary", "--classification", "c.csv", "--direction", "d.csv"}},
      {"export_normals", {}},
      {"export_normals", {"aaa", "aab"}},
      {"export_normals", {"../aaa"}},
      {"export_normals", {long_name}},
      {"export_normals", {"aaa", "--set", "x"}},
      {"classify_experiment",
       {"0"},
       {"TI_KERNELS=avx-512"},
       "TI_KERNELS=avx-512: not a kernel path"},
      {"build_database",
       {"--jobs", "2"},
       {wide ? "TI_KERNELS=sse2" : "TI_KERNELS=avx512"},
       wide ? "TI_KERNELS=sse2" : "TI_KERNELS=avx512: this processor has no AVX-512F"},
  };
  if (!__builtin_cpu_supports("avx2"))
    lines.push_back({"direction_experiment",
                     {"aaa"},
                     {"TI_KERNELS=avx512-emulated"},
                     "TI_KERNELS=avx512-emulated: this processor has no AVX2"});
  for (const Line& line : lines) {
    std::vector<std::string> argv = {program(line.program)};
    argv.insert(argv.end(), line.args.begin(), line.args.end());
    RunResult r = run(argv, w.work, line.env);
    SCOPED_TRACE(line.program + " with " + std::to_string(line.args.size()) + " arguments");
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(r.err.empty());
    if (!line.says.empty()) {
      EXPECT_EQ(r.err.rfind(line.program + ": " + line.says, 0), 0u) << r.err;
      EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
  }
}

TEST(BadInputs, ManifestsNameTheirLine) {
  TempDir dir;
  const HeightField h = test_surface(2, 1);
  for (int tilt : {0, 90, 180, 270})
    write_pgm(dir / ("a" + std::to_string(tilt) + ".pgm"), 16, 16, render(h, 16, 45, tilt, 2, 1));
  write_pgm(dir / "big.pgm", 20, 20, render(h, 20, 45, 0, 2, 1));
  write_file(dir / "garbage.png", std::string("\x89PNG\r\n\x1a\n", 8) + garbage(300, 7));
  write_pgm(dir / "thin.pgm", 16, 1, std::vector<unsigned char>(16, 9));
  std::vector<unsigned char> spots(16 * 16, 0);  // no 3 x 3 window wholly inside
  for (int p = 0; p < 16 * 16; p += 2) spots[p] = 1;
  write_pgm(dir / "spots.pgm", 16, 16, spots);
  for (int k = 0; k < 4; k++)
    write_pgm(dir / ("flat" + std::to_string(k) + ".pgm"), 16, 16,
              std::vector<unsigned char>(256, 100));
  write_bank(dir / "bank.dat", test_kernels(2, 3));
  const std::string header = "surface,set,image,slant,tilt\n";
  std::string good = header;
  for (int set : {0, 1})
    for (int tilt : {0, 90, 180, 270})
      good += "s," + std::to_string(set) + ",a" + std::to_string(tilt) + ".pgm,45," +
              std::to_string(tilt) + "\n";
  write_file(dir / "good.csv", good);
  RunResult built = run({program("build_database"), "--manifest", "good.csv", "--filters",
                         "bank.dat", "--output", "db.dat"},
                        dir.path());
  ASSERT_EQ(built.status, 0) << built.err;

  struct Case {
    std::string what;
    std::string command;  // build, classify or estimate
    std::string manifest;
    std::string message;  // what standard error holds
  };
  const std::string set0 = "s,0,a0.pgm,45,0\ns,0,a90.pgm,45,90\n";
  std::string flat = header, unseen = header;
  for (int set : {0, 1})
    for (int tilt : {0, 90, 180, 270})
      flat += "f," + std::to_string(set) + ",flat" + std::to_string(tilt / 90) + ".pgm,45," +
              std::to_string(tilt) + "\n";
  for (int k = 0; k < 100000; k++) unseen += "s" + std::to_string(k) + ",1,a0.pgm,45,0\n";
  const std::vector<Case> cases = {
      {"no such manifest", "classify", "", "m.csv: cannot open the manifest"},
      {"empty manifest", "classify", "\n", "m.csv:1: the header lacks the column \"surface\""},
      {"missing column", "classify", "surface,set,image,slant\ns,1,a0.pgm,45\n",
       "m.csv:1: the header lacks the column \"tilt\""},
      {"both kinds of light", "estimate", "surface,set,image,slant,tilt,x,y,z\n",
       "m.csv:1: the header names both slant, tilt and x, y, z"},
      {"duplicate image", "build", good + "s,0,a0.pgm,30,0\n",
       "m.csv:10: surface \"s\", set 0, image \"a0.pgm\" is listed twice (first on line 2)"},
      {"slant not a number", "classify", header + "s,1,a0.pgm,45deg,0\n",
       "m.csv:2: the slant \"45deg\" is not a number"},
      {"slant outside [0, 90)", "classify", header + set0 + "s,1,a0.pgm,90,0\n",
       "m.csv:4: the slant \"90\" is outside [0, 90)"},
      {"light below the surface", "classify", "x,y,z,surface,set,image\n1,0,-0.5,s,1,a0.pgm\n",
       "m.csv:2: the light vector's slant 116.56505117707799 is outside [0, 90)"},
      {"negative set", "classify", header + "s,-1,a0.pgm,45,0\n",
       "m.csv:2: the set \"-1\" is not a whole number"},
      {"unusable name", "classify", header + "7up,1,a0.pgm,45,0\n",
       "m.csv:2: the surface name \"7up\" cannot be held by a database"},
      {"too few fields", "classify", header + "s,1,a0.pgm,45\n",
       "m.csv:2: the line has 4 fields, the header 5"},
      {"quote left open", "classify", header + "s,1,a0.pgm,45,0\n\"s,1,a0.pgm,45,0\n",
       "m.csv:3: a quoted field is not closed"},
      {"two lights", "build", header + set0,
       "m.csv:2: surface \"s\", set 0 cannot give a model (it has 2 lights; a model needs at "
       "least 4 images whose lights span all three directions"},
      {"three lights, refused before any image is read", "build",
       header + "s,0,gone0.pgm,45,0\ns,0,gone1.pgm,45,90\ns,0,gone2.pgm,0,0\n",
       "m.csv:2: surface \"s\", set 0 cannot give a model (it has 3 lights; a model needs at "
       "least 4 images whose lights span all three directions: with three, photometric stereo "
       "reproduces its training images exactly, so the model's fit has no spread to weigh its "
       "filters by)"},
      {"three lights for estimate_light", "estimate",
       header + "s,0,gone0.pgm,45,0\ns,0,gone1.pgm,45,90\ns,0,gone2.pgm,0,0\ns,1,a0.pgm,45,0\n",
       "m.csv:2: surface \"s\", set 0 cannot give a model (it has 3 lights;"},
      {"four coplanar lights", "estimate",
       header + "s,0,a0.pgm,45,0\ns,0,a90.pgm,30,0\ns,0,a180.pgm,45,180\ns,0,a270.pgm,30,180\n" +
           "s,1,a0.pgm,45,0\n",
       "m.csv:2: surface \"s\", set 0 cannot give a model (Photometric stereo needs light vectors "
       "that are not coplanar"},
      {"sizes differ in a model set", "build",
       header + set0 + "s,0,big.pgm,45,180\ns,0,a180.pgm,45,270\n",
       "m.csv:4: the image \"big.pgm\" is 20x20, the first of its set 16x16"},
      {"sizes differ in a test set", "classify", good + "s,1,big.pgm,45,0\n",
       "m.csv:10: the image \"big.pgm\" is 20x20, the first of its set 16x16"},
      {"image missing", "classify", good + "s,1,gone.pgm,45,0\n",
       "m.csv:10: cannot read the image \"gone.pgm\" (" + (dir / "gone.pgm") +
           ": cannot open the image"},
      {"two images damaged, the first is named", "estimate",
       good + "s,1,garbage.png,45,10\ns,1,gone.pgm,45,0\n",
       "m.csv:10: cannot read the image \"garbage.png\""},
      {"no image of the sets", "classify", header + set0,
       "m.csv: the manifest lists no image of sets 1"},
      {"no model set", "build", header + "s,1,a0.pgm,45,0\n",
       "m.csv: the manifest lists no image of set 0"},
      {"a tilt whose radians overflow", "estimate", good + "s,1,a0.pgm,45,1e308\n",
       "m.csv:10: the tilt \"1e308\" gives no light vector"},
      {"a light vector too long to square", "classify",
       "surface,set,image,x,y,z\ns,1,a0.pgm,1e160,0,1e160\n",
       "m.csv:2: the light vector's length 1.41421e+160 is outside [1e-06, 1e+06]"},
      {"a light vector too short to square", "classify",
       "surface,set,image,x,y,z\ns,1,a0.pgm,0,0,1e-300\n",
       "m.csv:2: the light vector's length 1e-300 is outside [1e-06, 1e+06]"},
      {"a hexadecimal slant", "classify", header + "s,1,a0.pgm,0x1.68p5,0\n",
       "m.csv:2: the slant \"0x1.68p5\" is not a number"},
      {"a NUL byte in the image field", "classify",
       header + "s,1,a" + std::string(1, '\0') + ".pgm,45,0\n",
       "m.csv:2: the image \"a\\0.pgm\" is not a file name"},
      {"a kernel larger than the image", "classify", good + "s,1,thin.pgm,45,0\n",
       "m.csv:10: cannot filter the image \"thin.pgm\" (Filter kernel of 3x3 is larger than the "
       "image of 16x1)"},
      {"a model of flat images, whose fit has no spread", "estimate", flat,
       "m.csv:2: surface \"f\", set 0 cannot give a model: filter 0 (kernel 0): sigma 0 is "
       "written as 0.000000"},
      {"100000 lines, none of the model set", "build", unseen,
       "m.csv: the manifest lists no image of set 0"},
      {"a mask of another size", "classify",
       "surface,set,image,slant,tilt,mask\ns,1,a0.pgm,45,0,\ns,1,a90.pgm,45,90,big.pgm\n",
       "m.csv:3: the mask \"big.pgm\" is 20x20, its image \"a90.pgm\" 16x16"},
      {"a mask that cannot be read", "build",
       "surface,set,image,slant,tilt,mask\ns,0,a0.pgm,45,0,\ns,0,a90.pgm,45,90,\n"
       "s,0,a180.pgm,45,180,garbage.png\ns,0,a270.pgm,45,270,\n",
       "m.csv:4: cannot read the mask \"garbage.png\""},
      {"a mask under which no kernel position counts", "estimate",
       "surface,set,image,slant,tilt,mask\ns,0,a0.pgm,45,0,\ns,0,a90.pgm,45,90,\n"
       "s,0,a180.pgm,45,180,\ns,0,a270.pgm,45,270,\ns,1,a0.pgm,45,0,spots.pgm\n",
       "m.csv:6: cannot filter the image \"a0.pgm\" (bank.dat: filter 0 \"kernel 0\" of 3x3 "
       "leaves no position counted in the mask of an image of 16x16"},
      {"a folder for the manifest", "classify", "<folder>",
       "m.csv: cannot read the file (Is a directory)"},
  };
  const std::map<std::string, std::vector<std::string>> commands = {
      {"build", {"build_database", "--set", "0", "--output", "out.csv"}},
      {"classify",
       {"classify_images", "--database", "db.dat", "--sets", "1", "--output", "out.csv"}},
      {"estimate",
       {"estimate_light", "--model-set", "0", "--test-set", "1", "--jobs", "2", "--output",
        "out.csv"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::remove((dir / "m.csv").c_str());
    if (c.manifest == "<folder>")
      make_dirs(dir / "m.csv");
    else if (!c.manifest.empty())
      write_file(dir / "m.csv", c.manifest);
    std::vector<std::string> argv = commands.at(c.command);
    argv[0] = program(argv[0]);
    argv.insert(argv.end(), {"--manifest", dir / "m.csv", "--filters", "bank.dat"});
    // Progress lines may come first; the error is the last line.
    const RunResult r = run(argv, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.out, "");
    const size_t last = r.err.rfind('\n', r.err.size() - 2) + 1;
    const std::string expected = c.message[0] == 'm' ? dir / c.message : c.message;
    EXPECT_EQ(r.err.substr(last, expected.size()), expected) << r.err;
    EXPECT_EQ(read_file(dir / "out.csv"), "");
    EXPECT_EQ(run({"/bin/sh", "-c", "ls | grep -c out.csv"}, dir.path()).out, "0\n");
  }
}
