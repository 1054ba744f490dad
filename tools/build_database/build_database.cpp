// build_database: builds the surface models of the classification database
// from the surfaces' training images and writes the database file.
//
// Run in an experiment working directory (images at ../../../data/...), or
// given a manifest that lists the images and their lights.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bank_choice.h"
#include "class.h"
#include "classification_test.h"
#include "cli.h"
#include "data_error.h"
#include "experiment.h"
#include "filters.h"
#include "image.h"
#include "manifest.h"
#include "number.h"
#include "parallel.h"
#include "parameters.h"
#include "program.h"
#include "read_write_database.h"
#include "surface.h"
#include "training_set.h"

namespace {

const CliSpec& spec() {
  static const CliSpec kSpec = [] {
    CliSpec c{
        "build_database",
        "[options]\n       build_database --manifest FILE [--set Q] [options]",
        "Builds one model per surface from the images of one image set and writes the\n"
        "database file, in one of two modes:\n"
        "  the fixed layout (no --manifest): run in an experiment working directory; the\n"
        "    12 images of set Q of each surface (slant 45, tilts 0, 30, ..., 330) are\n"
        "    read from ../../../data/<name>/<name><Q>/ (PGM), surfaces as --surfaces;\n"
        "  a manifest (--manifest FILE, a CSV listing each image with its surface, set\n"
        "    and light; see docs/own_data.md): one model per surface with images of\n"
        "    set Q, in the order the surfaces first appear, from any number of images\n"
        "    of any format the manifest commands read (at least 4 lights spanning\n"
        "    three directions per set).",
        {{"manifest", "FILE", "build from the images of this manifest (manifest mode)"},
         {"set", "Q",
          "image set the models are built from (default 0; at most 999 in\nthe fixed layout)"},
         {"surfaces", "LIST",
          "fixed layout: comma-separated surface names, in class order\n(default the 20 "
          "surfaces of classify_experiment, in its order)"},
         {"list-surfaces", "", "fixed layout: print those 20 default names, one a line, and stop"},
         {"output", "FILE",
          "database file to write (default test20.dat); written to a\ntemporary file and "
          "renamed into place when complete"},
         {"srgb", "", "manifest mode: undo the sRGB transfer curve of the images first"},
         {"y-up", "",
          "manifest mode: the manifest's y axis points up the picture\n(a light x,y,z is taken as "
          "(x, -y, z), slant, tilt as (s, -t mod 360))"},
         {"allow-zero-sigma", "",
          "write the database even when a model's sigma is written as 0\n(for inspection only: "
          "classify_images and classify_experiment\nrefuse to read such a database); without "
          "it such a database is\nrefused"},
         {"jobs", "N",
          "build N models at a time, one per thread (default: one per\ncore this process may "
          "use); the file is the same for any N"}},
        ""};
    const std::vector<CliOption> banks = bank_options();
    c.options.insert(c.options.begin() + 4, banks.begin(), banks.end());
    return c;
  }();
  return kSpec;
}

// Writes the database (read_write_database.h), with a warning for each sigma
// stored as zero that --allow-zero-sigma lets through.
void write_database(Database& database, const Filters* bank, const std::string& output,
                    bool allow_zero_sigma) {
  write_database_file(database, bank, output, allow_zero_sigma, [](const std::string& zero) {
    std::fprintf(stderr,
                 "build_database: warning: %s; every distance to this model will be infinite "
                 "or not a number\n",
                 zero.c_str());
  });
  std::fprintf(stderr, "build_database: wrote %u models to %s\n", database.K, output.c_str());
}

// The models of every surface of the manifest with images of set q, in
// the order the surfaces first appear; each set is checked before any image
// is read.
int build_from_manifest(const std::string& file, bool y_up, long set, const ImageOptions& options,
                        Filters* bank, const std::string& output, bool allow_zero_sigma,
                        unsigned int jobs) {
  const Manifest manifest(file, y_up);
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

int build_database(const CliArgs& args) {
  if (args.has("list-surfaces")) {
    for (const char* name : kSurfaceNames) std::printf("%s\n", name);
    return 0;
  }
  const std::string output = args.nonempty("output", "test20.dat");
  const std::string manifest = args.nonempty("manifest", "");
  std::vector<std::string> names(kSurfaceNames, kSurfaceNames + kExperimentSurfaces);
  if (args.has("surfaces")) {
    if (!manifest.empty()) throw UsageError("--surfaces and --manifest exclude each other");
    names = split_text(args.text("surfaces"), ',');
    for (const std::string& n : names) {
      std::string why = unreadable_name(n.c_str());
      if (n.find('/') != std::string::npos) why = "it holds '/'";
      if (n == "." || n == "..") why = "it is not a surface directory name";
      if (!why.empty()) throw UsageError("unusable surface name \"" + n + "\": " + why);
    }
  }
  // A manifest's sets are not held to the three digits of the image folders.
  const long set = args.whole("set", 0, manifest.empty() ? 999 : 2147483647, 0);
  ImageOptions options;
  options.srgb = args.has("srgb");
  if (manifest.empty() && options.srgb) throw UsageError("--srgb goes with --manifest only");
  if (manifest.empty() && args.has("y-up")) throw UsageError("--y-up goes with --manifest only");
  const bool allow_zero_sigma = args.has("allow-zero-sigma");
  const unsigned int jobs =
      static_cast<unsigned int>(args.whole("jobs", 1, 1024, available_cores()));

  const u_int* t = kExperimentTilts;
  const u_int* s = kExperimentSlants;
  const int* tt = kExperimentImages;

  const std::unique_ptr<Filters> owned_bank = chosen_bank(args, "build_database");
  Filters& bank = *owned_bank;
  const std::string bank_file = bank_label(args);
  if (!manifest.empty()) {
    std::fprintf(stderr,
                 "build_database: bank %s (%u filters of %ux%u), manifest %s, image set %ld, "
                 "output %s\n",
                 bank_file.c_str(), bank.F, bank.filters[0]->m, bank.filters[0]->n,
                 manifest.c_str(), set, output.c_str());
    return build_from_manifest(manifest, args.has("y-up"), set, options, &bank, output,
                               allow_zero_sigma, jobs);
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

int main(int argc, char** argv) {
  return run_program(argc, argv, [](int argc, char** argv) {
    return run_cli(spec(), argc, argv, build_database);
  });
}
