// Tests of the direct correlation: what it computes, and that the fast
// version and the run-time choice of its path keep to the definition.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "correlation.h"
#include "matrix_multiple.h"  // single_filtered_value, the definition
#include "test_support.h"

TEST(single_filtered_value, CorrelationNotConvolution) {
  MAT* kernel = matrix({{1, 2}, {3, 4}});
  MAT* image = matrix({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
  EXPECT_EQ(single_filtered_value(kernel, image, 0, 0), 37);
  EXPECT_EQ(single_filtered_value(kernel, image, 1, 1), 77);
  m_free(kernel);
  m_free(image);
}

TEST(correlate, EqualsSingleFilteredValueBitForBit) {
  MAT* kernel = random_matrix(5, 4, 1);
  MAT* image = random_matrix(17, 23, 2);
  std::vector<double> out(13 * 20);
  correlate(kernel, image, out.data());
  for (int i = 0; i < 13; i++)
    for (int j = 0; j < 20; j++)
      ASSERT_EQ(out[i * 20 + j], single_filtered_value(kernel, image, i, j)) << i << "," << j;
  m_free(kernel);
  m_free(image);
}

// ctest runs the kernel tests once per kernel path this processor has
// (tests/CMakeLists.txt), each run naming its path in
// TI_EXPECTED_KERNEL_PATH: the process must be on that path, or the run
// would test another one unseen.
TEST(kernel_path, IsThePathThisRunAsksFor) {
  const char* expected = std::getenv("TI_EXPECTED_KERNEL_PATH");
  if (!expected) GTEST_SKIP() << "run outside ctest: no path asked for";
  EXPECT_STREQ(kernel_path_name(kernel_path()), expected);
  EXPECT_EQ(have_avx2(), kernel_path() != KernelPath::kPortable);
  EXPECT_EQ(have_wide_kernels(),
            kernel_path() == KernelPath::kAvx512 || kernel_path() == KernelPath::kAvx512Emulated);
}

// The choice from the environment and the processor, refusals included.
TEST(choose_kernel_path, FromTheEnvironmentAndTheProcessor) {
  using P = KernelPath;
  const struct {
    const char *kernels, *portable;
    bool avx2, avx512f;
    P path;            // when chosen
    const char* says;  // the refusal, or null
  } cases[] = {
      {nullptr, nullptr, true, true, P::kAvx512, nullptr},
      {nullptr, nullptr, true, false, P::kAvx2, nullptr},
      {nullptr, nullptr, false, false, P::kPortable, nullptr},
      {"", nullptr, true, true, P::kAvx512, nullptr},
      {nullptr, "1", true, true, P::kPortable, nullptr},
      {nullptr, "0", true, false, P::kAvx2, nullptr},
      {"avx2", "1", true, true, P::kAvx2, nullptr},  // TI_KERNELS wins
      {"portable", nullptr, true, true, P::kPortable, nullptr},
      {"avx2", nullptr, true, true, P::kAvx2, nullptr},
      {"avx512-emulated", nullptr, true, false, P::kAvx512Emulated, nullptr},
      {"avx512", nullptr, true, true, P::kAvx512, nullptr},
      {"avx512", nullptr, true, false, P::kPortable,
       "TI_KERNELS=avx512: this processor has no AVX-512F (avx512f)"},
      {"avx512-emulated", nullptr, false, false, P::kPortable,
       "TI_KERNELS=avx512-emulated: this processor has no AVX2 (avx2)"},
      {"avx2", nullptr, false, false, P::kPortable,
       "TI_KERNELS=avx2: this processor has no AVX2 (avx2)"},
      {"AVX2", nullptr, true, true, P::kPortable,
       "TI_KERNELS=AVX2: not a kernel path (portable, avx2, avx512, avx512-emulated)"},
  };
  for (const auto& c : cases) {
    KernelPath path = KernelPath::kPortable;
    std::string error;
    const bool chosen = choose_kernel_path(c.kernels, c.portable, c.avx2, c.avx512f, &path, &error);
    SCOPED_TRACE(std::string(c.kernels ? c.kernels : "(unset)") + " " +
                 (c.portable ? c.portable : "(unset)"));
    EXPECT_EQ(chosen, c.says == nullptr);
    if (c.says)
      EXPECT_EQ(error, c.says);
    else
      EXPECT_STREQ(kernel_path_name(path), kernel_path_name(c.path));
  }
}

// The second pass summed in runs must give the bits of the additions one at
// a time for any data: the table holds sums that stay in a binade, cross
// many, meet halfway terms, start or stay at zero, overflow and are not
// numbers, at lengths around the run and vector widths.
TEST(deviation_sum_avx2, EqualsTheAdditionsInOrder) {
  if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2 on this processor";
  auto in_order = [](const std::vector<double>& r, double mean, double acc) {
    for (double x : r) {
      const double d = x - mean;
      acc = acc + d * d;
    }
    return acc;
  };
  auto mean_of = [](const std::vector<double>& r) {
    double sum = 0.0;
    for (double x : r) sum += x;
    return r.empty() ? 0.0 : sum / static_cast<double>(r.size());
  };
  std::mt19937_64 rng(7);
  std::normal_distribution<double> normal(3.0, 2.0);
  std::uniform_int_distribution<int> byte(0, 255);
  struct Case {
    std::string name;
    std::vector<double> r;
    double mean, acc;
  };
  std::vector<Case> cases;
  for (size_t n : {0, 1, 3, 4, 63, 64, 65, 130, 1000, 4099}) {
    std::vector<double> r(n);
    for (double& x : r) x = normal(rng);
    cases.push_back({"normal " + std::to_string(n), r, mean_of(r), 0.0});
  }
  {
    // Whole-number pixels, as from 8-bit images: many exact terms.
    std::vector<double> r(5000);
    for (double& x : r) x = byte(rng);
    cases.push_back({"bytes", r, mean_of(r), 0.0});
    cases.push_back({"bytes, whole mean", r, 128.0, 0.0});
  }
  // From 2^51 the unit is 1/2 and 1.5^2 = 2.25 is 4.5 units: every term is
  // halfway, and rounding to even depends on the sum's last bit.
  cases.push_back({"halfway terms", std::vector<double>(300, 1.5), 0.0, 2251799813685248.0});
  {
    std::vector<double> r(2000, 1.0);
    for (size_t p = 5; p < r.size(); p += 37 * (p % 5 + 1)) r[p] = 1.5;
    cases.push_back({"a halfway term now and then", r, 0.0, 2251799813685248.0});
  }
  {
    std::vector<double> r(400);
    for (size_t p = 0; p < r.size(); p++)
      r[p] = std::ldexp(1.0 + p % 7 * 0.1, static_cast<int>(p / 4));
    cases.push_back({"growing terms, a binade every few", r, 0.0, 0.0});
  }
  cases.push_back({"equal values", std::vector<double>(200, 4.25), 4.25, 0.0});
  cases.push_back({"tiny values", std::vector<double>(200, 1e-160), 0.0, 0.0});
  cases.push_back({"from a tiny sum", std::vector<double>(200, 1e-150), 0.0, 1e-300});
  {
    std::vector<double> r(200, 1e153);
    cases.push_back({"overflow", r, 0.0, 0.0});
  }
  {
    std::vector<double> r(200);
    for (double& x : r) x = normal(rng);
    r[101] = std::nan("");
    cases.push_back({"a value not a number", r, 0.0, 0.0});
  }
  {
    std::vector<double> r(300);
    for (double& x : r) x = normal(rng);
    cases.push_back({"from a large sum", r, 0.5, 1e12});
  }
  for (const Case& c : cases) {
    const double want = in_order(c.r, c.mean, c.acc);
    const double got = deviation_sum_avx2(c.r.data(), c.r.size(), c.mean, c.acc);
    if (std::isnan(want))
      EXPECT_TRUE(std::isnan(got)) << c.name;
    else
      EXPECT_EQ(std::memcmp(&want, &got, sizeof want), 0)
          << c.name << ": " << want << " in order, " << got << " in runs";
  }
}
