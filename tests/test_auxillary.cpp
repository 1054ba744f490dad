#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "auxillary.h"
#include "statistics.h"
#include "test_support.h"

namespace {

// Captures what a printing function writes.
template <typename Print>
std::string printed(Print print) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&buffer, &size);
  print(f);
  std::fclose(f);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

void expect_matrix(MAT* actual, const std::vector<std::vector<double>>& expected, double tol) {
  ASSERT_EQ(actual->m, expected.size());
  for (size_t i = 0; i < expected.size(); i++) {
    ASSERT_EQ(actual->n, expected[i].size());
    for (size_t j = 0; j < expected[i].size(); j++)
      EXPECT_NEAR(actual->me[i][j], expected[i][j], tol) << "at " << i << "," << j;
  }
}

}  // namespace

TEST(left_inverse, Nominal) {
  MAT* a = matrix({{1, 0}, {0, 1}, {0, 0}});
  MAT* b = left_inverse(a);
  expect_matrix(b, {{1, 0, 0}, {0, 1, 0}}, 1e-15);
  m_free(a);
  m_free(b);
  a = matrix({{1}, {1}});
  b = left_inverse(a);
  expect_matrix(b, {{0.5, 0.5}}, 1e-15);
  m_free(a);
  m_free(b);
}

TEST(right_inverse, Nominal) {
  MAT* a = matrix({{1, 1}});
  MAT* b = right_inverse(a);
  expect_matrix(b, {{0.5}, {0.5}}, 1e-15);
  m_free(a);
  m_free(b);
}

TEST(left_inverse, SquareEqualsOrdinaryInverse) {
  MAT* a = matrix({{2, 1, 0}, {1, 3, 1}, {0, 1, 4}});
  MAT* inverse = m_inverse(a, MNULL);
  MAT* l = left_inverse(a);
  MAT* r = right_inverse(a);
  for (unsigned i = 0; i < 3; i++)
    for (unsigned j = 0; j < 3; j++) {
      EXPECT_NEAR(l->me[i][j], inverse->me[i][j], 1e-12);
      EXPECT_NEAR(r->me[i][j], inverse->me[i][j], 1e-12);
    }
  m_free(a);
  m_free(inverse);
  m_free(l);
  m_free(r);
}

TEST(print_vector, Nominal) {
  VEC* v = vector({1, -0.5});
  EXPECT_EQ(printed([&](FILE* f) { print_vector(f, "Vector mu", v); }),
            "Vector mu\n1.000000   -0.500000   \n");
  v_free(v);
}

TEST(print_vector, SixDecimalsRoundAndKeepTheSign) {
  VEC* v = vector({-0.0000001, 0.0000004, 0.0000005000001, 12.5});
  EXPECT_EQ(printed([&](FILE* f) { print_vector(f, "v", v); }),
            "v\n-0.000000   0.000000   0.000001   12.500000   \n");
  v_free(v);
  VEC* empty = v_get(0);
  EXPECT_EQ(printed([&](FILE* f) { print_vector(f, "t", empty); }), "t\n\n");
  v_free(empty);
}

TEST(print_matrix, Nominal) {
  MAT* m = matrix({{1, 2}, {3, 4}});
  EXPECT_EQ(printed([&](FILE* f) { print_matrix(f, "Matrix P", m); }),
            "Matrix P\n1.000000   2.000000   \n3.000000   4.000000   \n");
  m_free(m);
}

TEST(print_LATEX_matrix, Nominal) {
  MAT* m = matrix({{1, 2.5}});
  EXPECT_EQ(printed([&](FILE* f) { print_LATEX_matrix(f, m); }),
            "\\begin{tabular}{ll}\n1.00&2.50\\\\\n\\end{tabular}\n\n");
  m_free(m);
}

TEST(bubble, Nominal) {
  VEC* v = vector({1, 3, 2});
  int a[3] = {0, 1, 2};
  bubble(v, a);
  EXPECT_EQ(v->ve[0], 3);
  EXPECT_EQ(v->ve[1], 2);
  EXPECT_EQ(v->ve[2], 1);
  EXPECT_EQ(a[0], 1);
  EXPECT_EQ(a[1], 2);
  EXPECT_EQ(a[2], 0);
  v_free(v);
}

TEST(bubble, EqualValuesKeepTheirOrder) {
  VEC* v = vector({2, 5, 2, 5});
  int a[4] = {0, 1, 2, 3};
  bubble(v, a);
  EXPECT_EQ(a[0], 1);
  EXPECT_EQ(a[1], 3);
  EXPECT_EQ(a[2], 0);
  EXPECT_EQ(a[3], 2);
  v_free(v);
}

TEST(bubble_single, OnePassMovesTheSmallestLast) {
  VEC* v = vector({1, 4, 3, 2});
  int a[4] = {0, 1, 2, 3};
  bubble_single(v, a);
  EXPECT_EQ(v->ve[3], 1);
  EXPECT_EQ(a[3], 0);
  v_free(v);
  VEC* one = vector({7});
  int b[1] = {9};
  bubble_single(one, b);
  EXPECT_EQ(one->ve[0], 7);
  EXPECT_EQ(b[0], 9);
  v_free(one);
}

TEST(statistics, PopulationStandardDeviation) {
  VEC* v = vector({1, 2, 3, 4});
  double mean, var;
  statistics(v, &mean, &var);
  EXPECT_DOUBLE_EQ(mean, 2.5);
  EXPECT_DOUBLE_EQ(var, std::sqrt(1.25));
  v_free(v);
  VEC* same = vector({3, 3, 3});
  statistics(same, &mean, &var);
  EXPECT_EQ(mean, 3);
  EXPECT_EQ(var, 0);
  v_free(same);
}
