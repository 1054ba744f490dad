#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "auxillary.h"
#include "data_error.h"
#include "matrix_multiple.h"
#include "test_support.h"

namespace {

MatrixMultiple* random_stack(unsigned K, unsigned m, unsigned n, unsigned seed) {
  std::mt19937 g(seed);
  std::uniform_real_distribution<double> u(-1, 1);
  MatrixMultiple* s = new MatrixMultiple(K, m, n);
  for (unsigned k = 0; k < K; k++)
    for (unsigned i = 0; i < m; i++)
      for (unsigned j = 0; j < n; j++) s->matrices[k]->me[i][j] = u(g);
  return s;
}

RunResult probe_normals(const TempDir& dir, const std::string& content) {
  write_file(dir / "normals.txt", content);
  return run({program("probe"), "normals", dir / "normals.txt"});
}

}  // namespace

TEST(MatrixMultiple, NormalsFileNominal) {
  TempDir dir;
  std::string text = "2 2 and words\n";
  for (int v = 1; v <= 12; v++) text += std::to_string(v) + (v == 2 ? " 0.5" : "") + "\n";
  text += "99\n";
  write_file(dir / "n.txt", text);
  MatrixMultiple s((dir / "n.txt").c_str());
  ASSERT_EQ(s.K, 3u);
  ASSERT_EQ(s.m, 2u);
  ASSERT_EQ(s.n, 2u);
  EXPECT_EQ(s.matrices[0]->me[0][0], 1);
  EXPECT_EQ(s.matrices[1]->me[0][0], 2);  // the 0.5 after it is ignored
  EXPECT_EQ(s.matrices[2]->me[0][0], 3);
  EXPECT_EQ(s.matrices[0]->me[0][1], 4);
  EXPECT_EQ(s.matrices[2]->me[1][1], 12);
}

TEST(MatrixMultiple, NormalsFileErrors) {
  TempDir dir;
  RunResult missing = run({program("probe"), "normals", dir / "none.txt"});
  expect_data_error(missing, dir / "none.txt");
  expect_data_error(probe_normals(dir, ""), "fgets(buffer, sizeof(buffer), f)!=__null");
  expect_data_error(probe_normals(dir, "2\n"), "Error: reading a file: wrong format");
  expect_data_error(probe_normals(dir, "0 3\n"), "Error: reading a file: wrong format");
  expect_data_error(probe_normals(dir, "-1 3\n"), "Error: reading a file: wrong format");
  expect_data_error(probe_normals(dir, "1 1\n1\n2\n"),
                    "fgets(buffer, sizeof(buffer), f) != __null");
  expect_data_error(probe_normals(dir, "1 1\n1\nx\n3\n"), "error during transfer of values");
  expect_data_error(probe_normals(dir, "30000 30000\n1\n"), "ends early");
  std::string long_line = "1 1\n" + std::string(100000, ' ') + "0.25\n0.5\n0.75\n";
  RunResult whole = probe_normals(dir, long_line);
  EXPECT_EQ(whole.status, 0) << whole.err;
  EXPECT_EQ(whole.out, "1 1\n");
}

TEST(write_normals, ReadsBackExactly) {
  TempDir dir;
  MatrixMultiple* s = random_stack(3, 4, 5, 7);
  FILE* f = std::fopen((dir / "n.txt").c_str(), "w");
  ASSERT_TRUE(write_normals(f, s));
  std::fclose(f);
  MatrixMultiple back((dir / "n.txt").c_str());
  for (unsigned k = 0; k < 3; k++)
    for (unsigned i = 0; i < 4; i++)
      for (unsigned j = 0; j < 5; j++)
        ASSERT_EQ(back.matrices[k]->me[i][j], s->matrices[k]->me[i][j]);
  delete s;
}

TEST(MatrixMultiple, CountOnlyAndEmptyStacks) {
  MatrixMultiple* s = new MatrixMultiple(2);
  s->matrices[0] = m_get(2, 3);
  s->matrices[1] = m_get(2, 3);
  s->m = 2;
  s->n = 3;
  delete s;  // releases both matrices and the array
  MatrixMultiple* empty = new MatrixMultiple(0, 4, 4);
  EXPECT_EQ(empty->K, 0u);
  delete empty;
}

TEST(MatrixMultiple, FilterWithIdentityAndWholeSizeKernel) {
  MatrixMultiple* s = random_stack(2, 4, 5, 1);
  MAT* one = matrix({{1}});
  MatrixMultiple* same = s->filter(one);
  for (unsigned k = 0; k < 2; k++)
    for (unsigned i = 0; i < 4; i++)
      for (unsigned j = 0; j < 5; j++)
        EXPECT_EQ(same->matrices[k]->me[i][j], s->matrices[k]->me[i][j]);
  MAT* whole = m_get(4, 5);
  m_ones(whole);
  MatrixMultiple* single = s->filter(whole);
  EXPECT_EQ(single->m, 1u);
  EXPECT_EQ(single->n, 1u);
  VEC* mean = v_get(2);
  MAT* cov = m_get(2, 2);
  single->distribution(mean, cov);
  EXPECT_EQ(cov->me[0][0], 0);
  EXPECT_EQ(cov->me[0][1], 0);
  MAT* big = m_get(5, 5);
  EXPECT_THROW(s->filter(big), DataError);
  for (MAT* m : {one, whole, cov, big}) m_free(m);
  v_free(mean);
  delete same;
  delete single;
  delete s;
}

TEST(MatrixMultiple, DistributionIsPopulationCovariance) {
  MatrixMultiple* s = random_stack(3, 6, 7, 2);
  VEC* mean = v_get(3);
  MAT* cov = m_get(3, 3);
  s->distribution(mean, cov);
  const double N = 42;
  for (unsigned a = 0; a < 3; a++) {
    double ma = 0;
    for (unsigned i = 0; i < 6; i++)
      for (unsigned j = 0; j < 7; j++) ma += s->matrices[a]->me[i][j];
    EXPECT_NEAR(mean->ve[a], ma / N, 1e-15);
  }
  for (unsigned a = 0; a < 3; a++)
    for (unsigned b = 0; b < 3; b++) {
      double c = 0;
      for (unsigned i = 0; i < 6; i++)
        for (unsigned j = 0; j < 7; j++)
          c += (s->matrices[a]->me[i][j] - mean->ve[a]) * (s->matrices[b]->me[i][j] - mean->ve[b]);
      EXPECT_NEAR(cov->me[a][b], c / N, 1e-14);  // N, not N - 1
    }
  v_free(mean);
  m_free(cov);
  delete s;
}

TEST(MatrixMultiple, IdenticalMatricesShareOneVariance) {
  MatrixMultiple* s = random_stack(3, 5, 5, 3);
  m_copy(s->matrices[0], s->matrices[1]);
  m_copy(s->matrices[0], s->matrices[2]);
  VEC* mean = v_get(3);
  MAT* cov = m_get(3, 3);
  s->distribution(mean, cov);
  for (unsigned a = 0; a < 3; a++)
    for (unsigned b = 0; b < 3; b++) EXPECT_EQ(cov->me[a][b], cov->me[0][0]);
  v_free(mean);
  m_free(cov);
  delete s;
}

TEST(symmatrix2vector, UpperTriangleSymmetrised) {
  MAT* m = matrix({{1, 2}, {4, 3}});
  VEC* v = symmatrix2vector(m);
  ASSERT_EQ(v->dim, 3u);
  EXPECT_EQ(v->ve[0], 1);
  EXPECT_EQ(v->ve[1], 3);
  EXPECT_EQ(v->ve[2], 3);
  m_free(m);
  v_free(v);
  MAT* three = matrix({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
  VEC* w = symmatrix2vector(three);
  const double expected[6] = {1, 3, 5, 5, 7, 9};  // xx, xy, xz, yy, yz, zz
  for (int c = 0; c < 6; c++) EXPECT_EQ(w->ve[c], expected[c]);
  m_free(three);
  v_free(w);
}

TEST(filtering_matrix, RowsAreTheCovarianceOfTheFilteredStack) {
  TempDir dir;
  write_bank(dir / "bank.dat", test_kernels(4, 3));
  Filters bank((dir / "bank.dat").c_str());
  bank.normalise();
  MatrixMultiple* s = random_stack(3, 9, 8, 4);
  MAT* P = s->filtering_matrix(&bank);
  ASSERT_EQ(P->m, 4u);
  ASSERT_EQ(P->n, 6u);
  for (unsigned f = 0; f < 4; f++) {
    // Direct: filter each plane, then the population covariance.
    std::vector<std::vector<double>> r(3);
    for (unsigned k = 0; k < 3; k++)
      for (unsigned i = 0; i < 7; i++)
        for (unsigned j = 0; j < 6; j++)
          r[k].push_back(single_filtered_value(bank.filters[f], s->matrices[k], i, j));
    double mean[3] = {0, 0, 0};
    for (unsigned k = 0; k < 3; k++) {
      for (double v : r[k]) mean[k] += v;
      mean[k] /= 42;
    }
    const int pairs[6][2] = {{0, 0}, {0, 1}, {0, 2}, {1, 1}, {1, 2}, {2, 2}};
    for (int c = 0; c < 6; c++) {
      double cov = 0;
      for (int p = 0; p < 42; p++)
        cov += (r[pairs[c][0]][p] - mean[pairs[c][0]]) * (r[pairs[c][1]][p] - mean[pairs[c][1]]);
      EXPECT_NEAR(P->me[f][c], cov / 42, 1e-14) << "filter " << f << " column " << c;
    }
  }
  VEC* variances = s->uncorrelated_filter_response(bank.filters[2]);
  EXPECT_NEAR(variances->ve[0], P->me[2][0], 1e-15);
  EXPECT_NEAR(variances->ve[1], P->me[2][3], 1e-15);
  EXPECT_NEAR(variances->ve[2], P->me[2][5], 1e-15);
  MAT* P2 = s->filtering_matrix2(&bank);
  ASSERT_EQ(P2->n, 3u);
  for (unsigned f = 0; f < 4; f++) {
    EXPECT_EQ(P2->me[f][0], P->me[f][0]);
    EXPECT_EQ(P2->me[f][1], P->me[f][1]);
    EXPECT_EQ(P2->me[f][2], P->me[f][3]);
  }
  v_free(variances);
  m_free(P);
  m_free(P2);
  delete s;
}

TEST(recovery_matrix, LeftInverseOfTheFilteringMatrix) {
  TempDir dir;
  write_bank(dir / "bank.dat", test_kernels(8, 3));
  Filters bank((dir / "bank.dat").c_str());
  MatrixMultiple* s = random_stack(3, 12, 12, 5);
  MAT* P = s->filtering_matrix(&bank);
  MAT* R = s->recovery_matrix(&bank);
  MAT* I = m_mlt(R, P, MNULL);
  for (unsigned i = 0; i < 6; i++)
    for (unsigned j = 0; j < 6; j++) EXPECT_NEAR(I->me[i][j], i == j ? 1 : 0, 1e-8);
  for (MAT* m : {P, R, I}) m_free(m);
  delete s;
}

TEST(distribution, FastEqualsPlainBitForBit) {
  for (unsigned K : {1u, 3u, 12u}) {
    MatrixMultiple* s = random_stack(K, 9, 11, K);
    s->matrices[0]->me[2][3] = 0;  // centred values of zero take the skipping path
    VEC* mean_fast = v_get(K);
    VEC* mean_plain = v_get(K);
    MAT* cov_fast = m_get(K, K);
    MAT* cov_plain = m_get(K, K);
    distribution_fast(s, mean_fast, cov_fast);
    distribution_plain(s, mean_plain, cov_plain);
    EXPECT_EQ(std::memcmp(mean_fast->ve, mean_plain->ve, K * sizeof(double)), 0);
    for (unsigned a = 0; a < K; a++)
      EXPECT_EQ(std::memcmp(cov_fast->me[a], cov_plain->me[a], K * sizeof(double)), 0)
          << K << " " << a;
    TempDir dir;
    write_bank(dir / "bank.dat", test_kernels(3, 3));
    Filters bank((dir / "bank.dat").c_str());
    for (unsigned f = 0; f < 3; f++) {
      VEC* fast = uncorrelated_filter_response_fast(s, bank.filters[f]);
      VEC* plain = uncorrelated_filter_response_plain(s, bank.filters[f]);
      EXPECT_EQ(std::memcmp(fast->ve, plain->ve, K * sizeof(double)), 0);
      v_free(fast);
      v_free(plain);
    }
    for (VEC* v : {mean_fast, mean_plain}) v_free(v);
    for (MAT* m : {cov_fast, cov_plain}) m_free(m);
    delete s;
  }
}
