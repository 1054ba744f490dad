#include "ill_dir_test.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "class.h"
#include "class_surface.h"
#include "cli.h"
#include "data_error.h"
#include "experiment.h"
#include "filters.h"
#include "illumination.h"
#include "owners.h"
#include "parameters.h"
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

// The sampled light vectors of vector_array, owned.
struct IlluminationArray {
  IlluminationArray(VEC** v, u_int count) : vectors(v), K(count) {}
  ~IlluminationArray() {
    for (u_int k = 0; k < K; k++) v_free(vectors[k]);
    delete[] vectors;
  }
  IlluminationArray(const IlluminationArray&) = delete;
  IlluminationArray& operator=(const IlluminationArray&) = delete;
  VEC** vectors;
  u_int K;
};

}  // namespace

int direction_experiment(int argc, char** argv) {
  const u_int* t = kExperimentTilts;
  const u_int* s = kExperimentSlants;
  const u_int T = kExperimentTiltCount, S = kExperimentSlantCount, Q = 2;
  const int* tt1 = kExperimentImages;
  const int* tt2 = kExperimentImages;
  const u_int KK1 = kExperimentTiltCount, KK2 = kExperimentTiltCount;
  const IlluminationSpaceRange& space = kExperimentSpace;

  if (argc != 2 || !usable_name(argv[1], s, t, T)) {
    usage();
    return kExitUsage;
  }
  // Everything is owned here and released however the run ends.
  std::unique_ptr<Surface> surface(new Surface(Q, S, s, T, t, argv[1]));
  std::unique_ptr<Index[]> in1(tilts(0, 0, KK1, tt1));
  std::unique_ptr<Index[]> in2(tilts(1, 0, KK2, tt2));
  std::unique_ptr<TrainingSet> tset1(new TrainingSet(KK1, surface.get(), in1.get()));
  std::unique_ptr<TrainingSet> tset2(new TrainingSet(KK2, surface.get(), in2.get()));
  std::unique_ptr<Filters> fltrs(new Filters("filters.dat"));
  fltrs->normalise();
  VectorOwner mu(v_get(fltrs->F));
  VectorOwner sigma(v_get(fltrs->F));
  tset2->check_bank(fltrs.get());
  MatrixOwner filtering(tset1->parameters(fltrs.get(), mu.get(), sigma.get()));
  const int flat = zero_spread(sigma.get());
  if (flat >= 0) {
    const std::string& first = tset1->source;
    data_error(first.substr(0, first.rfind('/')), 0,
               "surface " + std::string(argv[1]) + ", " + zero_spread_text(fltrs.get(), flat));
  }
  const u_int K = space.tilt_count * space.slant_count * space.magnitude_count;
  IlluminationArray ill_array(
      vector_array(space.tilt_first, space.tilt_last, space.tilt_count, space.slant_first,
                   space.slant_last, space.slant_count, space.magnitude_first, space.magnitude_last,
                   space.magnitude_count),
      K);
  VectorOwner smaller(v_get(KK2));
  VectorOwner ratio(v_get(KK2));
  int counter15 = 0, counter15both = 0;
  for (u_int k = 0; k < KK2; k++) {
    VectorOwner LL(get_row(tset2->illumination, k, VNULL));
    VectorOwner response(image_response(fltrs.get(), tset2->images->matrices[k]));
    smaller->ve[k] =
        proporion_of_smaller_values(LL.get(), ill_array.vectors, K, response.get(), filtering.get(),
                                    mu.get(), sigma.get(), &ratio->ve[k]);
    VEC* L = best_fit_illumination(ill_array.vectors, K, response.get(), filtering.get(), mu.get(),
                                   sigma.get());
    VectorOwner L1(v_get(3));
    L1->ve[0] = -LL->ve[0];
    L1->ve[1] = -LL->ve[1];
    L1->ve[2] = LL->ve[2];
    if (angular_error(L, LL.get()) < 15.0) counter15++;
    if (angular_error(L, LL.get()) < 15.0 || angular_error(L, L1.get()) < 15.0) counter15both++;
  }
  double mean_smaller, var_smaller, mean_ratio, var_ratio;
  statistics(smaller.get(), &mean_smaller, &var_smaller);
  statistics(ratio.get(), &mean_ratio, &var_ratio);
  std::printf("%s&%d~/~%d&%.3lf~/~%.3lf&%.3lf~/~%.3lf\\\\\n", argv[1], counter15, counter15both,
              mean_smaller, var_smaller, mean_ratio, var_ratio);
  return 0;
}
