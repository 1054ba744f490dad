#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <string>

#include "data_error.h"
#include "surface.h"
#include "test_support.h"

namespace {

std::string message_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const DataError& e) {
    return e.what();
  }
  return "(no error)";
}

RunResult probe_pgm(const TempDir& dir, const std::string& content) {
  write_file(dir / "image.pgm", content);
  return run({program("probe"), "pgm", dir / "image.pgm"});
}

}  // namespace

TEST(image_path, Nominal) {
  char path[kPathBytes];
  ASSERT_TRUE(image_path("aaa", 1, 45, 30, path));
  EXPECT_STREQ(path, "../../../data/aaa/aaa1/aaa_45_30.pgm");
}

TEST(image_path, RefusesPathsBeyondTheLimit) {
  char path[kPathBytes];
  // The path has 27 + 3 n characters for a name of n: n = 17 gives 78.
  EXPECT_TRUE(image_path(std::string(17, 'x').c_str(), 1, 45, 30, path));
  EXPECT_EQ(std::string(path).size(), 78u);
  EXPECT_FALSE(image_path(std::string(19, 'x').c_str(), 1, 45, 30, path));
}

TEST(Surface, ConstructionChecksEveryImageAndNamesTheFirstMissing) {
  TempDir dir;
  Workspace w = make_workspace(dir.path(), {"aaa"}, {0}, 2, 8, 0);
  u_int s[1] = {45};
  u_int t[12] = {0, 30, 60, 90, 120, 150, 180, 210, 240, 270, 300, 330};
  InDirectory here(w.work);
  EXPECT_EQ(message_of([&] { Surface surface(2, 1, s, 12, t, "aaa"); }), "(no error)");
  ASSERT_EQ(unlink("../../../data/aaa/aaa0/aaa_45_330.pgm"), 0);
  ASSERT_EQ(unlink("../../../data/aaa/aaa1/aaa_45_0.pgm"), 0);
  EXPECT_EQ(message_of([&] { Surface surface(2, 1, s, 12, t, "aaa"); }),
            "There is no such file: ../../../data/aaa/aaa0/aaa_45_330.pgm\n");
}

TEST(Surface, RefusesANameThatDoesNotFit) {
  u_int s[1] = {45};
  u_int t[1] = {0};
  std::string name(80, 'n');
  EXPECT_NE(message_of([&] { Surface surface(1, 1, s, 1, t, name.c_str()); }).find("too long"),
            std::string::npos);
  std::string path_too_long(30, 'n');
  EXPECT_NE(
      message_of([&] { Surface surface(1, 1, s, 1, t, path_too_long.c_str()); }).find("too long"),
      std::string::npos);
}

TEST(Surface, ReadImageRowsFromTheTop) {
  TempDir dir;
  Workspace w = make_workspace(dir.path(), {"abc"}, {0}, 1, 4, 0);
  write_pgm(dir / "data/abc/abc0/abc_45_0.pgm", 3, 2, {1, 2, 3, 4, 5, 255});
  u_int s[1] = {45};
  u_int t[1] = {0};
  InDirectory here(w.work);
  Surface surface(1, 1, s, 1, t, "abc");
  int m, n;
  FILE* f = surface.open_image(0, 0, 0, &m, &n);
  std::fclose(f);
  EXPECT_EQ(m, 2);
  EXPECT_EQ(n, 3);
  MAT* image = surface.read_image(0, 0, 0);
  ASSERT_EQ(image->m, 2u);
  ASSERT_EQ(image->n, 3u);
  EXPECT_EQ(image->me[0][0], 1);
  EXPECT_EQ(image->me[0][2], 3);
  EXPECT_EQ(image->me[1][0], 4);
  EXPECT_EQ(image->me[1][2], 255);
  m_free(image);
}

TEST(skip_pgm_header, CommentsAndMaximumValueChangeNothing) {
  TempDir dir;
  const std::string raster = std::string("\x01\x02\x03\xff\x00\x07", 6);
  RunResult plain = probe_pgm(dir, "P5\n3 2\n255\n" + raster);
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.out, "3 2 268\n");
  RunResult commented =
      probe_pgm(dir, "P5\n# one\n#" + std::string(5000, 'c') + "\n3 2\n100\n" + raster);
  EXPECT_EQ(commented.status, 0) << commented.err;
  EXPECT_EQ(commented.out, plain.out) << commented.err;
  RunResult extra = probe_pgm(dir, "P5\n3 2 trailing words\n255\n" + raster + "more bytes");
  EXPECT_EQ(extra.status, 0) << extra.err;
  EXPECT_EQ(extra.out, plain.out) << extra.err;
}

TEST(skip_pgm_header, MalformedHeadersAreWrongFormat) {
  TempDir dir;
  const std::string wrong = "Error: reading a file: wrong format";
  const std::string raster(6, '\x01');
  expect_data_error(probe_pgm(dir, "P5\n3\n255\n" + raster), wrong);
  expect_data_error(probe_pgm(dir, "P2\n3 2\n255\n" + raster), wrong);
  expect_data_error(probe_pgm(dir, "P5\n3 2\n256\n" + raster), wrong);
  expect_data_error(probe_pgm(dir, "P5\n3 2\n0\n" + raster), wrong);
  expect_data_error(probe_pgm(dir, "P5\n3 2\n25x\n" + raster), wrong);
  expect_data_error(probe_pgm(dir, "P5\n0 2\n255\n"), wrong);
  expect_data_error(probe_pgm(dir, "P5\n-3 2\n255\n"), wrong);
  expect_data_error(probe_pgm(dir, "P5\n99999999999 2\n255\n"), wrong);
  expect_data_error(probe_pgm(dir, "P5\n# only a comment\n"), wrong);
  expect_data_error(probe_pgm(dir, "P5\n3 2\n"), wrong);
  expect_data_error(probe_pgm(dir, ""), wrong);
  expect_data_error(probe_pgm(dir, std::string(3000, '\0')), wrong);
}

TEST(read_pgm_raster, ShortRasterIsAnError) {
  TempDir dir;
  expect_data_error(probe_pgm(dir, "P5\n3 2\n255\n" + std::string(5, '\x01')),
                    "Error: converting image into matrix");
  // A huge size in a small file is refused before anything is allocated.
  expect_data_error(probe_pgm(dir, "P5\n30000 30000\n255\nxx"),
                    "Error: converting image into matrix");
}

TEST(skip_pgm_header, MissingFile) {
  TempDir dir;
  RunResult r = run({program("probe"), "pgm", dir / "nothing.pgm"});
  expect_data_error(r, "There is no such file: " + (dir / "nothing.pgm"));
}

TEST(make_illuminant, UnitVectorsOfTiltAndSlant) {
  VEC* up = make_illuminant(0, 0);
  EXPECT_EQ(up->ve[0], 0);
  EXPECT_EQ(up->ve[1], 0);
  EXPECT_EQ(up->ve[2], 1);
  v_free(up);
  VEC* v = make_illuminant(0, 45);
  EXPECT_DOUBLE_EQ(v->ve[0], std::sqrt(0.5));
  EXPECT_EQ(v->ve[1], 0);
  EXPECT_DOUBLE_EQ(v->ve[2], std::sqrt(0.5));
  v_free(v);
  for (int tilt = 0; tilt < 360; tilt += 30) {
    VEC* l = make_illuminant(tilt, 45);
    EXPECT_NEAR(l->ve[0] * l->ve[0] + l->ve[1] * l->ve[1] + l->ve[2] * l->ve[2], 1, 1e-15);
    v_free(l);
  }
}

TEST(Surface, IlluminantOfTiltIndex3IsTilt90) {
  TempDir dir;
  Workspace w = make_workspace(dir.path(), {"aaa"}, {0}, 1, 4, 0);
  u_int s[1] = {45};
  u_int t[12] = {0, 30, 60, 90, 120, 150, 180, 210, 240, 270, 300, 330};
  InDirectory here(w.work);
  Surface surface(1, 1, s, 12, t, "aaa");
  VEC* l = surface.illuminant(0, 3);
  EXPECT_NEAR(l->ve[0], 0, 1e-16);
  EXPECT_DOUBLE_EQ(l->ve[1], std::sqrt(0.5));
  EXPECT_DOUBLE_EQ(l->ve[2], std::sqrt(0.5));
  v_free(l);
}
