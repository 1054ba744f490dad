#include "classify_images_cli.h"

#include <getopt.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli_parse.h"
#include "csv.h"
#include "data_error.h"
#include "filters.h"
#include "image_classification.h"
#include "manifest.h"
#include "manifest_cli.h"
#include "program.h"

namespace {

const char kProgram[] = "classify_images";

void usage(FILE* f) {
  std::fprintf(
      f, "%s",
      ("Usage: classify_images --manifest FILE --database DB --sets LIST [options]\n"
       "Classifies every image of the listed sets of the manifest against the models of the\n"
       "database, each over the sampled light vectors, and writes one CSV line per image, in\n"
       "the manifest's order, after the header\n"
       "  surface,set,image,predicted,nearer,ratio\n"
       "predicted is the name of the nearest model; nearer is the number of models strictly\n"
       "nearer than the model of the image's own surface (the model of the same name), ratio\n"
       "where that model's distance lies between the nearest (0) and the farthest (1). Both\n"
       "are empty when the database holds no model of that name.\n"
       "\n"
       "Options:\n"
       "  --manifest FILE   the images: CSV with the columns surface,set,image and\n"
       "                    slant,tilt or x,y,z (see the README)\n"
       "  --database FILE   the database file\n"
       "  --sets LIST       image sets to classify, comma-separated, e.g. 1,2,3\n"
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
  std::string manifest, database, filters = "filters.dat", output;
  std::vector<unsigned int> sets;
  ImageOptions image;
  SpaceOption space;
  long jobs = available_cores();
  long surface = -1;
};

// Fills `o`; returns -1 to go on, else the exit status.
int parse(int argc, char** argv, Options* o) {
  static const option kLong[] = {{"manifest", required_argument, nullptr, 'm'},
                                 {"database", required_argument, nullptr, 'd'},
                                 {"sets", required_argument, nullptr, 's'},
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
  bool have_sets = false;
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
      case 'd':
        o->database = value;
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
      case 's':
        if (!parse_sets(value, &o->sets, &why)) return bad_argument("--sets: " + why);
        have_sets = true;
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
  if (o->manifest.empty() || o->database.empty() || !have_sets || o->filters.empty())
    return bad_argument("--manifest, --database and --sets are needed, each with a value");
  return -1;
}

}  // namespace

int classify_images(int argc, char** argv) {
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
  Database database(o.database.c_str(), &bank);
  if (database.K == 0) data_error(o.database, 0, "the database holds no model");
  const std::map<std::string, u_int> classes = model_classes(database, o.database);
  const std::unique_ptr<ISpace> space = make_space(o.space);
  std::fprintf(stderr,
               "%s: manifest %s, sets %s; database %s, %u models; %u light vectors; %ld threads\n",
               kProgram, o.manifest.c_str(), join_sets(o.sets).c_str(), o.database.c_str(),
               database.K, space->K, o.jobs);
  const std::vector<ImageClassification> results =
      classify_manifest_images(manifest, o.sets, &database, classes, space.get(), o.image,
                               static_cast<unsigned>(o.jobs), progress_lines(kProgram));
  if (results.empty())
    data_error(o.manifest, 0, "the manifest lists no image of sets " + join_sets(o.sets));

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
