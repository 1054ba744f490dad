// Tests of the filter-bank generator: kernel properties, the file format as
// the experiment programs read it, and the command line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "filter_bank.h"
#include "filters_cli.h"
#include "numeric.h"

namespace fs = std::filesystem;
using namespace gen;

namespace {

double dot(const Kernel& a, const Kernel& b) {
  double s = 0;
  for (std::size_t k = 0; k < a.w.size(); ++k) s += a.w[k] * b.w[k];
  return s;
}

double sum(const Kernel& k) {
  double s = 0;
  for (double x : k.w) s += x;
  return s;
}

std::vector<Kernel> bank(const std::string& name) {
  BankParams p;
  p.bank = name;
  std::string why;
  auto b = build_bank(p, &why);
  EXPECT_FALSE(b.empty()) << why;
  return b;
}

bool promised_zero_mean(const Kernel& k) {
  return k.name.rfind("gaussian sigma", 0) != 0 && k.name != "laws L5 down x L5 across";
}

// Response of kernel k at the centre of the stripe image
// cos(2 pi (x cos a + y sin a) / period + phase).
double stripe_response(const Kernel& k, double a_deg, double period, double phase) {
  const double c = 0.5 * (k.size - 1), ca = std::cos(deg_to_rad(a_deg)),
               sa = std::sin(deg_to_rad(a_deg));
  double r = 0;
  for (int i = 0; i < k.size; ++i)
    for (int j = 0; j < k.size; ++j)
      r += k.at(i, j) * std::cos(2 * kPi * ((j - c) * ca + (i - c) * sa) / period + phase);
  return r;
}

// Largest response over stripe phases (phase-independent amplitude).
double stripe_amplitude(const Kernel& k, double a_deg, double period) {
  const double r0 = stripe_response(k, a_deg, period, 0.0);
  const double r1 = stripe_response(k, a_deg, period, kPi / 2);
  return std::hypot(r0, r1);
}

// The orientation (of 0, 15, ..., 165) whose stripes excite k the most.
double preferred_orientation(const Kernel& k, double period) {
  double best = -1, best_a = -1;
  for (int a = 0; a < 180; a += 15) {
    const double r = stripe_amplitude(k, a, period);
    if (r > best) {
      best = r;
      best_a = a;
    }
  }
  return best_a;
}

}  // namespace

TEST(Banks, SizesCountsAndNames) {
  struct Expect {
    const char* bank;
    std::size_t count;
    int size;
  };
  for (const Expect& e : {Expect{"default", 16, 15}, Expect{"gabor", 16, 25}, Expect{"lm", 45, 45},
                          Expect{"schmid", 13, 51}, Expect{"laws", 25, 5}}) {
    const auto b = bank(e.bank);
    EXPECT_EQ(b.size(), e.count) << e.bank;
    for (const auto& k : b) {
      EXPECT_EQ(k.size, e.size) << k.name;
      EXPECT_EQ(k.w.size(), static_cast<std::size_t>(e.size * e.size));
      EXPECT_FALSE(k.name.empty());
      EXPECT_EQ(k.name.find('\n'), std::string::npos);
      EXPECT_NE(k.name.find_first_not_of(' '), std::string::npos);
    }
    for (std::size_t a = 0; a < b.size(); ++a)
      for (std::size_t c = a + 1; c < b.size(); ++c) EXPECT_NE(b[a].name, b[c].name) << e.bank;
  }
}

TEST(Banks, ZeroMeanWherePromisedAndNoTwoKernelsAlike) {
  for (const auto& name : bank_names()) {
    const auto b = bank(name);
    for (const auto& k : b) {
      const double norm = std::sqrt(dot(k, k));
      ASSERT_GT(norm, 0.0) << k.name;
      if (promised_zero_mean(k))
        EXPECT_NEAR(sum(k) / norm, 0.0, 1e-10) << k.name;
      else
        EXPECT_GT(sum(k) / norm, 1.0) << k.name;
    }
    // After the reader's unit normalisation no kernel may duplicate another
    // (up to sign): each must add something.
    for (std::size_t a = 0; a < b.size(); ++a)
      for (std::size_t c = a + 1; c < b.size(); ++c) {
        const double cosine = dot(b[a], b[c]) / std::sqrt(dot(b[a], b[a]) * dot(b[c], b[c]));
        EXPECT_LT(std::fabs(cosine), 0.99) << b[a].name << " / " << b[c].name;
      }
  }
}

TEST(Kernels, OrientedKernelsPreferStripesOfTheirOrientation) {
  for (double o : {0.0, 45.0, 90.0, 135.0, 30.0}) {
    EXPECT_EQ(preferred_orientation(gabor_kernel(25, 6, 3.4, o, false), 6), o);
    EXPECT_EQ(preferred_orientation(gabor_kernel(25, 6, 3.4, o, true), 6), o);
    EXPECT_EQ(preferred_orientation(gaussian_derivative_kernel(25, 2, 3, o, 1), 12), o);
    EXPECT_EQ(preferred_orientation(gaussian_derivative_kernel(25, 2, 3, o, 2), 9), o);
  }
  // Orientation 0 means vertical stripes: intensity changing left to right.
  const Kernel d = gaussian_derivative_kernel(9, 1.5, 1, 0, 1);
  EXPECT_NEAR(d.at(4, 2), -d.at(4, 6), 1e-12);
  EXPECT_NEAR(d.at(2, 4), 0.0, 1e-12);
  // Even and odd Gabor kernels form a quadrature pair: similar amplitude.
  const double even = stripe_amplitude(gabor_kernel(25, 6, 3.4, 0, false), 0, 6);
  const double odd = stripe_amplitude(gabor_kernel(25, 6, 3.4, 0, true), 0, 6);
  EXPECT_NEAR(even / odd, 1.0, 0.05);
}

TEST(Kernels, RotationInvariantKernelsHaveNoPreference) {
  const auto b = bank("schmid");
  const int m = b[0].size;
  for (const auto& k : b) {
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < m; ++j) {
        ASSERT_DOUBLE_EQ(k.at(i, j), k.at(j, i)) << k.name;
        ASSERT_DOUBLE_EQ(k.at(i, j), k.at(i, m - 1 - j)) << k.name;
      }
  }
  // At its pass-band period 2 sigma / tau a kernel sees stripes of any
  // orientation alike (up to grid sampling).
  const Kernel& k = b[8];  // schmid sigma 8 tau 3
  ASSERT_EQ(k.name, "schmid sigma 8 tau 3");
  const double period = 2.0 * 8 / 3;
  const double r0 = stripe_amplitude(k, 0, period);
  for (double a : {15.0, 30.0, 45.0, 70.0})
    EXPECT_NEAR(stripe_amplitude(k, a, period) / r0, 1.0, 0.1);
}

TEST(Kernels, LawsMasksAreOuterProducts) {
  const Kernel k = laws_kernel(7, "E5", "S5");
  const double e5[] = {-1, -2, 0, 2, 1}, s5[] = {-1, 0, 2, 0, -1};
  for (int i = 0; i < 7; ++i)
    for (int j = 0; j < 7; ++j) {
      const bool inside = i >= 1 && i <= 5 && j >= 1 && j <= 5;
      EXPECT_EQ(k.at(i, j), inside ? e5[i - 1] * s5[j - 1] : 0.0);
    }
  EXPECT_THROW(laws_kernel(5, "Q5", "L5"), std::invalid_argument);
}

TEST(BankFile, ParsesBackExactlyAsWritten) {
  const auto b = bank("default");
  const std::string text = format_bank(b);
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "Number of filters: 16");
  std::getline(in, line);
  EXPECT_EQ(line, "Size: 15");
  for (const auto& k : b) {
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, k.name);
    for (int i = 0; i < k.size; ++i) {
      ASSERT_TRUE(std::getline(in, line));
      EXPECT_EQ(line.find("  "), std::string::npos);
      EXPECT_NE(line.front(), ' ');
      EXPECT_NE(line.back(), ' ');
      const char* p = line.c_str();
      for (int j = 0; j < k.size; ++j) {
        char* end = nullptr;
        const double v = std::strtod(p, &end);
        ASSERT_NE(end, p) << "row " << i << " of " << k.name;
        EXPECT_NEAR(v, k.at(i, j), 1e-9 * std::fabs(k.at(i, j)) + 1e-300);
        p = end;
      }
      EXPECT_EQ(*p, '\0');
    }
  }
  EXPECT_FALSE(std::getline(in, line));
}

TEST(BankParams, ScalesOrientationsAndSizeAreHonoured) {
  BankParams p;
  p.bank = "gabor";
  p.scales = {3, 5, 7};
  p.orientations = 6;
  p.size = 21;
  std::string why;
  auto b = build_bank(p, &why);
  ASSERT_EQ(b.size(), 3u * 6u * 2u);
  EXPECT_EQ(b[0].size, 21);
  EXPECT_EQ(b[0].name, "gabor wavelength 3 sigma 1.68 orient 0 even");
  EXPECT_EQ(b[3].name, "gabor wavelength 3 sigma 1.68 orient 30 odd");
  p.bank = "lm";
  p.scales = {1, 2};
  p.orientations = 4;
  p.size = 0;
  b = build_bank(p, &why);
  EXPECT_EQ(b.size(), 2u * 2u * 4u + 2u + 2u + 2u);
  EXPECT_EQ(b[0].size, 2 * 15 + 1);  // 2.5 x the 6-pixel long axis, each side
}

namespace {

int run(const std::vector<std::string>& args, std::string* err_text = nullptr) {
  std::ostringstream out, err;
  const int rc = generate_filters_main(args, out, err);
  if (err_text) *err_text = err.str();
  return rc;
}

}  // namespace

TEST(FiltersCli, BadArgumentsExitTwoWithTheReason) {
  const std::vector<std::vector<std::string>> bad = {
      {"--bank", "nope"},
      {"--size", "8"},
      {"--size", "1"},
      {"--bank", "schmid", "--scales", "2"},
      {"--bank", "laws", "--orientations", "4"},
      {"--bank", "laws", "--size", "3"},
      {"--scales", "2,x"},
      {"--bank", "gabor", "--scales", "1"},
      {"--orientations", "0"},
      {"--bank", "gabor", "--scales", "2", "--size", "3"},  // odd kernel samples to zero
      {"--bank", "lm", "--scales", "40"},
      {"--output"},
      {"--output="},
      {"--list-banks=x"},
      {"extra"}};
  for (const auto& args : bad) {
    std::string err;
    EXPECT_EQ(run(args, &err), 2) << args[0];
    EXPECT_EQ(err.rfind("generate_filters: ", 0), 0u) << err;
    EXPECT_NE(err.find("Usage:"), std::string::npos);
  }
  std::ostringstream out, err;
  EXPECT_EQ(generate_filters_main({"--help"}, out, err), 0);
  EXPECT_NE(out.str().find("Usage:"), std::string::npos);

  // scripts/run_experiments checks --bank against this list: every name on it
  // must build, and it must name them all.
  std::ostringstream list, list_err;
  EXPECT_EQ(generate_filters_main({"--list-banks"}, list, list_err), 0);
  std::istringstream names(list.str());
  std::size_t count = 0;
  for (std::string name; std::getline(names, name); ++count) {
    BankParams p;
    p.bank = name;
    std::string why;
    EXPECT_FALSE(build_bank(p, &why).empty()) << name << ": " << why;
  }
  EXPECT_EQ(count, bank_names().size());
  EXPECT_EQ(list_err.str(), "");
}

TEST(FiltersCli, WritesAtomicallyAndReportsWriteErrors) {
  std::string t = (fs::temp_directory_path() / "gen_filters_XXXXXX").string();
  const fs::path dir = ::mkdtemp(t.data());
  const fs::path out = dir / "bank.dat";
  EXPECT_EQ(run({"--bank", "laws", "--output", out.string()}), 0);
  std::ifstream f(out);
  std::string first;
  std::getline(f, first);
  EXPECT_EQ(first, "Number of filters: 25");
  int entries = 0;
  for (const auto& e : fs::directory_iterator(dir)) {
    ++entries;
    (void)e;
  }
  EXPECT_EQ(entries, 1);  // no temporary file left behind

  std::string err;
  EXPECT_EQ(run({"--output", (dir / "missing" / "bank.dat").string()}, &err), 1);
  EXPECT_EQ(err, "generate_filters: " + (dir / "missing" / "bank.dat").string() +
                     ": cannot write the file (No such file or directory)\n");
  EXPECT_EQ(err.find('\n'), err.size() - 1);
  fs::remove_all(dir);
}
