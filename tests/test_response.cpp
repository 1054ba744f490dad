#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>

#include "correlation.h"
#include "data_error.h"
#include "matrix_multiple.h"
#include "response.h"
#include "test_support.h"

namespace {

MAT* random_matrix(unsigned rows, unsigned cols, unsigned seed) {
  std::mt19937 g(seed);
  std::uniform_real_distribution<double> u(-1, 1);
  MAT* m = m_get(rows, cols);
  for (unsigned i = 0; i < rows; i++)
    for (unsigned j = 0; j < cols; j++) m->me[i][j] = u(g);
  return m;
}

}  // namespace

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

// ctest runs the kernel tests once as they are and once with
// TI_PORTABLE_KERNELS=1, so that both paths are met on an AVX2 processor.
TEST(have_avx2, FollowsTheProcessorUnlessThePortablePathIsForced) {
  const char* portable = std::getenv("TI_PORTABLE_KERNELS");
  const bool forced = portable && std::string(portable) == "1";
  EXPECT_EQ(have_avx2(), !forced && __builtin_cpu_supports("avx2"));
}

TEST(image_response, FastEqualsPlainBitForBit) {
  // Kernel and image sizes that exercise every block and tail of the fast
  // kernels, and bank sizes of one group of four kernels or several (whose
  // sums run beside the next group's correlation), with and without the
  // kernels left over.
  TempDir dir;
  const struct { int M, F; } banks[] = {{3, 7}, {5, 4}, {7, 1}, {13, 9}, {15, 8}, {31, 6}};
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
    for (unsigned size : {M + 0u, M + 3u, M + 17u, 47u}) {
      MAT* image = random_matrix(size, size + 5, size);
      VEC* fast = image_response(&bank, image);
      VEC* plain = image_response_plain(&bank, image);
      for (unsigned k = 0; k < static_cast<unsigned>(F); k++) {
        ASSERT_EQ(std::memcmp(&fast->ve[k], &plain->ve[k], sizeof(double)), 0)
            << "M " << M << " size " << size << " filter " << k;
        const double single = variance_of_filtered_values(bank.filters[k], image);
        ASSERT_EQ(std::memcmp(&single, &plain->ve[k], sizeof(double)), 0);
      }
      std::vector<double> a((size - M + 1) * (size + 5 - M + 1)), b(a.size()), c(a.size());
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
