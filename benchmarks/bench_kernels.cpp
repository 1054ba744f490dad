// Benchmarks of the hot paths: the response vector of an image, the model
// parameters of a training set, and classification over the illumination
// space (with the loop over delta that it replaces, for comparison).
#include <benchmark/benchmark.h>
#include <immintrin.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "class.h"
#include "class_surface.h"
#include "filters.h"
#include "image.h"
#include "program.h"
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
        std::vector<unsigned char> pixels(static_cast<size_t>(image_size) * image_size);
        for (unsigned char& p : pixels) p = static_cast<unsigned char>(byte(g));
        write_pnm(dir + "/aaa_45_" + std::to_string(tilt) + ".pgm", image_size, image_size, 1,
                  pixels.data());
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

// The core's floating-point peak: independent chains of 256-bit fused
// multiply-adds (2 flops per lane). The percentages of the other benchmarks
// are taken against this figure, measured in the same run.
__attribute__((target("avx2,fma"), noinline)) double fma_chains(long n) {
  const __m256d m = _mm256_set1_pd(0.999999), c = _mm256_set1_pd(1e-7);
  __m256d a0 = _mm256_set1_pd(1), a1 = _mm256_set1_pd(2), a2 = _mm256_set1_pd(3),
          a3 = _mm256_set1_pd(4), a4 = _mm256_set1_pd(5), a5 = _mm256_set1_pd(6),
          a6 = _mm256_set1_pd(7), a7 = _mm256_set1_pd(8), a8 = _mm256_set1_pd(9),
          a9 = _mm256_set1_pd(10);
  for (long i = 0; i < n; i++) {
    a0 = _mm256_fmadd_pd(a0, m, c);
    a1 = _mm256_fmadd_pd(a1, m, c);
    a2 = _mm256_fmadd_pd(a2, m, c);
    a3 = _mm256_fmadd_pd(a3, m, c);
    a4 = _mm256_fmadd_pd(a4, m, c);
    a5 = _mm256_fmadd_pd(a5, m, c);
    a6 = _mm256_fmadd_pd(a6, m, c);
    a7 = _mm256_fmadd_pd(a7, m, c);
    a8 = _mm256_fmadd_pd(a8, m, c);
    a9 = _mm256_fmadd_pd(a9, m, c);
    // Keeps the loop from being folded away.
    asm volatile("" : "+x"(a0), "+x"(a5));
  }
  __m256d s = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(a0, a1), _mm256_add_pd(a2, a3)),
                            _mm256_add_pd(_mm256_add_pd(a4, a5), _mm256_add_pd(a6, a7)));
  s = _mm256_add_pd(s, _mm256_add_pd(a8, a9));
  double out[4];
  _mm256_storeu_pd(out, s);
  return out[0] + out[1] + out[2] + out[3];
}

void BM_fma_peak(benchmark::State& state) {
  long n = 1 << 20;
  benchmark::DoNotOptimize(n);
  for (auto _ : state) benchmark::DoNotOptimize(fma_chains(n));
  state.counters["FLOP/s"] =
      benchmark::Counter(double(n) * 10 * 4 * 2, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_fma_peak);

// The same with 512-bit vectors, where the processor has them: a core with
// full-width 512-bit units doubles the peak above. Where it is measured, the
// shares (scripts/benchmark) are of this peak, the one the 512-bit kernels
// can reach, with those of BM_fma_peak beside them.
__attribute__((target("avx512f"), noinline)) double fma512_chains(long n) {
  const __m512d m = _mm512_set1_pd(0.999999), c = _mm512_set1_pd(1e-7);
  __m512d a0 = _mm512_set1_pd(1), a1 = _mm512_set1_pd(2), a2 = _mm512_set1_pd(3),
          a3 = _mm512_set1_pd(4), a4 = _mm512_set1_pd(5), a5 = _mm512_set1_pd(6),
          a6 = _mm512_set1_pd(7), a7 = _mm512_set1_pd(8), a8 = _mm512_set1_pd(9),
          a9 = _mm512_set1_pd(10);
  for (long i = 0; i < n; i++) {
    a0 = _mm512_fmadd_pd(a0, m, c);
    a1 = _mm512_fmadd_pd(a1, m, c);
    a2 = _mm512_fmadd_pd(a2, m, c);
    a3 = _mm512_fmadd_pd(a3, m, c);
    a4 = _mm512_fmadd_pd(a4, m, c);
    a5 = _mm512_fmadd_pd(a5, m, c);
    a6 = _mm512_fmadd_pd(a6, m, c);
    a7 = _mm512_fmadd_pd(a7, m, c);
    a8 = _mm512_fmadd_pd(a8, m, c);
    a9 = _mm512_fmadd_pd(a9, m, c);
    asm volatile("" : "+v"(a0), "+v"(a5));
  }
  __m512d s = _mm512_add_pd(_mm512_add_pd(_mm512_add_pd(a0, a1), _mm512_add_pd(a2, a3)),
                            _mm512_add_pd(_mm512_add_pd(a4, a5), _mm512_add_pd(a6, a7)));
  s = _mm512_add_pd(s, _mm512_add_pd(a8, a9));
  double out[8];
  _mm512_storeu_pd(out, s);
  return out[0] + out[7];
}

void BM_fma512_peak(benchmark::State& state) {
  long n = 1 << 20;
  benchmark::DoNotOptimize(n);
  for (auto _ : state) benchmark::DoNotOptimize(fma512_chains(n));
  state.counters["FLOP/s"] =
      benchmark::Counter(double(n) * 10 * 8 * 2, benchmark::Counter::kIsIterationInvariantRate);
}

template <VEC* (*Response)(Filters*, MAT*)>
void BM_image_response(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0)), F = static_cast<int>(state.range(1)), M = 13;
  Scratch scratch(F, M, 0);
  Filters bank(scratch.bank().c_str());
  bank.normalise();
  MAT* image = random_image(size);
  for (auto _ : state) {
    VEC* r = Response(&bank, image);
    benchmark::DoNotOptimize(r->ve[0]);
    v_free(r);
  }
  const double macs = double(F) * (size - M + 1) * (size - M + 1) * M * M;
  state.counters["FLOP/s"] =
      benchmark::Counter(2 * macs, benchmark::Counter::kIsIterationInvariantRate);
  m_free(image);
}
// The sweep: response vectors of every bank size from 1 to 64 (13 x 13,
// 256 x 256), and of kernel sizes 5 to 31 on images of 64 to 1024 a side
// with the bank sizes whose grouping differs (1 to 5, 8, 12, 16: groups of
// four, of eight, and of eight and four). Arguments:
// number of kernels, kernel size, image size.
void BM_response_sweep(benchmark::State& state) {
  const int F = static_cast<int>(state.range(0)), M = static_cast<int>(state.range(1)),
            size = static_cast<int>(state.range(2));
  Scratch scratch(F, M, 0);
  Filters bank(scratch.bank().c_str());
  bank.normalise();
  MAT* image = random_image(size);
  // A call before timing: the first at a new size faults in its buffers,
  // which a program does once.
  v_free(image_response(&bank, image));
  for (auto _ : state) {
    VEC* r = image_response(&bank, image);
    benchmark::DoNotOptimize(r->ve[0]);
    v_free(r);
  }
  const double macs = double(F) * (size - M + 1) * (size - M + 1) * M * M;
  state.counters["FLOP/s"] =
      benchmark::Counter(2 * macs, benchmark::Counter::kIsIterationInvariantRate);
  m_free(image);
}
void response_sweep(benchmark::internal::Benchmark* b) {
  for (int F = 1; F <= 64; F++) b->Args({F, 13, 256});
  for (int M : {5, 7, 13, 15, 31})
    for (int size : {64, 128, 256, 512, 1024})
      for (int F : {1, 2, 3, 4, 5, 8, 12, 16})
        if (!(M == 13 && size == 256)) b->Args({F, M, size});
}
BENCHMARK(BM_response_sweep)->Apply(response_sweep)->MinTime(0.05)->Unit(benchmark::kMillisecond);

// Arguments: image size, number of kernels (13 x 13).
BENCHMARK_TEMPLATE(BM_image_response, image_response_plain)
    ->Args({256, 12})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_image_response, image_response)
    ->Args({256, 12})
    ->Args({128, 12})
    ->Args({512, 12})
    ->Args({256, 8})
    ->Args({256, 16})
    ->Args({256, 48})
    ->Unit(benchmark::kMillisecond);

// The cost of a mask on the default bank's shape (16 kernels of 15 x 15,
// 256 x 256): argument 0 no mask, 1 a mask of all ones (only the test that
// every position counts is added), 2 a mask without a border of 8 pixels
// (the counted positions' own path).
std::vector<unsigned char> bench_mask(int size, int kind) {
  std::vector<unsigned char> inside(static_cast<size_t>(size) * size, 1);
  if (kind == 2)
    for (int i = 0; i < size; i++)
      for (int j = 0; j < size; j++)
        if (i < 8 || j < 8 || i >= size - 8 || j >= size - 8) inside[i * size + j] = 0;
  return inside;
}

// The model's parameters from 12 images of 256 x 256. Arguments: kernels,
// kernel size, mask (as bench_mask).
void BM_parameters(benchmark::State& state) {
  const int F = static_cast<int>(state.range(0)), M = static_cast<int>(state.range(1)),
            kind = static_cast<int>(state.range(2));
  Scratch scratch(F, M, 256);
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
  if (kind) tset.inside = bench_mask(256, kind);
  VEC* mu = v_get(F);
  VEC* sigma = v_get(F);
  for (auto _ : state) {
    MAT* P = tset.parameters(&bank, mu, sigma);
    benchmark::DoNotOptimize(P->me[0][0]);
    m_free(P);
  }
  // The correlations alone: 3 normal planes and 12 images per kernel.
  const double outputs = double(256 - M + 1) * (256 - M + 1);
  state.counters["FLOP/s"] = benchmark::Counter(2.0 * 15 * F * outputs * M * M,
                                                benchmark::Counter::kIsIterationInvariantRate);
  v_free(mu);
  v_free(sigma);
  delete[] in;
  if (chdir(previous) != 0) std::abort();
}
BENCHMARK(BM_parameters)
    ->Args({12, 13, 0})
    ->Args({16, 15, 0})
    ->Args({16, 15, 1})
    ->Args({16, 15, 2})
    ->Unit(benchmark::kMillisecond);

void BM_masked_response(benchmark::State& state) {
  const int size = 256, F = 16, M = 15, kind = static_cast<int>(state.range(0));
  Scratch scratch(F, M, 0);
  Filters bank(scratch.bank().c_str());
  bank.normalise();
  MAT* image = random_image(size);
  const std::vector<unsigned char> inside = bench_mask(size, kind);
  v_free(image_response(&bank, image, kind ? inside.data() : nullptr));
  for (auto _ : state) {
    VEC* r = image_response(&bank, image, kind ? inside.data() : nullptr);
    benchmark::DoNotOptimize(r->ve[0]);
    v_free(r);
  }
  const double macs = double(F) * (size - M + 1) * (size - M + 1) * M * M;
  state.counters["FLOP/s"] =
      benchmark::Counter(2 * macs, benchmark::Counter::kIsIterationInvariantRate);
  m_free(image);
}
BENCHMARK(BM_masked_response)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// 20 models of 12 filters with random parameters, read from model text.
struct Models {
  explicit Models(int F = 12) : scratch(F, 3, 0), bank(scratch.bank().c_str()) {
    std::mt19937 g(3);
    std::uniform_real_distribution<double> u(-1, 1), pos(0.1, 2);
    std::string text = "20\n";
    char number[64];
    for (int a = 0; a < 20; a++) {
      text += "m" + std::to_string(a) + "\nMatrix P\n";
      for (int f = 0; f < F; f++) {
        for (int c = 0; c < 6; c++) {
          std::snprintf(number, sizeof number, "%.17g ",
                        (c == 0 || c == 3 || c == 5) ? pos(g) : u(g));
          text += number;
        }
        text += "\n";
      }
      for (int v = 0; v < 2; v++) {
        text += v == 0 ? "Vector mu\n" : "Vector sigma\n";
        for (int f = 0; f < F; f++) {
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
    D = v_get(F);
    for (int f = 0; f < F; f++) D->ve[f] = pos(g);
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

// Flops of one distance term: six products and six sums for the
// prediction, two differences, a division, a square and a sum.
constexpr double kFlopsPerTerm = 17;

void BM_classify(benchmark::State& state) {
  const int F = static_cast<int>(state.range(0));
  Models models(F);
  ISpace space(0.0, 6.283185307179586, 120, 0.5235987755982988, 1.1344640137963142, 35, 0.8, 1.3,
               5);
  for (auto _ : state) {
    int number;
    double ratio;
    benchmark::DoNotOptimize(models.database->classify(models.D, &space, 3, &number, &ratio));
  }
  state.counters["FLOP/s"] = benchmark::Counter(kFlopsPerTerm * 21000 * 20 * F,
                                                benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_classify)->Arg(12)->Arg(8)->Arg(16)->Arg(48)->Unit(benchmark::kMillisecond);
// The sweep over bank sizes 1 to 64.
BENCHMARK(BM_classify)
    ->Name("BM_classify_sweep")
    ->DenseRange(1, 64)
    ->MinTime(0.05)
    ->Unit(benchmark::kMillisecond);

void BM_delta_loop(benchmark::State& state) {
  Models models(12);
  ISpace space(0.0, 6.283185307179586, 120, 0.5235987755982988, 1.1344640137963142, 35, 0.8, 1.3,
               5);
  for (auto _ : state) {
    double sum = 0;
    for (u_int a = 0; a < 20; a++)
      sum += weighted_distance_plain(models.database->surfaces[a], models.D, &space);
    benchmark::DoNotOptimize(sum);
  }
  state.counters["FLOP/s"] = benchmark::Counter(kFlopsPerTerm * 21000 * 20 * 12,
                                                benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_delta_loop)->Unit(benchmark::kMillisecond);

// The peak again at the end: on a shared machine the lower of the two
// tells how much the run was disturbed.
BENCHMARK(BM_fma_peak)->Name("BM_fma_peak_end");

}  // namespace

int main(int argc, char** argv) {
  keep_freed_memory();  // as the programs do
  if (__builtin_cpu_supports("avx512f")) {
    // Twice, as the 256-bit peak: the script keeps the higher.
    benchmark::RegisterBenchmark("BM_fma512_peak", BM_fma512_peak);
    benchmark::RegisterBenchmark("BM_fma512_peak_end", BM_fma512_peak);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
