// Tests of the generated data set's layout and files (data_set) and of
// generate_surfaces' command line (surfaces_cli).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "data_set.h"
#include "fft.h"
#include "height_field.h"
#include "numeric.h"
#include "pgm_write.h"
#include "render.h"
#include "rng.h"
#include "spectral.h"
#include "surface_classes.h"
#include "surfaces_cli.h"

namespace fs = std::filesystem;
using namespace gen;

namespace {

// A fresh directory under the system temp dir, removed at scope exit.
struct TempDir {
  fs::path path;
  TempDir() {
    std::string t = (fs::temp_directory_path() / "gen_test_XXXXXX").string();
    path = ::mkdtemp(t.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

std::string read_file(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

}  // namespace

TEST(DataSet, PathsFollowTheLayout) {
  EXPECT_EQ(image_path("ws", "aaa", 1, 45, 30), "ws/data/aaa/aaa1/aaa_45_30.pgm");
  EXPECT_EQ(image_path(".", "adh", 0, 45, 0), "./data/adh/adh0/adh_45_0.pgm");
  EXPECT_EQ(contact_sheet_path("ws"), "ws/data/contact_sheet.pgm");
}

TEST(DataSet, PgmEncodingIsExact) {
  Image8 img(3, 2);
  for (int k = 0; k < 6; ++k) img.pixels[k] = static_cast<std::uint8_t>(k * 50);
  const std::string pgm = encode_pgm(img);
  EXPECT_EQ(pgm, std::string("P5\n3 2\n255\n") + std::string("\x00\x32\x64\x96\xc8\xfa", 6));
}

TEST(DataSet, ContactSheetTilesInOrderWithSeparators) {
  std::vector<Image8> tiles;
  for (int k = 0; k < 3; ++k) tiles.emplace_back(4, 3, static_cast<std::uint8_t>(10 + k));
  const Image8 sheet = contact_sheet(tiles, 2, 1);
  ASSERT_EQ(sheet.width, 2 * 4 + 3);
  ASSERT_EQ(sheet.height, 2 * 3 + 3);
  EXPECT_EQ(sheet.at(0, 0), 255);
  EXPECT_EQ(sheet.at(1, 1), 10);
  EXPECT_EQ(sheet.at(1, 4), 10);
  EXPECT_EQ(sheet.at(1, 5), 255);  // separator column
  EXPECT_EQ(sheet.at(1, 6), 11);
  EXPECT_EQ(sheet.at(5, 1), 12);  // second row
  EXPECT_EQ(sheet.at(5, 6), 0);   // empty slot

  // A label is white on black at the tile's top-left corner: "l" lights the
  // left column of its glyph (font cells of 2 x 2 pixels after a 2-pixel
  // margin) and leaves the rest of its box black; the tile is untouched
  // beyond the box.
  const std::vector<Image8> big = {Image8(30, 20, 100)};
  const Image8 labelled = contact_sheet(big, 1, 1, {"l"});
  EXPECT_EQ(labelled.at(1 + 2, 1 + 2), 255);          // top of the 'l' stem
  EXPECT_EQ(labelled.at(1 + 2, 1 + 4), 0);            // beside it, inside the box
  EXPECT_EQ(labelled.at(1 + 10, 1 + 7), 255);         // its foot, the last row
  EXPECT_EQ(labelled.at(1 + 13, 1 + 20), 100);        // below and right of the box
  EXPECT_EQ(contact_sheet(big, 1, 1).at(3, 3), 100);  // no label given
}

namespace {

DataSetSpec small_spec(const fs::path& root, std::uint64_t seed) {
  DataSetSpec spec = default_data_set_spec();
  spec.root = root.string();
  spec.names = {"aam", "acc"};
  spec.sets = {0, 1};
  spec.tilts = {0, 90};
  spec.width = 40;
  spec.height = 24;
  spec.seed = seed;
  return spec;
}

}  // namespace

TEST(DataSet, WritesEveryFileWithExactHeadersAndNoLeftovers) {
  TempDir d;
  std::ostringstream log;
  generate_data_set(small_spec(d.path, 1), log);
  int files = 0;
  for (const auto& e : fs::recursive_directory_iterator(d.path)) {
    if (!e.is_regular_file()) continue;
    ++files;
    EXPECT_EQ(e.path().string().find(".tmp."), std::string::npos) << e.path();
  }
  EXPECT_EQ(files, 2 * 2 * 2 + 2);
  const std::string img = read_file(image_path(d.path.string(), "acc", 1, 45, 90));
  ASSERT_EQ(img.size(), std::string("P5\n40 24\n255\n").size() + 40 * 24);
  EXPECT_EQ(img.substr(0, 13), "P5\n40 24\n255\n");
  const std::string sheet = read_file(contact_sheet_path(d.path.string()));
  EXPECT_EQ(sheet.substr(0, 13), "P5\n86 28\n255\n");  // 2 tiles side by side, 2 px gaps
  const std::string manifest = read_file(manifest_path(d.path.string()));
  EXPECT_EQ(std::count(manifest.begin(), manifest.end(), '\n'), 1 + 2 * 2 * 2);
  EXPECT_EQ(manifest.substr(0, manifest.find("aam,1")),
            "surface,set,image,slant,tilt\naam,0,aam/aam0/aam_45_0.pgm,45,0\n"
            "aam,0,aam/aam0/aam_45_90.pgm,45,90\n");
}

TEST(DataSet, SameSeedSameBytesOtherSeedDiffers) {
  TempDir a, b, c;
  std::ostringstream log;
  generate_data_set(small_spec(a.path, 9), log);
  generate_data_set(small_spec(b.path, 9), log);
  generate_data_set(small_spec(c.path, 10), log);
  for (int set : {0, 1}) {
    for (int tilt : {0, 90}) {
      const auto pa = read_file(image_path(a.path.string(), "aam", set, 45, tilt));
      EXPECT_EQ(pa, read_file(image_path(b.path.string(), "aam", set, 45, tilt)));
      EXPECT_NE(pa, read_file(image_path(c.path.string(), "aam", set, 45, tilt)));
    }
  }
  EXPECT_NE(read_file(image_path(a.path.string(), "aam", 0, 45, 0)),
            read_file(image_path(a.path.string(), "aam", 1, 45, 0)));
}

TEST(DataSet, RealisationDoesNotDependOnTheOtherRequestedImages) {
  DataSetSpec one = default_data_set_spec(), many = one;
  one.width = one.height = many.width = many.height = 32;
  one.tilts = {90};
  many.tilts = {0, 90, 180};
  EXPECT_EQ(render_set(one, "aba", 2)[0].pixels, render_set(many, "aba", 2)[1].pixels);
}

TEST(SurfacesCli, DefaultsAndValueForms) {
  auto c = parse_surfaces_args({});
  ASSERT_EQ(c.action, SurfacesCommand::Action::kRun);
  EXPECT_EQ(c.spec.names.size(), 20u);
  EXPECT_EQ(c.spec.sets, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(c.spec.tilts.size(), 12u);
  EXPECT_EQ(c.spec.tilts.back(), 330);
  EXPECT_EQ(c.spec.slants, std::vector<int>{45});
  EXPECT_EQ(c.spec.width, 256);
  EXPECT_EQ(c.spec.seed, 1u);
  c = parse_surfaces_args({"--sets", "3", "--size=64x32", "--names", "adh,aaa", "--seed", "77",
                           "--tilts", "10,20", "--slants=30,60"});
  ASSERT_EQ(c.action, SurfacesCommand::Action::kRun) << c.error;
  EXPECT_EQ(c.spec.sets, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(c.spec.width, 64);
  EXPECT_EQ(c.spec.height, 32);
  EXPECT_EQ(c.spec.names, (std::vector<std::string>{"adh", "aaa"}));
  EXPECT_EQ(c.spec.seed, 77u);
  EXPECT_EQ(c.spec.slants, (std::vector<int>{30, 60}));
  EXPECT_EQ(parse_surfaces_args({"--sets", "1,3"}).spec.sets, (std::vector<int>{1, 3}));
}

TEST(SurfacesCli, BadArgumentsExitTwoWithTheReason) {
  const std::vector<std::vector<std::string>> bad = {
      {"--names", "aaa,zzz"}, {"--names", "aaa,aaa"}, {"--tilts", "0,360"}, {"--tilts", "0,30,0"},
      {"--slants", "90"},     {"--size", "0"},        {"--size", "64x"},    {"--seed", "-1"},
      {"--sets", "0"},        {"--sets", "1,x"},      {"--root"},           {"--frobnicate"},
      {"--tilts", ""},        {"--help=yes"}};
  for (const auto& args : bad) {
    std::ostringstream out, err;
    EXPECT_EQ(generate_surfaces_main(args, out, err), 2) << args[0];
    EXPECT_EQ(err.str().rfind("generate_surfaces: ", 0), 0u) << err.str();
    EXPECT_NE(err.str().find("Usage:"), std::string::npos);
    EXPECT_TRUE(out.str().empty());
  }
  std::ostringstream out, err;
  EXPECT_EQ(generate_surfaces_main({"--help"}, out, err), 0);
  EXPECT_NE(out.str().find("Usage:"), std::string::npos);
  EXPECT_NE(out.str().find("adh"), std::string::npos);
}

TEST(SurfacesCli, WriteErrorExitsOneWithOneLine) {
  TempDir d;
  const fs::path blocker = d.path / "file";
  std::ofstream(blocker) << "x";
  std::ostringstream out, err;
  const int rc = generate_surfaces_main(
      {"--root", blocker.string(), "--names", "aaa", "--sets", "1", "--tilts", "0", "--size", "16"},
      out, err);
  EXPECT_EQ(rc, 1);
  const std::string e = err.str();
  // The reason is the last, single line.
  const std::string reason = "generate_surfaces: " + (blocker / "data" / "aaa" / "aaa0").string() +
                             ": cannot create the folder (Not a directory)\n";
  ASSERT_GE(e.size(), reason.size()) << e;
  EXPECT_EQ(e.substr(e.size() - reason.size()), reason);
}
