#include "classify_images_cli.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bank_choice.h"
#include "cli.h"
#include "csv.h"
#include "data_error.h"
#include "filters.h"
#include "image_classification.h"
#include "manifest.h"
#include "manifest_cli.h"
#include "number.h"
#include "program.h"

namespace {

const char kProgram[] = "classify_images";

const CliSpec& spec() {
  static const CliSpec kSpec = [] {
    CliSpec c{kProgram, "--manifest FILE --database DB --sets LIST [options]",
              "Classifies every image of the listed sets of the manifest against the models of "
              "the\ndatabase, each over the sampled light vectors, and writes one CSV line per "
              "image, in\nthe manifest's order, after the header\n"
              "  surface,set,image,predicted,nearer,ratio\n"
              "predicted is the name of the nearest model; nearer is the number of models "
              "strictly\nnearer than the model of the image's own surface (the model of the same "
              "name), ratio\nwhere that model's distance lies between the nearest (0) and the "
              "farthest (1). Both\nare empty when the database holds no model of that name.",
              manifest_command_options(
                  {{"database", "FILE", "the database file"},
                   {"sets", "LIST", "image sets to classify, comma-separated, e.g. 1,2,3"}}),
              ""};
    return c;
  }();
  return kSpec;
}

struct Options {
  std::string manifest, database, output;
  std::vector<unsigned int> sets;
  ImageOptions image;
  SpaceOption space;
  long jobs = available_cores();
  long surface = -1;
  bool y_up = false;
};

Options read_options(const CliArgs& args) {
  Options o;
  o.manifest = args.nonempty("manifest", "");
  o.database = args.nonempty("database", "");
  o.output = args.nonempty("output", "");
  std::string why;
  if (args.has("sets") && !parse_sets(args.text("sets"), &o.sets, &why))
    throw UsageError("--sets: " + why);
  read_shared_options(args, &o.image, &o.space, &o.jobs, &o.surface, &o.y_up);
  if (o.manifest.empty() || o.database.empty() || !args.has("sets"))
    throw UsageError("--manifest, --database and --sets are needed, each with a value");
  return o;
}

}  // namespace

static int classify_images_body(const CliArgs& args) {
  const Options o = read_options(args);
  keep_released_memory();

  std::unique_ptr<AtomicOutput> output;
  if (!o.output.empty()) output.reset(new AtomicOutput(o.output));
  Manifest manifest(o.manifest, o.y_up);
  const SpaceOption sampled = space_for(o.space, manifest);
  keep_surface(&manifest, o.surface);
  const std::unique_ptr<Filters> owned_bank = chosen_bank(args, kProgram);
  Filters& bank = *owned_bank;
  Database database(o.database.c_str(), &bank);
  const std::map<std::string, u_int> classes = model_classes(database, o.database);
  const std::unique_ptr<ISpace> space = make_space(sampled);
  std::fprintf(stderr,
               "%s: manifest %s, sets %s; database %s, %u models; space %s, %u light vectors; "
               "%ld threads\n",
               kProgram, o.manifest.c_str(), join_sets(o.sets).c_str(), o.database.c_str(),
               database.K, space_values(sampled).c_str(), space->K, o.jobs);
  warn_lights_outside(kProgram, manifest, images_of_sets(manifest, o.sets), sampled);
  const std::vector<ImageClassification> results =
      classify_manifest_images(manifest, o.sets, &database, classes, space.get(), o.image,
                               static_cast<unsigned>(o.jobs), progress_lines(kProgram));

  std::string csv;
  append_csv_record(csv, {"surface", "set", "image", "predicted", "nearer", "ratio"});
  for (const ImageClassification& r : results) {
    const ManifestImage& image = manifest.images[r.image];
    append_csv_record(
        csv, {image.surface, std::to_string(image.set), image.image,
              database.surfaces[r.predicted]->name, r.own_model ? std::to_string(r.nearer) : "",
              r.own_model ? csv_number(r.ratio) : ""});
  }
  write_csv(csv, output.get());
  return 0;
}

int classify_images(int argc, char** argv) {
  return run_cli(spec(), argc, argv, classify_images_body);
}
