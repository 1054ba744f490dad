#include "estimate_light_cli.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bank_choice.h"
#include "cli.h"
#include "csv.h"
#include "data_error.h"
#include "filters.h"
#include "light_estimation.h"
#include "manifest.h"
#include "manifest_cli.h"
#include "number.h"
#include "program.h"

namespace {

const char kProgram[] = "estimate_light";

const CliSpec& spec() {
  static const CliSpec kSpec = [] {
    CliSpec c{
        kProgram, "--manifest FILE --model-set S --test-set T [options]",
        "For every surface of the manifest with images in both sets: models the surface "
        "from\nits images of set S and finds, for each of its images of set T, the sampled "
        "light\nvector that fits the image best. Writes one CSV line per test image, in "
        "the\nmanifest's order, after the header\n"
        "  surface,set,image,slant,tilt,est_x,est_y,est_z,est_slant,est_tilt,error,"
        "twin_error,\n  better_share,ratio\n"
        "(one line): the true light's slant and tilt, the estimate (the sampled vector, "
        "with\nits magnitude) and its slant and tilt, its angle in degrees to the true "
        "light and to\nthe true light turned by 180 degrees of tilt, the share of sampled "
        "vectors that fit\nstrictly better than the true light, and where the true "
        "light's distance lies\nbetween the best (0) and the worst (1) sampled distance. "
        "Angles are in degrees, tilts\nin [0, 360).",
        manifest_command_options({{"model-set", "S", "the image set the models are built from"},
                                  {"test-set", "T", "the image set whose lights are estimated"}}),
        ""};
    return c;
  }();
  return kSpec;
}

struct Options {
  std::string manifest, output;
  long model_set = -1, test_set = -1;
  ImageOptions image;
  SpaceOption space;
  long jobs = available_cores();
  long surface = -1;
  bool y_up = false;
};

Options read_options(const CliArgs& args) {
  Options o;
  o.manifest = args.nonempty("manifest", "");
  o.output = args.nonempty("output", "");
  o.model_set = args.whole("model-set", 0, 2147483647, -1);
  o.test_set = args.whole("test-set", 0, 2147483647, -1);
  read_shared_options(args, &o.image, &o.space, &o.jobs, &o.surface, &o.y_up);
  if (o.manifest.empty() || o.model_set < 0 || o.test_set < 0)
    throw UsageError("--manifest, --model-set and --test-set are needed, each with a value");
  return o;
}

}  // namespace

static int estimate_light_body(const CliArgs& args) {
  const Options o = read_options(args);
  keep_released_memory();

  std::unique_ptr<AtomicOutput> output;
  if (!o.output.empty()) output.reset(new AtomicOutput(o.output));
  Manifest manifest(o.manifest, o.y_up);
  const SpaceOption sampled = space_for(o.space, manifest);
  keep_surface(&manifest, o.surface);
  const std::unique_ptr<Filters> owned_bank = chosen_bank(args, kProgram);
  Filters& bank = *owned_bank;
  const std::unique_ptr<ISpace> space = make_space(sampled);
  const unsigned int model_set = static_cast<unsigned>(o.model_set);
  const unsigned int test_set = static_cast<unsigned>(o.test_set);
  std::fprintf(stderr,
               "%s: manifest %s, models from set %u, lights of set %u; space %s, %u light "
               "vectors; %ld threads\n",
               kProgram, o.manifest.c_str(), model_set, test_set, space_values(sampled).c_str(),
               space->K, o.jobs);
  warn_lights_outside(kProgram, manifest, images_of_sets(manifest, {model_set, test_set}), sampled);
  const std::vector<LightEstimate> results =
      estimate_manifest_lights(manifest, model_set, test_set, &bank, space.get(), o.image,
                               static_cast<unsigned>(o.jobs), progress_lines(kProgram));

  std::string csv;
  append_csv_record(csv, {"surface", "set", "image", "slant", "tilt", "est_x", "est_y", "est_z",
                          "est_slant", "est_tilt", "error", "twin_error", "better_share", "ratio"});
  for (const LightEstimate& r : results) {
    const ManifestImage& image = manifest.images[r.image];
    append_csv_record(
        csv,
        {image.surface, std::to_string(image.set), image.image, csv_number(image.slant),
         csv_number(image.tilt), csv_number(r.written[0]), csv_number(r.written[1]),
         csv_number(r.written[2]), csv_number(r.slant), csv_number(r.tilt), csv_number(r.error),
         csv_number(r.twin_error), csv_number(r.better_share), csv_number(r.ratio)});
  }
  write_csv(csv, output.get());
  return 0;
}

int estimate_light(int argc, char** argv) {
  return run_cli(spec(), argc, argv, estimate_light_body);
}
