#include "classification_test.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "class_surface.h"
#include "cli.h"
#include "data_error.h"
#include "experiment.h"
#include "owners.h"
#include "response.h"
#include "statistics.h"
#include "surface.h"
#include "training_set.h"

Database::Database(unsigned int A, Surface** s, Filters* ff, int KK, const Index* in,
                   unsigned int jobs)
    : K(A), surfaces(new ClassSurface*[A]()), filters(ff) {
  // Surfaces are handed out in order under the lock that also prints their
  // line; after a failure no new surface is started.
  std::vector<std::exception_ptr> errors(A);
  std::mutex handout;
  unsigned int next = 0;
  bool failed = false;
  auto work = [&] {
    while (true) {
      unsigned int a;
      {
        std::lock_guard<std::mutex> lock(handout);
        if (failed || next >= A) return;
        a = next++;
        std::fprintf(stderr, "Building the database: surface %s\n", s[a]->name);
      }
      try {
        surfaces[a] = new ClassSurface(ff, s[a], static_cast<unsigned int>(KK), in);
      } catch (...) {
        std::lock_guard<std::mutex> lock(handout);
        errors[a] = std::current_exception();
        failed = true;
      }
    }
  };
  std::vector<std::thread> threads;
  for (unsigned int t = 1; t < jobs && t < A; t++) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer threads than asked for: the others share the work
    }
  }
  work();
  for (std::thread& thread : threads) thread.join();
  for (unsigned int a = 0; a < A; a++) {
    if (!errors[a]) continue;
    for (unsigned int b = 0; b < A; b++) delete surfaces[b];
    delete[] surfaces;
    std::rethrow_exception(errors[a]);
  }
}

Database::Database(unsigned int A, ClassSurface* const* models, Filters* ff)
    : K(A), surfaces(new ClassSurface*[A]), filters(ff) {
  for (unsigned int a = 0; a < A; a++) surfaces[a] = models[a];
}

Database::~Database() {
  if (surfaces) {
    for (u_int a = 0; a < K; a++) delete surfaces[a];
    delete[] surfaces;
  }
}

VEC* Database::distances(VEC* D, ISpace* ispace) {
  VEC* d = v_get(K);
  for (u_int a = 0; a < K; a++) d->ve[a] = surfaces[a]->weighted_distance(D, ispace);
  return d;
}

int Database::classify(VEC* D, ISpace* ispace, u_int i_true, int* number, double* ratio,
                       VEC** all) {
  if (K == 0) data_error_text("classify: the database holds no model");
  if (i_true >= K)
    data_error_text("classify: the true class " + std::to_string(i_true) +
                    " is not below the number of models " + std::to_string(K));
  VEC* tmp = distances(D, ispace);
  const double d = tmp->ve[i_true];
  *number = 0;
  for (u_int a = 0; a < K; a++)
    if (a != i_true && d > tmp->ve[a]) ++*number;
  int i_max, i_min;
  const double d_max = v_max(tmp, &i_max);
  const double d_min = v_min(tmp, &i_min);
  if (all)
    *all = tmp;
  else
    v_free(tmp);
  *ratio = (d - d_min) / (d_max - d_min);
  return i_min;
}

namespace {

void usage() {
  std::fprintf(stderr, "Parameter needed:\n");
  std::fprintf(stderr, "       * Morvane surface's number in the database\n");
}

// A whole number from 0 to 19 written with digits only.
bool parse_surface_number(const char* text, int* value) {
  const size_t length = std::strlen(text);
  if (length == 0 || length > 2) return false;
  int v = 0;
  for (size_t i = 0; i < length; i++) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  if (v > 19) return false;
  *value = v;
  return true;
}

}  // namespace

int classify_experiment(int argc, char** argv) {
  if (argc != 2) {
    usage();
    return kExitUsage;
  }
  int AA;
  if (!parse_surface_number(argv[1], &AA)) {
    usage();
    return kExitUsage;
  }
  const int* tt = kExperimentImages;
  const u_int KK = kExperimentTiltCount;
  const u_int* t = kExperimentTilts;
  const u_int* s = kExperimentSlants;
  const u_int T = kExperimentTiltCount, S = kExperimentSlantCount;
  const IlluminationSpaceRange& space = kExperimentSpace;

  std::fprintf(stderr, "Doing the surface %s\n", kSurfaceNames[AA]);
  // Everything is owned here and released however the run ends.
  std::unique_ptr<Filters> fltrs(new Filters("filters.dat"));
  fltrs->normalise();
  std::unique_ptr<Database> database(new Database("test20.dat", fltrs.get()));
  if (static_cast<u_int>(AA) >= database->K) {
    usage();
    return kExitUsage;
  }
  std::unique_ptr<ISpace> ispace(new ISpace(
      space.tilt_first, space.tilt_last, space.tilt_count, space.slant_first, space.slant_last,
      space.slant_count, space.magnitude_first, space.magnitude_last, space.magnitude_count));
  VectorOwner d(v_get(KK * 3));
  u_int correct = 0, correct3 = 0;
  for (int i = 1; i <= 3; i++) {
    std::unique_ptr<Index[]> in_test(tilts(i, 0, KK, tt));
    std::fprintf(stderr, "%s%d\n", kSurfaceNames[AA], i);
    std::unique_ptr<Surface> surface(new Surface(4, S, s, T, t, kSurfaceNames[AA]));
    std::unique_ptr<TrainingSet> tset(new TrainingSet(KK, surface.get(), in_test.get()));
    tset->check_bank(fltrs.get());
    for (u_int k = 0; k < KK; k++) {
      VectorOwner response(image_response(fltrs.get(), tset->images->matrices[k]));
      int N;
      int index = database->classify(response.get(), ispace.get(), static_cast<u_int>(AA), &N,
                                     &d.get()->ve[(i - 1) * KK + k]);
      if (index == AA) correct++;
      if (N <= 2) correct3++;
    }
  }
  std::printf("%s&", kSurfaceNames[AA]);
  std::printf("%.2lf&", correct / 36.0);
  std::printf("%.2lf&", correct3 / 36.0);
  double mean, var;
  statistics(d.get(), &mean, &var);
  std::printf("%0.3lf \\ %0.3lf\\\\\n", mean, var);
  return 0;
}
