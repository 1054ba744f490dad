#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "data_error.h"
#include "filters.h"
#include "test_support.h"

namespace {

const char kTwoKernels[] =
    "Number of filters: 2\n"
    "Size: 3\n"
    "first\n"
    "1 2 3\n"
    "4 5 6\n"
    "7 8 9\n"
    "second  \n"
    "-1 0 1\n"
    "-2 0 2\n"
    "-1 0 1\n";

RunResult probe_bank(const TempDir& dir, const std::string& content) {
  write_file(dir / "filters.dat", content);
  return run({program("probe"), "filters", dir / "filters.dat"});
}

}  // namespace

TEST(Filters, Nominal) {
  TempDir dir;
  write_file(dir / "filters.dat", kTwoKernels);
  Filters bank((dir / "filters.dat").c_str());
  ASSERT_EQ(bank.F, 2u);
  ASSERT_EQ(bank.filters[0]->m, 3u);
  ASSERT_EQ(bank.filters[0]->n, 3u);
  EXPECT_EQ(bank.filters[0]->me[0][2], 3);
  EXPECT_EQ(bank.filters[0]->me[2][0], 7);
  EXPECT_EQ(bank.filters[1]->me[1][0], -2);
  EXPECT_STREQ(bank.names[0], "first\n");
  EXPECT_STREQ(bank.names[1], "second  \n");
}

TEST(Filters, BlankLinesAnywhereAndExtraTokensChangeNothing) {
  TempDir dir;
  write_file(dir / "filters.dat",
             "\n  \nNumber of filters: 2 kernels\n\t\nSize:3\n\nfirst\n1 2 3 99\n\n4 5 6\n7 8 9\n"
             "\n\nsecond  \n-1 0 1\n-2 0 2x\n-1 0 1");
  Filters bank((dir / "filters.dat").c_str());
  ASSERT_EQ(bank.F, 2u);
  EXPECT_EQ(bank.filters[0]->me[0][2], 3);
  EXPECT_EQ(bank.filters[1]->me[1][2], 2);
  EXPECT_EQ(bank.filters[1]->me[2][2], 1);  // last number with no line break after it
}

TEST(Filters, LongLinesAreReadWhole) {
  // A row line of several hundred characters stays one line.
  TempDir dir;
  std::string row;
  for (int j = 0; j < 40; j++) row += "0.1234567890123 ";
  std::string text = "F: 1\nM: 40\nwide kernel " + std::string(200, 'w') + "\n";
  for (int i = 0; i < 40; i++) text += row + "\n";
  write_file(dir / "filters.dat", text);
  Filters bank((dir / "filters.dat").c_str());
  EXPECT_EQ(bank.F, 1u);
  EXPECT_EQ(bank.filters[0]->me[39][39], 0.1234567890123);
  EXPECT_EQ(std::string(bank.names[0]).size(), 213u);
}

TEST(Filters, ErrorsAsAUserMeetsThem) {
  TempDir dir;
  RunResult missing = run({program("probe"), "filters", dir / "none.dat"});
  expect_data_error(missing, "No such file \"" + (dir / "none.dat") + "\"");
  const std::string early = "Your filters input file has ended prematurely!";
  expect_data_error(probe_bank(dir, ""), early);
  expect_data_error(probe_bank(dir, "Number: 2\n"), early);
  expect_data_error(probe_bank(dir, std::string(kTwoKernels).substr(0, 55)), early);
  const std::string scan = "Error in scanning vector lines!";
  expect_data_error(probe_bank(dir, "F: 1\nM: 3\nk\n1 2 3\n1 2\n1 2 3\n"), scan);
  expect_data_error(probe_bank(dir, "F: 1\nM: 2\nk\n1 x\n1 2\n"), scan);
  expect_data_error(probe_bank(dir, "F: 1\nM: 2\nk\n1 nan\n1 2\n"), scan);
  expect_data_error(probe_bank(dir, "F: 0\nM: 3\n"), "number of filters");
  // The header messages quote what the line held, not what it was read as.
  expect_data_error(probe_bank(dir, "no colon\nM: 3\n"),
                    "number of filters"
                    " must be a whole number from 1 to 2147483647 (the line has no colon)");
  expect_data_error(probe_bank(dir, "F: -4\nM: 3\n"), "(read '-4' after the colon)");
  expect_data_error(probe_bank(dir, "F: 1\nM: 0\n"), "kernel size");
  expect_data_error(probe_bank(dir, "F: 1\nM:  \n"),
                    "kernel size"
                    " must be a whole number from 1 to 2147483647 (nothing after the colon)");
  expect_data_error(probe_bank(dir, "F: 99999999999999\nM: 3\n"),
                    "(read '99999999999999' after the colon)");
  expect_data_error(probe_bank(dir, "F:\t\x01" + std::string(60, '9') + "\nM: 3\n"),
                    "(read '?" + std::string(39, '9') + "...' after the colon)");
  // A huge count in a small file is refused before anything is allocated.
  expect_data_error(probe_bank(dir, "F: 2000000000\nM: 2000\nk\n"), early);
  expect_data_error(probe_bank(dir, "F: 1\nM: 2\nzeros\n0 0\n0 0\n"), "cannot be normalised");
}

TEST(normalise, UnitSumOfSquares) {
  TempDir dir;
  write_file(dir / "filters.dat", "F: 2\nM: 2\na\n3 4\n0 0\nb\n2 2\n2 2\n");
  Filters bank((dir / "filters.dat").c_str());
  bank.normalise();
  EXPECT_DOUBLE_EQ(bank.filters[0]->me[0][0], 0.6);
  EXPECT_DOUBLE_EQ(bank.filters[0]->me[0][1], 0.8);
  EXPECT_EQ(bank.filters[0]->me[1][0], 0);
  for (int i = 0; i < 2; i++)
    for (int j = 0; j < 2; j++) EXPECT_DOUBLE_EQ(bank.filters[1]->me[i][j], 0.5);
}

TEST(normalise, TinyAndHugeKernelsReachUnitNorm) {
  // Squares of such coefficients leave the normal range; found by fuzzing.
  TempDir dir;
  for (const char* text :
       {"F: 1\nM: 1\nk\n3e-162\n", "F: 1\nM: 2\nk\n1e-160 0\n0 0\n",
        "F: 1\nM: 2\nk\n1e-300 -2e-300\n0 5e-301\n", "F: 1\nM: 2\nk\n1e200 3e200\n-1e200 0\n"}) {
    write_file(dir / "filters.dat", text);
    Filters bank((dir / "filters.dat").c_str());
    bank.normalise();
    double sum = 0;
    for (unsigned i = 0; i < bank.filters[0]->m; i++)
      for (unsigned j = 0; j < bank.filters[0]->n; j++) {
        ASSERT_TRUE(std::isfinite(bank.filters[0]->me[i][j]));
        sum += bank.filters[0]->me[i][j] * bank.filters[0]->me[i][j];
      }
    EXPECT_NEAR(sum, 1.0, 1e-15) << text;
  }
}

TEST(read_line, FirstMNumbersOfTokens) {
  VEC* v = v_get(3);
  EXPECT_TRUE(read_line(v, "  1.5x -2e1\t3.5e-2 77", 3));
  EXPECT_EQ(v->ve[0], 1.5);
  EXPECT_EQ(v->ve[1], -20);
  EXPECT_EQ(v->ve[2], 0.035);
  EXPECT_FALSE(read_line(v, "1 2", 3));
  EXPECT_FALSE(read_line(v, "1 two 3", 3));
  v_free(v);
  EXPECT_EQ(empty_line(" \t\r\n\v\f"), 1);
  EXPECT_EQ(empty_line(" x "), 0);
}
