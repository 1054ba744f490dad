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

bool parse_space(const std::string& text, SpaceOption* space, std::string* why) {
  if (text == "auto") {
    *space = SpaceOption();
    space->automatic = true;
    return true;
  }
  const std::vector<std::string> v = split_text(text, ',');
  if (v.size() != 7) {
    *why = "--space needs seven values T,E0,E1,E,M0,M1,M, not \"" + text + "\"";
    return false;
  }
  SpaceOption s;
  const bool counts = parse_long(v[0], 1, 100000, &s.tilts) &&
                      parse_long(v[3], 1, 100000, &s.elevations) &&
                      parse_long(v[6], 1, 100000, &s.magnitudes);
  const bool ranges = parse_double(v[1], -90, 90, &s.elevation_from) &&
                      parse_double(v[2], -90, 90, &s.elevation_to) &&
                      parse_double(v[4], kMinLightLength, kMaxLightLength, &s.magnitude_from) &&
                      parse_double(v[5], kMinLightLength, kMaxLightLength, &s.magnitude_to);
  if (!counts || !ranges) {
    *why = "--space \"" + text +
           "\": counts are whole numbers from 1 to 100000, elevations degrees from -90 to 90, "
           "magnitudes from " +
           format_g(kMinLightLength) + " to " + format_g(kMaxLightLength);
    return false;
  }
  if (s.elevation_from > s.elevation_to || s.magnitude_from > s.magnitude_to) {
    *why = "--space \"" + text +
           "\": a range runs from its lower end to its upper one (E0 <= E1, " + "M0 <= M1)";
    return false;
  }
  if (static_cast<double>(s.tilts) * s.elevations * s.magnitudes > 1e7) {
    *why = "--space \"" + text + "\" makes more than 10 million vectors";
    return false;
  }
  *space = s;
  return true;
}

SpaceOption auto_space(const Manifest& manifest) {
  double least = 90, greatest = 0;
  for (const ManifestImage& image : manifest.images) {
    least = std::min(least, image.slant);
    greatest = std::max(greatest, image.slant);
  }
  const double lo = std::max(0.0, std::floor(least) - 5),
               hi = std::min(89.0, std::ceil(greatest) + 5);
  SpaceOption space;
  space.elevation_from = 90 - hi;
  space.elevation_to = 90 - lo;
  space.elevations = static_cast<long>(hi - lo);
  return space;
}

SpaceOption space_for(const SpaceOption& option, const Manifest& manifest) {
  return option.automatic ? auto_space(manifest) : option;
}

std::vector<size_t> images_of_sets(const Manifest& manifest,
                                   const std::vector<unsigned int>& sets) {
  std::vector<size_t> which;
  for (size_t k = 0; k < manifest.images.size(); k++)
    if (std::find(sets.begin(), sets.end(), manifest.images[k].set) != sets.end())
      which.push_back(k);
  return which;
}

std::string space_values(const SpaceOption& s) {
  return std::to_string(s.tilts) + "," + csv_number(s.elevation_from) + "," +
         csv_number(s.elevation_to) + "," + std::to_string(s.elevations) + "," +
         csv_number(s.magnitude_from) + "," + csv_number(s.magnitude_to) + "," +
         std::to_string(s.magnitudes);
}

void sampled_slants(const SpaceOption& s, double* lo, double* hi) {
  const double step = (s.elevation_to - s.elevation_from) / static_cast<double>(s.elevations);
  *lo = 90 - (s.elevation_from + static_cast<double>(s.elevations - 1) * step);
  *hi = 90 - s.elevation_from;
}

void warn_lights_outside(const char* program, const Manifest& manifest,
                         const std::vector<size_t>& which, const SpaceOption& space) {
  double lo, hi;
  sampled_slants(space, &lo, &hi);
  const double half_step =
      (space.elevation_to - space.elevation_from) / static_cast<double>(space.elevations) / 2;
  size_t outside = 0;
  for (size_t k : which) {
    const double slant = manifest.images[k].slant;
    outside += slant < lo - half_step || slant > hi + half_step;
  }
  if (outside == 0) return;
  std::fprintf(stderr,
               "%s: warning: %zu of the %zu lights %s outside the slants the light space samples, "
               "%s to %s degrees (--space %s); --space auto samples the slants of the "
               "manifest's lights\n",
               program, outside, which.size(), outside == 1 ? "lies" : "lie", format_g(lo).c_str(),
               format_g(hi).c_str(), space_values(space).c_str());
}

std::unique_ptr<ISpace> make_space(const SpaceOption& s) {
  const double pi = 3.141592653589793;
  return std::unique_ptr<ISpace>(new ISpace(0.0, 360 * pi / 180, static_cast<unsigned>(s.tilts),
                                            s.elevation_from * pi / 180, s.elevation_to * pi / 180,
                                            static_cast<unsigned>(s.elevations), s.magnitude_from,
                                            s.magnitude_to, static_cast<unsigned>(s.magnitudes)));
}

bool parse_sets(const std::string& text, std::vector<unsigned int>* sets, std::string* why) {
  std::vector<int> list;
  if (!parse_long_list(text, 0, 2147483647, &list, why)) return false;
  sets->assign(list.begin(), list.end());
  return true;
}

std::string join_sets(const std::vector<unsigned int>& sets) {
  std::string text;
  for (unsigned int q : sets) text += (text.empty() ? "" : ",") + std::to_string(q);
  return text;
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
           "a degree (see the README)"},
          {"jobs", "N",
           "threads to spread the work over (default: all cores, " +
               std::to_string(available_cores()) + " here);\nthe output is the same for every N"}};
}

std::vector<CliOption> manifest_command_options(const std::vector<CliOption>& own) {
  std::vector<CliOption> options = {
      {"manifest", "FILE",
       "the images: CSV with the columns surface,set,image and\nslant,tilt or x,y,z (see the "
       "README)"}};
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
