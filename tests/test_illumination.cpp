#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "class_surface.h"
#include "illumination.h"
#include "test_support.h"

namespace {

const double kPi = 3.141592653589793;

// The programs' array of 21000 sampled light vectors.
struct Samples {
  Samples()
      : K(21000),
        L(vector_array(0, 6.283185307179586, 120, 0.5235987755982988, 1.1344640137963142, 35, 0.8,
                       1.3, 5)) {}
  ~Samples() {
    for (u_int k = 0; k < K; k++) v_free(L[k]);
    delete[] L;
  }
  u_int K;
  VEC** L;
};

// An anisotropic model with cross terms, mu = 0 and sigma = 1.
struct Model {
  Model()
      : Phi(matrix({{3, 0.5, 0.4, 1, -0.2, 0.6},
                    {1, -0.8, 0.1, 2.5, 0.3, 0.2},
                    {0.5, 0.2, -0.5, 0.7, 0.6, 1.5},
                    {2, 1, 0, 2, 0, 0.1}})),
        mu(v_get(4)),
        sigma(v_get(4)) {
    v_ones(sigma);
  }
  ~Model() {
    m_free(Phi);
    v_free(mu);
    v_free(sigma);
  }
  MAT* Phi;
  VEC* mu;
  VEC* sigma;
};

}  // namespace

TEST(angular_error, Nominal) {
  VEC* x = vector({1, 0, 0});
  VEC* mx = vector({-1, 0, 0});
  VEC* y = vector({0, 1, 0});
  VEC* x2 = vector({2, 0, 0});
  EXPECT_EQ(angular_error(x, x), 0);
  EXPECT_EQ(angular_error(x, mx), 180);
  EXPECT_EQ(angular_error(x, y), 90);
  EXPECT_EQ(angular_error(x, x2), 0);
  for (VEC* v : {x, mx, y, x2}) v_free(v);
}

TEST(angular_error, ParallelVectorsNeverGiveNotANumber) {
  // The quotient of a vector with itself rounds above 1 for many vectors;
  // clamped, it gives exactly 0 degrees.
  Samples s;
  for (u_int k = 0; k < s.K; k += 7) {
    const double a = angular_error(s.L[k], s.L[k]);
    ASSERT_FALSE(std::isnan(a)) << k;
    ASSERT_LT(a, 1e-5) << k;
  }
  VEC* zero = v_get(3);
  EXPECT_TRUE(std::isnan(angular_error(zero, s.L[0])));
  v_free(zero);
}

TEST(angular_azimuth_error, IgnoresHeight) {
  VEC* a = vector({1, 0, 5});
  VEC* b = vector({0, 1, -3});
  VEC* c = vector({-2, 0, 1});
  EXPECT_EQ(angular_azimuth_error(a, b), 90);
  EXPECT_EQ(angular_azimuth_error(a, c), 180);
  for (VEC* v : {a, b, c}) v_free(v);
}

TEST(v_proporion_of_smaller_values, StrictlySmaller) {
  VEC* v = vector({1, 2, 3, 4});
  EXPECT_EQ(v_proporion_of_smaller_values(v, 3), 0.5);
  EXPECT_EQ(v_proporion_of_smaller_values(v, 1), 0);
  EXPECT_EQ(v_proporion_of_smaller_values(v, 5), 1);
  EXPECT_EQ(v_proporion_of_smaller_values(v, NAN), 0);
  v_free(v);
}

TEST(ratio_of_values, PositionInTheRange) {
  VEC* v = vector({1, 2, 3, 4});
  EXPECT_EQ(ratio_of_values(v, 2.5), 0.5);
  EXPECT_EQ(ratio_of_values(v, 1), 0);
  EXPECT_EQ(ratio_of_values(v, 4), 1);
  EXPECT_EQ(ratio_of_values(v, 7), 2);
  EXPECT_DOUBLE_EQ(ratio_of_values(v, 0), 1.0 / 3);
  v_free(v);
}

TEST(best_fit_illumination, FindsTheSampleThatProducedTheResponse) {
  Samples s;
  Model model;
  for (u_int truth : {0u, 175u, 4321u, 20999u}) {
    VEC* D = feature_vector(model.Phi, s.L[truth]);
    VEC* best = best_fit_illumination(s.L, s.K, D, model.Phi, model.mu, model.sigma);
    EXPECT_EQ(delta(D, best, model.Phi, model.mu, model.sigma), 0);
    EXPECT_LT(angular_error(best, s.L[truth]), 1e-5) << truth;
    double ratio = -1;
    EXPECT_EQ(proporion_of_smaller_values(s.L[truth], s.L, s.K, D, model.Phi, model.mu, model.sigma,
                                          &ratio),
              0);
    EXPECT_EQ(ratio, 0);
    v_free(D);
  }
}

TEST(best_fit_illumination, TiesGoToTheLowerIndex) {
  Samples s;
  Model model;
  // L and -L predict the same responses: a space holding both returns the first.
  VEC* pair[2] = {vector({0.3, 0.4, 0.5}), vector({-0.3, -0.4, -0.5})};
  VEC* D = feature_vector(model.Phi, pair[1]);
  EXPECT_EQ(best_fit_illumination(pair, 2, D, model.Phi, model.mu, model.sigma), pair[0]);
  VEC* diff = difference_illumination_response(pair, 2, D, model.Phi, model.mu, model.sigma);
  EXPECT_EQ(diff->ve[0], diff->ve[1]);
  for (VEC* v : {pair[0], pair[1], D, diff}) v_free(v);
}

TEST(proporion_of_smaller_values, ShareOfBetterSamples) {
  Samples s;
  Model model;
  VEC* D = feature_vector(model.Phi, s.L[1000]);
  VEC* far = ill_vector(kPi, 0.6, 1.1);
  VEC* diff = difference_illumination_response(s.L, s.K, D, model.Phi, model.mu, model.sigma);
  const double d = delta(D, far, model.Phi, model.mu, model.sigma);
  double ratio;
  const double share =
      proporion_of_smaller_values(far, s.L, s.K, D, model.Phi, model.mu, model.sigma, &ratio);
  EXPECT_EQ(share, v_proporion_of_smaller_values(diff, d));
  EXPECT_EQ(ratio, ratio_of_values(diff, d));
  EXPECT_GT(share, 0);
  EXPECT_LT(share, 1);
  for (VEC* v : {D, far, diff}) v_free(v);
}

TEST(difference_illumination_response, EqualsDeltaBitForBit) {
  Samples s;
  Model model;
  model.mu->ve[1] = 0.25;
  model.sigma->ve[2] = 0.3;
  VEC* D = vector({1.5, 0.7, 2.2, 0.1});
  VEC* diff = difference_illumination_response(s.L, s.K, D, model.Phi, model.mu, model.sigma);
  for (u_int k = 0; k < s.K; k++) {
    const double expected = delta(D, s.L[k], model.Phi, model.mu, model.sigma);
    ASSERT_EQ(std::memcmp(&diff->ve[k], &expected, sizeof expected), 0) << k;
  }
  v_free(D);
  v_free(diff);
}
