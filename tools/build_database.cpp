// build_database: builds the surface models of the classification database
// from the surfaces' training images and writes the database file.
//
// Run in an experiment working directory (images at ../../../data/...).
#include <sched.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "class.h"
#include "classification_test.h"
#include "data_error.h"
#include "filters.h"
#include "program.h"
#include "read_write_database.h"
#include "surface.h"
#include "training_set.h"

namespace {

void usage(FILE* f) {
  std::fprintf(f,
               "Usage: build_database [options]\n"
               "Builds one model per surface from the 12 images of one image set (slant 45,\n"
               "tilts 0, 30, ..., 330) and writes the database file. Run it in an experiment\n"
               "working directory: images are read from ../../../data/<name>/<name><set>/.\n"
               "\n"
               "Options:\n"
               "  --filters FILE    filter bank to use (default filters.dat); it is normalised\n"
               "  --output FILE     database file to write (default test20.dat); written to a\n"
               "                    temporary file and renamed into place when complete\n"
               "  --surfaces LIST   comma-separated surface names, in class order (default the\n"
               "                    20 surfaces of classify_experiment, in its order)\n"
               "  --set Q           image set the models are built from (default 0)\n"
               "  --allow-zero-sigma\n"
               "                    write the database even when a model's sigma is written\n"
               "                    as 0 (every distance to that model is then infinite or\n"
               "                    not a number); without it such a database is refused\n"
               "  --jobs N          build N models at a time, one per thread (default: one per\n"
               "                    core this process may use); the file is the same for any N\n"
               "  -h, --help        show this help\n");
}

int bad_argument(const std::string& why) {
  std::fprintf(stderr, "build_database: %s\n", why.c_str());
  usage(stderr);
  return kExitUsage;
}

std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    size_t comma = text.find(',', start);
    parts.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return parts;
}

// The sigma elements of a model that the six-decimal file stores as zero:
// every distance to such a model is infinite or not a number. Each is
// described as "surface <name>, filter <f> (<kernel>): sigma <value> is
// written as <text>".
std::vector<std::string> zero_sigmas(const ClassSurface* model, const Filters* bank) {
  std::vector<std::string> found;
  for (unsigned int f = 0; f < model->sigma->dim; f++) {
    char text[64], value[64];
    std::snprintf(text, sizeof text, "%0.6lf", model->sigma->ve[f]);
    if (std::strtod(text, nullptr) == 0.0) {
      std::snprintf(value, sizeof value, "%g", model->sigma->ve[f]);
      found.push_back("surface " + std::string(model->name) + ", filter " + std::to_string(f) +
                      " (" + filter_name(bank, f) + "): sigma " + value + " is written as " + text);
    }
  }
  return found;
}

// The cores this process may run on.
unsigned int available_cores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return static_cast<unsigned int>(CPU_COUNT(&set));
  const unsigned int n = std::thread::hardware_concurrency();
  return n > 0 ? n : 1;
}

int build_database(int argc, char** argv) {
  std::string bank_file = "filters.dat", output = "test20.dat";
  std::vector<std::string> names(kSurfaceNames, kSurfaceNames + 20);
  long set = 0;
  bool allow_zero_sigma = false;
  unsigned int jobs = available_cores();
  for (int a = 1; a < argc; a++) {
    std::string arg = argv[a];
    auto value = [&](std::string& into) {
      if (a + 1 >= argc) return false;
      into = argv[++a];
      return true;
    };
    std::string v;
    if (arg == "-h" || arg == "--help") {
      usage(stdout);
      return 0;
    } else if (arg == "--filters") {
      if (!value(bank_file) || bank_file.empty()) return bad_argument("--filters needs a file");
    } else if (arg == "--output") {
      if (!value(output) || output.empty()) return bad_argument("--output needs a file");
    } else if (arg == "--surfaces") {
      if (!value(v)) return bad_argument("--surfaces needs a list of names");
      names = split(v);
      for (const std::string& n : names) {
        std::string why = unreadable_name(n.c_str());
        if (n.find('/') != std::string::npos) why = "it holds '/'";
        if (n == "." || n == "..") why = "it is not a surface directory name";
        if (!why.empty()) return bad_argument("unusable surface name \"" + n + "\": " + why);
      }
    } else if (arg == "--allow-zero-sigma") {
      allow_zero_sigma = true;
    } else if (arg == "--set") {
      if (!value(v)) return bad_argument("--set needs a number");
      char* end;
      set = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || set < 0 || set > 999)
        return bad_argument("--set needs a whole number from 0 to 999, not \"" + v + "\"");
    } else if (arg == "--jobs") {
      if (!value(v)) return bad_argument("--jobs needs a number");
      char* end;
      const long n = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || n < 1 || n > 1024)
        return bad_argument("--jobs needs a whole number from 1 to 1024, not \"" + v + "\"");
      jobs = static_cast<unsigned int>(n);
    } else {
      return bad_argument("unknown argument \"" + arg + "\"");
    }
  }

  u_int t[12] = {0, 30, 60, 90, 120, 150, 180, 210, 240, 270, 300, 330};
  u_int s[1] = {45};
  int tt[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

  Filters bank(bank_file.c_str());
  bank.normalise();
  std::fprintf(stderr,
               "build_database: bank %s (%u filters of %ux%u), %zu surfaces, image set %ld, "
               "output %s\n",
               bank_file.c_str(), bank.F, bank.filters[0]->m, bank.filters[0]->n, names.size(), set,
               output.c_str());

  std::vector<Surface*> surfaces;
  Index* in = tilts(static_cast<int>(set), 0, 12, tt);
  int status = 0;
  try {
    for (const std::string& n : names)
      surfaces.push_back(new Surface(static_cast<unsigned int>(set + 1), 1, s, 12, t, n.c_str()));
    Database database(static_cast<unsigned int>(surfaces.size()), surfaces.data(), &bank, 12, in,
                      jobs);
    std::vector<std::string> zeros;
    for (u_int k = 0; k < database.K; k++) {
      std::vector<std::string> found = zero_sigmas(database.surfaces[k], &bank);
      zeros.insert(zeros.end(), found.begin(), found.end());
    }
    if (!zeros.empty() && !allow_zero_sigma)
      data_error(output, 0,
                 "the database was not written: " + zeros[0] +
                     ", so every distance to the model would be infinite or not a number",
                 (zeros.size() > 1 ? std::to_string(zeros.size()) + " such spreads in all; " : "") +
                     "--allow-zero-sigma writes it anyway");
    for (const std::string& zero : zeros)
      std::fprintf(stderr,
                   "build_database: warning: %s; every distance to this model will be infinite "
                   "or not a number\n",
                   zero.c_str());
    database.output(output.c_str());
    std::fprintf(stderr, "build_database: wrote %u models to %s\n", database.K, output.c_str());
  } catch (...) {
    for (Surface* surface : surfaces) delete surface;
    delete[] in;
    throw;
  }
  for (Surface* surface : surfaces) delete surface;
  delete[] in;
  return status;
}

}  // namespace

int main(int argc, char** argv) { return run_program(argc, argv, build_database); }
