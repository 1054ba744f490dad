// Benchmarks of the hot paths: the response vector of an image, the model
// parameters of a training set, and classification over the illumination
// space (with the loop over delta that it replaces, for comparison).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "class.h"
#include "class_surface.h"
#include "filters.h"
#include "response.h"
#include "training_set.h"

namespace {

// A scratch folder with a bank of F kernels of M x M and, optionally, a
// surface "aaa" of 12 random images (set 0) laid out for the readers.
class Scratch {
 public:
  Scratch(int F, int M, int image_size) {
    char pattern[] = "/tmp/ti_bench.XXXXXX";
    root_ = mkdtemp(pattern);
    std::mt19937 g(1);
    std::uniform_real_distribution<double> u(-1, 1);
    FILE* f = std::fopen((root_ + "/filters.dat").c_str(), "w");
    std::fprintf(f, "Number of filters: %d\nSize: %d\n", F, M);
    for (int k = 0; k < F; k++) {
      std::fprintf(f, "kernel %d\n", k);
      for (int i = 0; i < M; i++) {
        for (int j = 0; j < M; j++) std::fprintf(f, "%.17g ", u(g));
        std::fprintf(f, "\n");
      }
    }
    std::fclose(f);
    if (image_size > 0) {
      std::string dir = root_ + "/data/aaa/aaa0";
      std::system(("mkdir -p '" + dir + "' '" + root_ + "/w/a/b'").c_str());
      std::uniform_int_distribution<int> byte(0, 255);
      for (int tilt = 0; tilt < 360; tilt += 30) {
        FILE* img = std::fopen((dir + "/aaa_45_" + std::to_string(tilt) + ".pgm").c_str(), "wb");
        std::fprintf(img, "P5\n%d %d\n255\n", image_size, image_size);
        for (int p = 0; p < image_size * image_size; p++) std::fputc(byte(g), img);
        std::fclose(img);
      }
    }
  }
  ~Scratch() { std::system(("rm -rf '" + root_ + "'").c_str()); }
  std::string bank() const { return root_ + "/filters.dat"; }
  std::string work() const { return root_ + "/w/a/b"; }

 private:
  std::string root_;
};

MAT* random_image(int size) {
  std::mt19937 g(2);
  std::uniform_int_distribution<int> byte(0, 255);
  MAT* image = m_get(size, size);
  for (int i = 0; i < size; i++)
    for (int j = 0; j < size; j++) image->me[i][j] = byte(g);
  return image;
}

void BM_image_response(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0)), F = 12, M = 13;
  Scratch scratch(F, M, 0);
  Filters bank(scratch.bank().c_str());
  bank.normalise();
  MAT* image = random_image(size);
  for (auto _ : state) {
    VEC* r = image_response(&bank, image);
    benchmark::DoNotOptimize(r->ve[0]);
    v_free(r);
  }
  const double macs = double(F) * (size - M + 1) * (size - M + 1) * M * M;
  state.counters["MAC/s"] = benchmark::Counter(macs, benchmark::Counter::kIsIterationInvariantRate);
  m_free(image);
}
BENCHMARK(BM_image_response)->Arg(256)->Unit(benchmark::kMillisecond);

void BM_parameters(benchmark::State& state) {
  Scratch scratch(12, 13, 256);
  Filters bank(scratch.bank().c_str());
  bank.normalise();
  char previous[4096];
  if (!getcwd(previous, sizeof previous) || chdir(scratch.work().c_str()) != 0) std::abort();
  u_int s[1] = {45};
  u_int t[12] = {0, 30, 60, 90, 120, 150, 180, 210, 240, 270, 300, 330};
  int d[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  Surface surface(1, 1, s, 12, t, "aaa");
  Index* in = tilts(0, 0, 12, d);
  TrainingSet tset(12, &surface, in);
  VEC* mu = v_get(12);
  VEC* sigma = v_get(12);
  for (auto _ : state) {
    MAT* P = tset.parameters(&bank, mu, sigma);
    benchmark::DoNotOptimize(P->me[0][0]);
    m_free(P);
  }
  v_free(mu);
  v_free(sigma);
  delete[] in;
  if (chdir(previous) != 0) std::abort();
}
BENCHMARK(BM_parameters)->Unit(benchmark::kMillisecond);

// 20 models of 12 filters with random parameters, read from model text.
struct Models {
  Models() : scratch(12, 3, 0), bank(scratch.bank().c_str()) {
    std::mt19937 g(3);
    std::uniform_real_distribution<double> u(-1, 1), pos(0.1, 2);
    std::string text = "20\n";
    char number[64];
    for (int a = 0; a < 20; a++) {
      text += "m" + std::to_string(a) + "\nMatrix P\n";
      for (int f = 0; f < 12; f++) {
        for (int c = 0; c < 6; c++) {
          std::snprintf(number, sizeof number, "%.17g ", (c == 0 || c == 3 || c == 5) ? pos(g) : u(g));
          text += number;
        }
        text += "\n";
      }
      for (int v = 0; v < 2; v++) {
        text += v == 0 ? "Vector mu\n" : "Vector sigma\n";
        for (int f = 0; f < 12; f++) {
          std::snprintf(number, sizeof number, "%.17g ", v == 0 ? 0.1 * u(g) : pos(g));
          text += number;
        }
        text += "\n";
      }
    }
    path = scratch.work() + "/../db.dat";
    std::system(("mkdir -p '" + scratch.work() + "'").c_str());
    FILE* f = std::fopen(path.c_str(), "w");
    std::fputs(text.c_str(), f);
    std::fclose(f);
    database = new Database(path.c_str(), &bank);
    D = v_get(12);
    for (int f = 0; f < 12; f++) D->ve[f] = pos(g);
  }
  ~Models() {
    delete database;
    v_free(D);
  }
  Scratch scratch;
  Filters bank;
  std::string path;
  Database* database;
  VEC* D;
};

void BM_classify(benchmark::State& state) {
  Models models;
  ISpace space(0.0, 6.283185307179586, 120, 0.5235987755982988, 1.1344640137963142, 35, 0.8, 1.3,
               5);
  for (auto _ : state) {
    int number;
    double ratio;
    benchmark::DoNotOptimize(models.database->classify(models.D, &space, 3, &number, &ratio));
  }
}
BENCHMARK(BM_classify)->Unit(benchmark::kMillisecond);

void BM_delta_loop(benchmark::State& state) {
  Models models;
  ISpace space(0.0, 6.283185307179586, 120, 0.5235987755982988, 1.1344640137963142, 35, 0.8, 1.3,
               5);
  for (auto _ : state) {
    double sum = 0;
    for (u_int a = 0; a < 20; a++)
      sum += weighted_distance_plain(models.database->surfaces[a], models.D, &space);
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_delta_loop)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
