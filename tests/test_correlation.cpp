// Tests of the direct correlation: what it computes, and that the fast
// version and the run-time choice of its path keep to the definition.
#include <gtest/gtest.h>

#include <cstdlib>
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

// ctest runs the kernel tests once as they are and once with
// TI_PORTABLE_KERNELS=1, so that both paths are met on an AVX2 processor.
TEST(have_avx2, FollowsTheProcessorUnlessThePortablePathIsForced) {
  const char* portable = std::getenv("TI_PORTABLE_KERNELS");
  const bool forced = portable && std::string(portable) == "1";
  EXPECT_EQ(have_avx2(), !forced && __builtin_cpu_supports("avx2"));
}
