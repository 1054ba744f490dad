#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <random>

#include "data_error.h"
#include "matrix_multiple.h"
#include "parameters.h"
#include "surface.h"
#include "test_support.h"
#include "training_set.h"

namespace {

u_int kSlant[1] = {45};
u_int kTilts[12] = {0, 30, 60, 90, 120, 150, 180, 210, 240, 270, 300, 330};
const int kAll[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

// Overwrites the training images with exact renders image_k = g . L_k of a
// random field g, and returns g as three planes.
std::vector<MAT*> linear_images(TrainingSet& t, unsigned seed, bool clip) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-40, 40), up(clip ? 5 : 60, clip ? 40 : 120);
  std::vector<MAT*> g = {m_get(t.m, t.n), m_get(t.m, t.n), m_get(t.m, t.n)};
  for (unsigned i = 0; i < t.m; i++)
    for (unsigned j = 0; j < t.n; j++) {
      g[0]->me[i][j] = u(gen);
      g[1]->me[i][j] = u(gen);
      g[2]->me[i][j] = up(gen);
    }
  for (unsigned k = 0; k < t.K; k++)
    for (unsigned i = 0; i < t.m; i++)
      for (unsigned j = 0; j < t.n; j++) {
        double v = 0;
        for (int c = 0; c < 3; c++) v += g[c]->me[i][j] * t.illumination->me[k][c];
        t.images->matrices[k]->me[i][j] = clip && v < 0 ? 0 : v;
      }
  return g;
}

class TrainingSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    w_ = make_workspace(dir_.path(), {"aaa"}, {2}, 2, 24, 2);
    here_ = std::make_unique<InDirectory>(w_.work);
    surface_ = std::make_unique<Surface>(2, 1, kSlant, 12, kTilts, "aaa");
  }
  TempDir dir_;
  Workspace w_;
  std::unique_ptr<InDirectory> here_;
  std::unique_ptr<Surface> surface_;
};

}  // namespace

TEST(tilts, Nominal) {
  const int d[3] = {0, 4, 8};
  Index* in = tilts(2, 0, 3, d);
  for (int k = 0; k < 3; k++) {
    EXPECT_EQ(in[k].q, 2u);
    EXPECT_EQ(in[k].z, 0u);
    EXPECT_EQ(in[k].d, static_cast<unsigned>(d[k]));
  }
  delete[] in;
}

TEST_F(TrainingSetTest, ReadsImagesAndLights) {
  Index* in = tilts(1, 0, 12, kAll);
  TrainingSet t(12, surface_.get(), in);
  EXPECT_EQ(t.K, 12u);
  EXPECT_EQ(t.m, 24u);
  EXPECT_EQ(t.n, 24u);
  EXPECT_EQ(t.images->m, 24u);
  VEC* l = make_illuminant(90, 45);
  for (int c = 0; c < 3; c++) EXPECT_EQ(t.illumination->me[3][c], l->ve[c]);
  v_free(l);
  delete[] in;
}

TEST_F(TrainingSetTest, PhotometricStereoRecoversAKnownField) {
  Index* in = tilts(0, 0, 12, kAll);
  TrainingSet t(12, surface_.get(), in);
  std::vector<MAT*> g = linear_images(t, 1, false);
  MatrixMultiple* normals = t.build_normals();
  for (int c = 0; c < 3; c++)
    for (unsigned i = 0; i < t.m; i++)
      for (unsigned j = 0; j < t.n; j++)
        ASSERT_NEAR(normals->matrices[c]->me[i][j], g[c]->me[i][j], 1e-12);
  delete normals;
  for (MAT* m : g) m_free(m);
  delete[] in;
}

TEST_F(TrainingSetTest, FastNormalsEqualPlainBitForBit) {
  Index* in = tilts(0, 0, 12, kAll);
  TrainingSet t(12, surface_.get(), in);
  MatrixMultiple* fast = build_normals_fast(&t);
  MatrixMultiple* plain = build_normals_plain(&t);
  for (int c = 0; c < 3; c++)
    for (unsigned i = 0; i < t.m; i++)
      ASSERT_EQ(
          std::memcmp(fast->matrices[c]->me[i], plain->matrices[c]->me[i], t.n * sizeof(double)),
          0);
  delete fast;
  delete plain;
  delete[] in;
}

TEST_F(TrainingSetTest, ThreeImagesAreReproducedExactly) {
  const int three[3] = {0, 4, 8};
  Index* in = tilts(0, 0, 3, three);
  TrainingSet t(3, surface_.get(), in);
  MatrixMultiple* normals = t.build_normals();
  for (unsigned k = 0; k < 3; k++)
    for (unsigned i = 0; i < t.m; i++)
      for (unsigned j = 0; j < t.n; j++) {
        double v = 0;
        for (int c = 0; c < 3; c++) v += normals->matrices[c]->me[i][j] * t.illumination->me[k][c];
        ASSERT_NEAR(v, t.images->matrices[k]->me[i][j], 1e-11);
      }
  delete normals;
  delete[] in;
}

TEST_F(TrainingSetTest, ModelIsExactOnLinearImagesAndNotOnClippedOnes) {
  TempDir bank_dir;
  write_bank(bank_dir / "bank.dat", test_kernels(6, 5));
  Filters bank((bank_dir / "bank.dat").c_str());
  bank.normalise();
  Index* in = tilts(0, 0, 12, kAll);
  TrainingSet t(12, surface_.get(), in);
  std::vector<MAT*> g = linear_images(t, 2, false);
  VEC* mu = v_get(6);
  VEC* sigma = v_get(6);
  MAT* P = t.parameters(&bank, mu, sigma);
  ASSERT_EQ(P->m, 6u);
  ASSERT_EQ(P->n, 6u);
  for (unsigned f = 0; f < 6; f++) {
    const double scale = P->me[f][0] + P->me[f][3] + P->me[f][5];
    EXPECT_NEAR(mu->ve[f], 0, 1e-9 * scale);
    EXPECT_NEAR(sigma->ve[f], 0, 1e-9 * scale);
  }
  m_free(P);
  for (MAT* m : g) m_free(m);
  // Clipping at 0 breaks the linearity: the model then misses.
  g = linear_images(t, 3, true);
  P = t.parameters(&bank, mu, sigma);
  for (unsigned f = 0; f < 6; f++) EXPECT_GT(sigma->ve[f], 1e-6);
  m_free(P);
  for (MAT* m : g) m_free(m);
  v_free(mu);
  v_free(sigma);
  delete[] in;
}

TEST_F(TrainingSetTest, ParametersEqualThePlainDefinitionBitForBit) {
  // The plain pieces (normals, covariance of the filtered normals, variances
  // of the filtered images) against parameters(), with 12 and with 3 images
  // (the fast versions pack 3 + K planes four or eight to a vector).
  TempDir bank_dir;
  const int three[3] = {0, 4, 8};
  for (unsigned K : {12u, 3u}) {
    for (int M : {3, 7}) {
      write_bank(bank_dir / "bank.dat", test_kernels(5, M));
      Filters bank((bank_dir / "bank.dat").c_str());
      bank.normalise();
      Index* in = tilts(0, 0, K, K == 12 ? kAll : three);
      TrainingSet t(K, surface_.get(), in);
      VEC* mu = v_get(5);
      VEC* sigma = v_get(5);
      MAT* P = t.parameters(&bank, mu, sigma);
      MatrixMultiple* normals = build_normals_plain(&t);
      for (unsigned f = 0; f < 5; f++) {
        MatrixMultiple* filtered = normals->filter(bank.filters[f]);
        VEC* mean = v_get(3);
        MAT* cov = m_get(3, 3);
        distribution_plain(filtered, mean, cov);
        VEC* row = symmatrix2vector(cov);
        EXPECT_EQ(std::memcmp(P->me[f], row->ve, 6 * sizeof(double)), 0)
            << K << " " << M << " " << f;
        MAT* Phi = get_matrix_of_row(P, f);
        VEC* x = features(Phi, t.illumination);
        VEC* y = uncorrelated_filter_response_plain(t.images, bank.filters[f]);
        double m, s;
        pmtrs(x, y, &m, &s);
        EXPECT_EQ(std::memcmp(&m, &mu->ve[f], sizeof m), 0) << K << " " << M << " " << f;
        EXPECT_EQ(std::memcmp(&s, &sigma->ve[f], sizeof s), 0) << K << " " << M << " " << f;
        delete filtered;
        m_free(cov);
        m_free(Phi);
        for (VEC* v : {mean, row, x, y}) v_free(v);
      }
      delete normals;
      m_free(P);
      v_free(mu);
      v_free(sigma);
      delete[] in;
    }
  }
}

TEST_F(TrainingSetTest, TooFewOrCoplanarLightsAreRefused) {
  const int two[2] = {0, 3};
  Index* in2 = tilts(0, 0, 2, two);
  TrainingSet t2(2, surface_.get(), in2);
  EXPECT_THROW(delete t2.build_normals(), DataError);
  // Tilts 0, 180 and 0 again: every light lies in the x-z plane.
  const int flat[3] = {0, 6, 0};
  Index* in3 = tilts(0, 0, 3, flat);
  TrainingSet t3(3, surface_.get(), in3);
  try {
    delete t3.build_normals();
    ADD_FAILURE() << "coplanar lights accepted";
  } catch (const DataError& e) {
    EXPECT_NE(std::string(e.what()).find("coplanar"), std::string::npos);
  }
  delete[] in2;
  delete[] in3;
}

TEST_F(TrainingSetTest, ImageOfAnotherSizeNamesBothFiles) {
  write_pgm(dir_ / "data/aaa/aaa0/aaa_45_60.pgm", 20, 24, std::vector<unsigned char>(480, 9));
  Index* in = tilts(0, 0, 12, kAll);
  try {
    TrainingSet t(12, surface_.get(), in);
    ADD_FAILURE() << "size mismatch accepted";
  } catch (const DataError& e) {
    std::string text = e.what();
    EXPECT_NE(text.find("aaa_45_60.pgm"), std::string::npos) << text;
    EXPECT_NE(text.find("20x24"), std::string::npos) << text;
    EXPECT_NE(text.find("24x24"), std::string::npos) << text;
  }
  delete[] in;
}

TEST(pmtrs, PopulationStatisticsOfDifferences) {
  VEC* x = vector({3, 5});
  VEC* y = vector({1, 1});
  double mu, sigma;
  pmtrs(x, y, &mu, &sigma);
  EXPECT_EQ(mu, 3);
  EXPECT_EQ(sigma, 1);
  v_free(x);
  v_free(y);
}

TEST(get_matrix_of_row, SymmetricArrangementAndQuadraticForm) {
  MAT* P = matrix({{1, 2, 3, 4, 5, 6}});
  MAT* Phi = get_matrix_of_row(P, 0);
  const double expected[3][3] = {{1, 2, 3}, {2, 4, 5}, {3, 5, 6}};
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) EXPECT_EQ(Phi->me[i][j], expected[i][j]);
  VEC* L = vector({0.3, -0.4, 0.8});
  const double x = 0.3, y = -0.4, z = 0.8;
  EXPECT_NEAR(feature(Phi, L),
              1 * x * x + 2 * 2 * x * y + 2 * 3 * x * z + 4 * y * y + 2 * 5 * y * z + 6 * z * z,
              1e-15);
  MAT* I = m_get(3, 3);
  m_ident(I);
  VEC* unit = vector({0.6, 0, 0.8});
  EXPECT_DOUBLE_EQ(feature(I, unit), 1);
  MAT* lights = matrix({{0.6, 0, 0.8}, {0, 1, 0}});
  VEC* f = features(I, lights);
  EXPECT_DOUBLE_EQ(f->ve[0], 1);
  EXPECT_DOUBLE_EQ(f->ve[1], 1);
  for (MAT* m : {P, Phi, I, lights}) m_free(m);
  for (VEC* v : {L, unit, f}) v_free(v);
}
