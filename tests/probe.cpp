// probe KIND FILE...: runs one reader of the system on a file, as the
// programs do, and prints a short summary of what it read. The tests use it
// to meet every reader's error paths as a user does, and a few deliberate
// faults (matrix library, sanitizers) to meet their handling.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "class.h"
#include "filters.h"
#include "image.h"
#include "program.h"
#include "surface.h"

namespace {

void* volatile g_kept;

int probe(int argc, char** argv) {
  if (argc < 2) return 2;
  const char* kind = argv[1];
  if (std::strcmp(kind, "pgm") == 0 && argc == 3) {
    int width, height;
    FILE* f = skip_pgm_header(argv[2], &width, &height);
    MAT* image;
    try {
      image = read_pgm_raster(f, argv[2], height, width);
    } catch (...) {
      std::fclose(f);
      throw;
    }
    std::fclose(f);
    double sum = 0;
    for (int i = 0; i < height; i++)
      for (int j = 0; j < width; j++) sum += image->me[i][j];
    std::printf("%d %d %.0f\n", width, height, sum);
    m_free(image);
  } else if (std::strcmp(kind, "image") == 0 && argc == 3) {
    const GreyImage image = read_grey_image(argv[2]);
    double sum = 0;
    for (double v : image.pixels) sum += v;
    std::printf("%d %d %.0f\n", image.width, image.height, sum);
  } else if (std::strcmp(kind, "filters") == 0 && argc == 3) {
    Filters bank(argv[2]);
    bank.normalise();
    std::printf("%u %u\n", bank.F, bank.filters[0]->m);
  } else if (std::strcmp(kind, "normals") == 0 && argc == 3) {
    MatrixMultiple normals(argv[2]);
    std::printf("%u %u\n", normals.m, normals.n);
  } else if (std::strcmp(kind, "database") == 0 && argc == 4) {
    Filters bank(argv[3]);
    Database database(argv[2], &bank);
    std::printf("%u\n", database.K);
  } else if (std::strcmp(kind, "singular") == 0) {
    MAT* a = m_get(2, 2);
    MAT* b = m_get(2, 2);
    m_inverse(a, b);
    std::printf("not stopped\n");
  } else if (std::strcmp(kind, "leak") == 0) {
    // Deliberate faults, for the test that sanitized runs report them.
    g_kept = std::malloc(64);
    g_kept = nullptr;
  } else if (std::strcmp(kind, "overflow") == 0 && argc == 3) {
    const int n = std::atoi(argv[2]);
    std::printf("%d\n", n + 1);
  } else {
    return 2;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return run_program(argc, argv, probe); }
