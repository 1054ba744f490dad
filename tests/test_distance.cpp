// The distance scans against delta, on both code paths.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "class_surface.h"
#include "correlation.h"
#include "distance.h"
#include "test_support.h"

namespace {

struct Scan {
  explicit Scan(unsigned K, unsigned F, unsigned seed)
      : P(m_get(F, 6)), D(v_get(F)), mu(v_get(F)), sigma(v_get(F)) {
    std::mt19937 g(seed);
    std::uniform_real_distribution<double> u(-1, 1), pos(0.1, 2);
    for (unsigned k = 0; k < K; k++)
      L.push_back(ill_vector(6.28 * u(g), 0.5 + 0.5 * pos(g), pos(g)));
    for (unsigned f = 0; f < F; f++) {
      for (int c = 0; c < 6; c++) P->me[f][c] = u(g);
      D->ve[f] = pos(g);
      mu->ve[f] = 0.1 * u(g);
      sigma->ve[f] = pos(g);
    }
  }
  ~Scan() {
    for (VEC* v : L) v_free(v);
    m_free(P);
    for (VEC* v : {D, mu, sigma}) v_free(v);
  }
  double plain_min() const {
    double best = 0;
    for (size_t k = 0; k < L.size(); k++) {
      const double d = delta(D, L[k], P, mu, sigma);
      if (k == 0 || d < best) best = d;
    }
    return best;
  }
  std::vector<VEC*> L;
  MAT* P;
  VEC *D, *mu, *sigma;
};

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

TEST(deltas, EveryPathEqualsDeltaBitForBit) {
  // Banks of one filter (no tile), two, and seven whose first filter
  // predicts zeros of either sign (a row of -0, D and mu 0).
  for (unsigned F : {1u, 2u, 7u})
    for (unsigned K : {1u, 3u, 4u, 130u, 517u}) {
      Scan scan(K, F, K + F);
      if (F == 7) {
        for (int c = 0; c < 6; c++) scan.P->me[0][c] = -0.0;
        scan.D->ve[0] = scan.mu->ve[0] = 0.0;
      }
      LightTerms lights = light_terms(scan.L.data(), K);
      EXPECT_EQ(lights.stride % 8, 0u);
      std::vector<double> fast(K), avx(K);
      deltas(lights, scan.P, scan.D->ve, scan.mu->ve, scan.sigma->ve, fast.data());
      if (have_avx2())
        deltas_avx2(lights, scan.P, scan.D->ve, scan.mu->ve, scan.sigma->ve, avx.data());
      for (unsigned k = 0; k < K; k++) {
        const double expected = delta(scan.D, scan.L[k], scan.P, scan.mu, scan.sigma);
        ASSERT_TRUE(same_bits(fast[k], expected)) << K << " " << k;
        const double scalar =
            std::sqrt(squared_delta_at(lights.terms.data(), lights.stride, k, scan.P, scan.D->ve,
                                       scan.mu->ve, scan.sigma->ve));
        ASSERT_TRUE(same_bits(scalar, expected)) << K << " " << k;
        if (have_avx2()) {
          ASSERT_TRUE(same_bits(avx[k], expected)) << K << " " << k;
        }
      }
      ASSERT_TRUE(same_bits(
          std::sqrt(min_squared_delta(lights, scan.P, scan.D->ve, scan.mu->ve, scan.sigma->ve)),
          scan.plain_min()));
    }
}

TEST(min_squared_delta, NotANumberOnlyWhenTheFirstLightGivesIt) {
  // A zero light vector with a zero spread gives 0/0 for that light only.
  Scan scan(9, 3, 5);
  scan.sigma->ve[1] = 0;
  for (int c = 0; c < 3; c++) scan.L[4]->ve[c] = 0;  // 0/0 at light 4 only when D == mu
  scan.D->ve[1] = -scan.mu->ve[1];
  LightTerms later = light_terms(scan.L.data(), 9);
  const double m = min_squared_delta(later, scan.P, scan.D->ve, scan.mu->ve, scan.sigma->ve);
  EXPECT_TRUE(same_bits(std::sqrt(m), scan.plain_min()));
  std::swap(scan.L[0], scan.L[4]);
  LightTerms first = light_terms(scan.L.data(), 9);
  EXPECT_TRUE(
      std::isnan(min_squared_delta(first, scan.P, scan.D->ve, scan.mu->ve, scan.sigma->ve)));
  EXPECT_TRUE(std::isnan(scan.plain_min()));
}
