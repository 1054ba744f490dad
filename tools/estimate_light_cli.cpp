#include "estimate_light_cli.h"

#include <getopt.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli_parse.h"
#include "csv.h"
#include "data_error.h"
#include "filters.h"
#include "light_estimation.h"
#include "manifest.h"
#include "manifest_cli.h"
#include "program.h"

namespace {

const char kProgram[] = "estimate_light";

void usage(FILE* f) {
  std::fprintf(
      f, "%s",
      ("Usage: estimate_light --manifest FILE --model-set S --test-set T [options]\n"
       "For every surface of the manifest with images in both sets: models the surface from\n"
       "its images of set S and finds, for each of its images of set T, the sampled light\n"
       "vector that fits the image best. Writes one CSV line per test image, in the\n"
       "manifest's order, after the header\n"
       "  surface,set,image,slant,tilt,est_x,est_y,est_z,est_slant,est_tilt,error,twin_error,\n"
       "  better_share,ratio\n"
       "(one line): the true light's slant and tilt, the estimate (the sampled vector, with\n"
       "its magnitude) and its slant and tilt, its angle in degrees to the true light and to\n"
       "the true light turned by 180 degrees of tilt, the share of sampled vectors that fit\n"
       "strictly better than the true light, and where the true light's distance lies\n"
       "between the best (0) and the worst (1) sampled distance. Angles are in degrees, tilts\n"
       "in [0, 360).\n"
       "\n"
       "Options:\n"
       "  --manifest FILE   the images: CSV with the columns surface,set,image and\n"
       "                    slant,tilt or x,y,z (see the README)\n"
       "  --model-set S     the image set the models are built from\n"
       "  --test-set T      the image set whose lights are estimated\n"
       "  --filters FILE    filter bank (default filters.dat); it is normalised\n"
       "  --output FILE     CSV file to write, complete or not at all (default standard\n"
       "                    output)\n" +
       shared_option_usage())
          .c_str());
}

int bad_argument(const std::string& why) {
  std::fprintf(stderr, "%s: %s\n", kProgram, why.c_str());
  usage(stderr);
  return kExitUsage;
}

struct Options {
  std::string manifest, filters = "filters.dat", output;
  long model_set = -1, test_set = -1;
  ImageOptions image;
  SpaceOption space;
  long jobs = available_cores();
  long surface = -1;
};

// Fills `o`; returns -1 to go on, else the exit status.
int parse(int argc, char** argv, Options* o) {
  static const option kLong[] = {{"manifest", required_argument, nullptr, 'm'},
                                 {"model-set", required_argument, nullptr, 'M'},
                                 {"test-set", required_argument, nullptr, 'T'},
                                 {"filters", required_argument, nullptr, 'f'},
                                 {"output", required_argument, nullptr, 'o'},
                                 {"srgb", no_argument, nullptr, 'r'},
                                 {"space", required_argument, nullptr, 'S'},
                                 {"jobs", required_argument, nullptr, 'j'},
                                 {"surface", required_argument, nullptr, 'u'},
                                 {"help", no_argument, nullptr, 'h'},
                                 {nullptr, 0, nullptr, 0}};
  optind = 0;
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, ":h", kLong, nullptr)) != -1;) {
    const std::string value = optarg ? optarg : "";
    std::string why;
    switch (c) {
      case 'h':
        usage(stdout);
        return 0;
      case 'm':
        o->manifest = value;
        break;
      case 'f':
        o->filters = value;
        break;
      case 'o':
        o->output = value;
        break;
      case 'r':
        o->image.srgb = true;
        break;
      case 'M':
      case 'T':
        if (!gen::parse_int(value, 0, 2147483647, c == 'M' ? &o->model_set : &o->test_set))
          return bad_argument(std::string(c == 'M' ? "--model-set" : "--test-set") +
                              " needs a whole number of at least 0, not \"" + value + "\"");
        break;
      case 'S':
        if (!parse_space(value, &o->space, &why)) return bad_argument(why);
        break;
      case 'j':
        if (!gen::parse_int(value, 1, 1024, &o->jobs))
          return bad_argument("--jobs needs a whole number from 1 to 1024, not \"" + value + "\"");
        break;
      case 'u':
        if (!gen::parse_int(value, 0, 2147483647, &o->surface))
          return bad_argument("--surface needs a whole number of at least 0, not \"" + value +
                              "\"");
        break;
      case ':':
        return bad_argument(std::string(argv[optind - 1]) + " needs a value");
      default:
        return bad_argument("unknown argument \"" + std::string(argv[optind - 1]) + "\"");
    }
  }
  if (optind < argc)
    return bad_argument("unexpected argument \"" + std::string(argv[optind]) + "\"");
  if (o->manifest.empty() || o->model_set < 0 || o->test_set < 0 || o->filters.empty())
    return bad_argument("--manifest, --model-set and --test-set are needed, each with a value");
  return -1;
}

}  // namespace

int estimate_light(int argc, char** argv) {
  Options o;
  const int status = parse(argc, argv, &o);
  if (status >= 0) return status;
  keep_released_memory();

  std::unique_ptr<AtomicOutput> output;
  if (!o.output.empty()) output.reset(new AtomicOutput(o.output));
  Manifest manifest(o.manifest);
  keep_surface(&manifest, o.surface);
  Filters bank(o.filters.c_str());
  bank.normalise();
  const std::unique_ptr<ISpace> space = make_space(o.space);
  const unsigned int model_set = static_cast<unsigned>(o.model_set);
  const unsigned int test_set = static_cast<unsigned>(o.test_set);
  std::fprintf(
      stderr,
      "%s: manifest %s, models from set %u, lights of set %u; %u light vectors; %ld threads\n",
      kProgram, o.manifest.c_str(), model_set, test_set, space->K, o.jobs);
  const std::vector<LightEstimate> results =
      estimate_manifest_lights(manifest, model_set, test_set, &bank, space.get(), o.image,
                               static_cast<unsigned>(o.jobs), progress_lines(kProgram));
  if (results.empty())
    data_error(o.manifest, 0,
               "no surface of the manifest has images of both set " + std::to_string(model_set) +
                   " and set " + std::to_string(test_set));

  std::string csv;
  append_csv_record(csv, {"surface", "set", "image", "slant", "tilt", "est_x", "est_y", "est_z",
                          "est_slant", "est_tilt", "error", "twin_error", "better_share", "ratio"});
  for (const LightEstimate& r : results) {
    const ManifestImage& image = manifest.images[r.image];
    double slant, tilt;
    angles_of_light(r.estimate, &slant, &tilt);
    append_csv_record(
        csv, {image.surface, std::to_string(image.set), image.image, csv_number(image.slant),
              csv_number(image.tilt), csv_number(r.estimate[0]), csv_number(r.estimate[1]),
              csv_number(r.estimate[2]), csv_number(slant), csv_number(tilt), csv_number(r.error),
              csv_number(r.twin_error), csv_number(r.better_share), csv_number(r.ratio)});
  }
  write_csv(csv, output.get());
  return 0;
}
