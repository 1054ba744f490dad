#include "manifest_cli.h"

#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "bank_choice.h"
#include "cli.h"
#include "csv.h"
#include "data_error.h"
#include "number.h"
#include "parallel.h"

std::vector<size_t> images_of_sets(const Manifest& manifest,
                                   const std::vector<unsigned int>& sets) {
  std::vector<size_t> which;
  for (size_t k = 0; k < manifest.images.size(); k++)
    if (std::find(sets.begin(), sets.end(), manifest.images[k].set) != sets.end())
      which.push_back(k);
  return which;
}

bool parse_sets(const std::string& text, std::vector<unsigned int>* sets, std::string* why) {
  std::vector<int> list;
  if (!parse_long_list(text, 0, 2147483647, &list, why)) return false;
  sets->assign(list.begin(), list.end());
  return true;
}

void warn_lights_outside(const char* program, const Manifest& manifest,
                         const std::vector<size_t>& which, const SpaceOption& space) {
  const size_t outside = lights_outside(manifest, which, space);
  if (outside == 0) return;
  double lo, hi;
  sampled_slants(space, &lo, &hi);
  std::fprintf(stderr,
               "%s: warning: %zu of the %zu lights %s outside the slants the light space samples, "
               "%s to %s degrees (--space %s); --space auto samples the slants of the "
               "manifest's lights\n",
               program, outside, which.size(), outside == 1 ? "lies" : "lie", format_g(lo).c_str(),
               format_g(hi).c_str(), space_values(space).c_str());
}

void keep_surface(Manifest* manifest, long surface) {
  if (surface < 0) return;
  if (static_cast<size_t>(surface) >= manifest->surfaces.size())
    data_error(manifest->file, 0,
               "--surface " + std::to_string(surface) + ": the manifest has " +
                   std::to_string(manifest->surfaces.size()) + " surfaces, numbered from 0");
  const std::string name = manifest->surfaces[static_cast<size_t>(surface)];
  manifest->keep_only(name);
}

std::vector<CliOption> shared_options() {
  return {{"surface", "N",
           "only the images of the manifest's surface number N (from 0, in\norder of first "
           "appearance), e.g. one job of many"},
          {"y-up", "",
           "the manifest's y axis points up the picture (as in most\nphotometric-stereo data "
           "sets): a light x,y,z is taken as (x, -y, z)\nand slant, tilt as (s, -t mod 360); "
           "lights are written back in\nthat frame (default: y points down the picture, the "
           "image frame)"},
          {"srgb", "",
           "undo the sRGB transfer curve of every image first (for 8-bit\ncamera files); "
           "without it values are used as stored"},
          {"space", "LIST",
           "the sampled light vectors: T,E0,E1,E,M0,M1,M for T tilts over\nthe circle, E "
           "elevations in [E0, E1) degrees above the image\nplane (90 - slant) and M magnitudes "
           "in [M0, M1)\n(default 120,30,65,35,0.8,1.3,5: 21000 vectors), or auto:\nthe "
           "slants of the manifest's lights and 5 degrees more on\neither side, one elevation "
           "a degree (see docs/own_data.md)"},
          {"jobs", "N",
           "threads to spread the work over (default: all cores, " +
               std::to_string(available_cores()) + " here);\nthe output is the same for every N"}};
}

std::vector<CliOption> manifest_command_options(const std::vector<CliOption>& own) {
  std::vector<CliOption> options = {
      {"manifest", "FILE",
       "the images: CSV with the columns surface,set,image and\nslant,tilt or x,y,z (see "
       "docs/own_data.md)"}};
  options.insert(options.end(), own.begin(), own.end());
  for (const CliOption& o : bank_options()) options.push_back(o);
  options.push_back(
      {"output", "FILE", "CSV file to write, complete or not at all (default standard\noutput)"});
  for (const CliOption& o : shared_options()) options.push_back(o);
  return options;
}

void read_shared_options(const CliArgs& args, ImageOptions* image, SpaceOption* space, long* jobs,
                         long* surface, bool* y_up) {
  image->srgb = args.has("srgb");
  *y_up = args.has("y-up");
  std::string why;
  if (args.has("space") && !parse_space(args.text("space"), space, &why)) throw UsageError(why);
  *jobs = args.whole("jobs", 1, 1024, available_cores());
  *surface = args.whole("surface", 0, 2147483647, -1);
}

Progress progress_lines(const char* program) {
  return [program](const char* what, size_t done, size_t total) {
    if (done == total || done * 10 / total != (done - 1) * 10 / total)
      std::fprintf(stderr, "%s: %zu/%zu %s\n", program, done, total, what);
  };
}

// Every image, and every filtered copy of it, is a block of a few MiB that
// is allocated and released again for each image. glibc's defaults would
// return such blocks to the system and take them back each time, touching
// every page anew; that made a third of the run time. Blocks up to 32 MiB
// (glibc's largest setting) now come from the heap, which keeps up to
// 512 MiB of released memory. The peak resident size does not change: it
// is the memory in use at once.
void keep_released_memory() {
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
}

void write_csv(const std::string& text, AtomicOutput* output) {
  FILE* f = output ? output->stream() : stdout;
  std::fwrite(text.data(), 1, text.size(), f);
  if (output) output->commit();
}
