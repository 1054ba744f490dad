// build_database: builds the surface models of the classification database
// from the surfaces' training images and writes the database file.
//
// Run in an experiment working directory (images at ../../../data/...), or
// given a manifest that lists the images and their lights.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "class.h"
#include "classification_test.h"
#include "data_error.h"
#include "experiment.h"
#include "filters.h"
#include "image.h"
#include "manifest.h"
#include "parallel.h"
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
               "  --manifest FILE   build from the images of a manifest instead (CSV with the\n"
               "                    columns surface,set,image and slant,tilt or x,y,z; see the\n"
               "                    README): one model per surface with images of set Q, in the\n"
               "                    order the surfaces first appear; not with --surfaces\n"
               "  --srgb            with --manifest: undo the sRGB transfer curve of the\n"
               "                    images first\n"
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

// Writes the database unless a sigma would be stored as zero (then only
// with allow_zero_sigma, after a warning for each).
void write_database(Database& database, const Filters* bank, const std::string& output,
                    bool allow_zero_sigma) {
  std::vector<std::string> zeros;
  for (u_int k = 0; k < database.K; k++) {
    std::vector<std::string> found = zero_sigmas(database.surfaces[k], bank);
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
}

// The models of every surface of the manifest with images of set q, in
// the order the surfaces first appear; each set is checked before any image
// is read.
int build_from_manifest(const std::string& file, long set, const ImageOptions& options,
                        Filters* bank, const std::string& output, bool allow_zero_sigma,
                        unsigned int jobs) {
  const Manifest manifest(file);
  const unsigned int q = static_cast<unsigned int>(set);
  std::vector<std::string> names;
  for (const std::string& surface : manifest.surfaces) {
    const std::vector<size_t> images = manifest.set_of(surface, q);
    if (images.empty()) continue;
    check_model_set(manifest, images);
    names.push_back(surface);
  }
  if (names.empty()) data_error(file, 0, "the manifest lists no image of set " + std::to_string(q));
  std::vector<ClassSurface*> models(names.size(), nullptr);
  std::mutex progress;
  try {
    parallel_for(names.size(), jobs, [&](size_t k) {
      {
        std::lock_guard<std::mutex> lock(progress);
        std::fprintf(stderr, "Building the database: surface %s\n", names[k].c_str());
      }
      models[k] = manifest_model(manifest, names[k], q, bank, options);
    });
  } catch (...) {
    for (ClassSurface* model : models) delete model;
    throw;
  }
  Database database(static_cast<unsigned int>(models.size()), models.data(), bank);
  write_database(database, bank, output, allow_zero_sigma);
  return 0;
}

int build_database(int argc, char** argv) {
  std::string bank_file = "filters.dat", output = "test20.dat", manifest;
  std::vector<std::string> names(kSurfaceNames, kSurfaceNames + kExperimentSurfaces);
  long set = 0;
  bool listed = false, have_set = false, allow_zero_sigma = false;
  unsigned int jobs = available_cores();
  std::string set_text;
  ImageOptions options;
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
      listed = true;
      for (const std::string& n : names) {
        std::string why = unreadable_name(n.c_str());
        if (n.find('/') != std::string::npos) why = "it holds '/'";
        if (n == "." || n == "..") why = "it is not a surface directory name";
        if (!why.empty()) return bad_argument("unusable surface name \"" + n + "\": " + why);
      }
    } else if (arg == "--set") {
      if (!value(set_text)) return bad_argument("--set needs a number");
      have_set = true;
    } else if (arg == "--manifest") {
      if (!value(manifest) || manifest.empty()) return bad_argument("--manifest needs a file");
    } else if (arg == "--srgb") {
      options.srgb = true;
    } else if (arg == "--allow-zero-sigma") {
      allow_zero_sigma = true;
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

  if (!manifest.empty() && listed)
    return bad_argument("--surfaces and --manifest exclude each other");
  if (have_set) {
    // A manifest's sets are not held to the three digits of the image folders.
    const long largest = manifest.empty() ? 999 : 2147483647;
    char* end;
    errno = 0;
    set = std::strtol(set_text.c_str(), &end, 10);
    if (set_text.empty() || *end != '\0' || set < 0 || set > largest || errno == ERANGE)
      return bad_argument("--set needs a whole number from 0 to " + std::to_string(largest) +
                          ", not \"" + set_text + "\"");
  }
  if (manifest.empty() && options.srgb) return bad_argument("--srgb goes with --manifest only");

  const u_int* t = kExperimentTilts;
  const u_int* s = kExperimentSlants;
  const int* tt = kExperimentImages;

  Filters bank(bank_file.c_str());
  bank.normalise();
  if (!manifest.empty()) {
    std::fprintf(stderr,
                 "build_database: bank %s (%u filters of %ux%u), manifest %s, image set %ld, "
                 "output %s\n",
                 bank_file.c_str(), bank.F, bank.filters[0]->m, bank.filters[0]->n,
                 manifest.c_str(), set, output.c_str());
    return build_from_manifest(manifest, set, options, &bank, output, allow_zero_sigma, jobs);
  }
  std::fprintf(stderr,
               "build_database: bank %s (%u filters of %ux%u), %zu surfaces, image set %ld, "
               "output %s\n",
               bank_file.c_str(), bank.F, bank.filters[0]->m, bank.filters[0]->n, names.size(), set,
               output.c_str());

  std::vector<Surface*> surfaces;
  Index* in = tilts(static_cast<int>(set), 0, kExperimentTiltCount, tt);
  int status = 0;
  try {
    for (const std::string& n : names)
      surfaces.push_back(new Surface(static_cast<unsigned int>(set + 1), kExperimentSlantCount, s,
                                     kExperimentTiltCount, t, n.c_str()));
    Database database(static_cast<unsigned int>(surfaces.size()), surfaces.data(), &bank,
                      kExperimentTiltCount, in, jobs);
    write_database(database, &bank, output, allow_zero_sigma);
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
