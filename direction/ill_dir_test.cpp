#include "ill_dir_test.h"

#include <cstdio>
#include <cstring>

#include "class.h"
#include "class_surface.h"
#include "filters.h"
#include "illumination.h"
#include "program.h"
#include "response.h"
#include "statistics.h"
#include "surface.h"
#include "training_set.h"

namespace {

void usage() {
  std::fprintf(stderr, "Parameter needed:\n");
  std::fprintf(stderr, "       * name of Morvane surface\n");
}

// A name the image paths can be built from: not empty, no '/', not "." or
// "..", and every path of the grid within the path limit.
bool usable_name(const char* name, const u_int* s, const u_int* t, unsigned int T) {
  if (name[0] == '\0' || std::strchr(name, '/') || std::strcmp(name, ".") == 0 ||
      std::strcmp(name, "..") == 0 || std::strlen(name) > 79)
    return false;
  char path[kPathBytes];
  for (unsigned int q = 0; q < 2; q++)
    for (unsigned int d = 0; d < T; d++)
      if (!image_path(name, q, s[0], t[d], path)) return false;
  return true;
}

}  // namespace

int direction_experiment(int argc, char** argv) {
  u_int t[12] = {0, 30, 60, 90, 120, 150, 180, 210, 240, 270, 300, 330};
  u_int s[1] = {45};
  const u_int T = 12, S = 1, Q = 2;
  int tt1[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  int tt2[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  const u_int KK1 = 12, KK2 = 12;
  const double T0 = 0, TN = 6.283185307179586;
  const u_int TT = 120;
  const double S0 = 0.5235987755982988, SN = 1.1344640137963142;
  const u_int SS = 35;
  const double M0 = 0.8, MN = 1.3;
  const u_int MM = 5;

  if (argc != 2 || !usable_name(argv[1], s, t, T)) {
    usage();
    return kExitUsage;
  }
  Surface* surface = new Surface(Q, S, s, T, t, argv[1]);
  Index* in1 = tilts(0, 0, KK1, tt1);
  Index* in2 = tilts(1, 0, KK2, tt2);
  TrainingSet* tset1 = new TrainingSet(KK1, surface, in1);
  TrainingSet* tset2 = new TrainingSet(KK2, surface, in2);
  Filters* fltrs = new Filters("filters.dat");
  fltrs->normalise();
  VEC* mu = v_get(fltrs->F);
  VEC* sigma = v_get(fltrs->F);
  MAT* filtering = tset1->parameters(fltrs, mu, sigma);
  const u_int K = TT * SS * MM;
  VEC** ill_array = vector_array(T0, TN, TT, S0, SN, SS, M0, MN, MM);
  VEC* smaller = v_get(KK2);
  VEC* ratio = v_get(KK2);
  int counter15 = 0, counter15both = 0;
  for (u_int k = 0; k < KK2; k++) {
    VEC* LL = get_row(tset2->illumination, k, VNULL);
    VEC* response = image_response(fltrs, tset2->images->matrices[k]);
    smaller->ve[k] = proporion_of_smaller_values(LL, ill_array, K, response, filtering, mu, sigma,
                                                 &ratio->ve[k]);
    VEC* L = best_fit_illumination(ill_array, K, response, filtering, mu, sigma);
    v_free(response);
    VEC* L1 = v_get(3);
    L1->ve[0] = -LL->ve[0];
    L1->ve[1] = -LL->ve[1];
    L1->ve[2] = LL->ve[2];
    if (angular_error(L, LL) < 15.0) counter15++;
    if (angular_error(L, LL) < 15.0 || angular_error(L, L1) < 15.0) counter15both++;
    v_free(L1);
    v_free(LL);
  }
  double mean_smaller, var_smaller, mean_ratio, var_ratio;
  statistics(smaller, &mean_smaller, &var_smaller);
  statistics(ratio, &mean_ratio, &var_ratio);
  std::printf("%s&%d~/~%d&%.3lf~/~%.3lf&%.3lf~/~%.3lf\\\\\n", argv[1], counter15, counter15both,
              mean_smaller, var_smaller, mean_ratio, var_ratio);
  return 0;
}
