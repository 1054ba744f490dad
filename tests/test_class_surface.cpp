#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "class_surface.h"
#include "filters.h"
#include "test_support.h"

namespace {

const double kPi = 3.141592653589793;

// A bank of F kernels (the model reader needs only their count).
Filters* bank_of(unsigned F, const TempDir& dir) {
  write_bank(dir / "bank.dat", test_kernels(static_cast<int>(F), 3));
  return new Filters((dir / "bank.dat").c_str());
}

// A model with random coefficients, offsets and spreads, read from the text
// of a database model written with 17 digits.
ClassSurface* random_model(Filters* bank, unsigned seed) {
  std::mt19937 g(seed);
  std::uniform_real_distribution<double> u(-1, 1), pos(0.1, 2);
  std::string text = "random\nMatrix P\n";
  char number[64];
  for (unsigned f = 0; f < bank->F; f++) {
    for (int c = 0; c < 6; c++) {
      std::snprintf(number, sizeof number, "%.17g ", (c == 0 || c == 3 || c == 5) ? pos(g) : u(g));
      text += number;
    }
    text += "\n";
  }
  for (const char* label : {"Vector mu\n", "Vector sigma\n"}) {
    text += label;
    for (unsigned f = 0; f < bank->F; f++) {
      std::snprintf(number, sizeof number, "%.17g ", label[7] == 'm' ? 0.1 * u(g) : pos(g));
      text += number;
    }
    text += "\n";
  }
  FILE* f = fmemopen(&text[0], text.size(), "r");
  ClassSurface* model = new ClassSurface(bank, f);
  std::fclose(f);
  return model;
}

}  // namespace

TEST(ill_vector, TiltElevationMagnitude) {
  VEC* v = ill_vector(0, kPi / 6, 0.8);
  EXPECT_DOUBLE_EQ(v->ve[0], 0.8 * std::cos(kPi / 6));
  EXPECT_EQ(v->ve[1], 0);
  EXPECT_DOUBLE_EQ(v->ve[2], 0.4);
  v_free(v);
  VEC* zero = ill_vector(1, 1, 0);
  EXPECT_EQ(zero->ve[0], 0);
  EXPECT_EQ(zero->ve[2], 0);
  v_free(zero);
}

TEST(ISpace, TheProgramsSpace) {
  ISpace space(0.0, 6.283185307179586, 120, 0.5235987755982988, 1.1344640137963142, 35, 0.8, 1.3,
               5);
  ASSERT_EQ(space.K, 21000u);
  auto expect_vector = [&](unsigned k, double tilt_deg, double elevation_deg, double m) {
    const double t = tilt_deg * kPi / 180, s = elevation_deg * kPi / 180;
    EXPECT_NEAR(space.ivec[k]->ve[0], m * std::cos(s) * std::cos(t), 1e-12) << k;
    EXPECT_NEAR(space.ivec[k]->ve[1], m * std::cos(s) * std::sin(t), 1e-12) << k;
    EXPECT_NEAR(space.ivec[k]->ve[2], m * std::sin(s), 1e-12) << k;
  };
  expect_vector(0, 0, 30, 0.8);
  expect_vector(1, 0, 30, 0.9);
  expect_vector(5, 0, 31, 0.8);
  expect_vector(175, 3, 30, 0.8);
  expect_vector(20999, 357, 64, 1.2);
  double longest = 0, highest = 0;
  for (unsigned k = 0; k < space.K; k++) {
    longest = std::fmax(longest, std::sqrt(_in_prod(space.ivec[k], space.ivec[k], 0)));
    highest = std::fmax(
        highest, space.ivec[k]->ve[2] / std::sqrt(_in_prod(space.ivec[k], space.ivec[k], 0)));
    ASSERT_GT(space.ivec[k]->ve[2], 0);
  }
  EXPECT_LT(longest, 1.2 + 1e-12);                 // no magnitude 1.3
  EXPECT_LT(highest, std::sin(64.5 * kPi / 180));  // no elevation 65
}

TEST(ISpace, EmptyAndSingleSpaces) {
  ISpace empty(0, 1, 0, 0, 1, 3, 0, 1, 3);
  EXPECT_EQ(empty.K, 0u);
  ISpace one(0.25, 99, 1, 0.5, 99, 1, 2, 99, 1);
  ASSERT_EQ(one.K, 1u);
  VEC* v = ill_vector(0.25, 0.5, 2);
  for (int c = 0; c < 3; c++) EXPECT_EQ(one.ivec[0]->ve[c], v->ve[c]);
  v_free(v);
}

TEST(print_index, Nominal) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&buffer, &size);
  print_index(f, Index{1, 11, 0});
  std::fclose(f);
  EXPECT_EQ(std::string(buffer, size), "1 11 0\n");
  std::free(buffer);
}

TEST(feature_vector, ColumnsOfPhiForAxisLights) {
  MAT* Phi = matrix({{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}});
  VEC* x = vector({1, 0, 0});
  VEC* z = vector({0, 0, 1});
  VEC* xy = vector({1, 1, 0});
  VEC* fx = feature_vector(Phi, x);
  VEC* fz = feature_vector(Phi, z);
  VEC* fxy = feature_vector(Phi, xy);
  EXPECT_EQ(fx->ve[0], 1);
  EXPECT_EQ(fx->ve[1], 7);
  EXPECT_EQ(fz->ve[0], 6);
  EXPECT_EQ(fz->ve[1], 12);
  EXPECT_EQ(fxy->ve[0], 1 + 2 * 2 + 4);  // terms (1, 2, 0, 1, 0, 0)
  for (VEC* v : {x, z, xy, fx, fz, fxy}) v_free(v);
  m_free(Phi);
}

// Assertions stay active in every build type, Release included.
TEST(feature_vectorDeathTest, ViolatedPreconditionIsAnAssertion) {
  MAT* Phi = matrix({{1, 2, 3, 4, 5}});
  VEC* z = vector({0, 0, 1});
  EXPECT_DEATH(feature_vector(Phi, z), "Assertion `Phi->n == 6' failed");
  v_free(z);
  m_free(Phi);
}

TEST(delta, ZeroAtThePredictionAndEuclideanWithUnitSpread) {
  MAT* Phi = matrix({{1, 0, 0, 1, 0, 1}, {2, 0, 0, 0, 0, 3}});
  VEC* L = vector({0.6, 0, 0.8});
  VEC* mu = vector({0.5, -1});
  VEC* sigma = vector({2, 4});
  VEC* prediction = feature_vector(Phi, L);
  VEC* D = vector({prediction->ve[0] - 0.5, prediction->ve[1] + 1});
  EXPECT_EQ(delta(D, L, Phi, mu, sigma), 0);
  VEC* zero = vector({0, 0});
  VEC* one = vector({1, 1});
  VEC* E = vector({prediction->ve[0] - 3, prediction->ve[1] + 4});
  EXPECT_DOUBLE_EQ(delta(E, L, Phi, zero, one), 5);
  for (VEC* v : {L, mu, sigma, prediction, D, zero, one, E}) v_free(v);
  m_free(Phi);
}

TEST(weighted_distance, EqualsTheMinimumOfDeltaBitForBit) {
  ISpace space(0.0, 6.283185307179586, 120, 0.5235987755982988, 1.1344640137963142, 35, 0.8, 1.3,
               5);
  TempDir dir;
  Filters* bank = bank_of(12, dir);
  for (unsigned seed = 1; seed <= 5; seed++) {
    ClassSurface* model = random_model(bank, seed);
    std::mt19937 g(seed + 100);
    std::uniform_real_distribution<double> u(0, 2);
    VEC* D = v_get(12);
    for (unsigned f = 0; f < 12; f++) D->ve[f] = u(g);
    const double plain = weighted_distance_plain(model, D, &space);
    const double fast = model->weighted_distance(D, &space);
    EXPECT_EQ(std::memcmp(&plain, &fast, sizeof plain), 0) << plain << " vs " << fast;
    v_free(D);
    delete model;
  }
  delete bank;
}

TEST(weighted_distance, SingleVectorSpaceAndNotANumber) {
  ISpace one(0.5, 1, 1, 0.7, 1, 1, 1.1, 2, 1);
  TempDir dir;
  Filters* bank = bank_of(3, dir);
  ClassSurface* model = random_model(bank, 9);
  VEC* D = vector({0.5, 0.25, 1});
  EXPECT_EQ(model->weighted_distance(D, &one),
            delta(D, one.ivec[0], model->P, model->mu, model->sigma));
  model->sigma->ve[1] = 0;  // a zero spread: every distance is infinite or NaN
  ISpace space(0, 6.28, 12, 0.5, 1.1, 3, 0.8, 1.3, 2);
  EXPECT_EQ(model->weighted_distance(D, &space), weighted_distance_plain(model, D, &space));
  EXPECT_FALSE(std::isfinite(model->weighted_distance(D, &space)));
  v_free(D);
  delete model;
  delete bank;
}
