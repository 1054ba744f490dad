// What the commands that read an experiment manifest share on their command
// lines: the sampled illumination space, the number of threads, progress
// lines and the CSV output.
#ifndef TI_MANIFEST_CLI_H
#define TI_MANIFEST_CLI_H

#include <memory>
#include <string>
#include <vector>

#include "atomic_output.h"
#include "class.h"
#include "cli.h"
#include "image.h"
#include "manifest.h"
#include "parallel.h"

// The sampled illumination space (class_surface.h): `tilts` tilts over the
// whole circle, `elevations` elevations in [elevation_from, elevation_to)
// degrees above the image plane, `magnitudes` magnitudes in
// [magnitude_from, magnitude_to). The default is the experiments' 21000
// vectors.
struct SpaceOption {
  long tilts = 120;
  double elevation_from = 30, elevation_to = 65;
  long elevations = 35;
  double magnitude_from = 0.8, magnitude_to = 1.3;
  long magnitudes = 5;
  bool automatic = false;  // --space auto: to be made from a manifest (auto_space)
};

// The space --space auto makes of a manifest's lights, every light of every
// set, so that all commands on one manifest share one space: with s_lo and
// s_hi the least and greatest slant in degrees, the slants from
// lo = max(0, floor(s_lo) - 5) to hi = min(89, ceil(s_hi) + 5), i.e.
// elevations [90 - hi, 90 - lo) in steps of one degree (as the default),
// 120 tilts and the default's magnitudes.
SpaceOption auto_space(const Manifest& manifest);

// The space the option stands for on `manifest`: auto_space for --space
// auto, else the option itself. Call it on the whole manifest (before
// keep_surface), so that every job of one manifest samples one space.
SpaceOption space_for(const SpaceOption& option, const Manifest& manifest);

// The indices of the manifest's images of the listed sets, in its order.
std::vector<size_t> images_of_sets(const Manifest& manifest, const std::vector<unsigned int>& sets);

// The seven values of a space as --space takes them: "120,30,65,35,0.8,1.3,5".
std::string space_values(const SpaceOption& space);

// The slants a space samples, in degrees: from 90 minus its highest
// elevation to 90 minus its lowest.
void sampled_slants(const SpaceOption& space, double* lo, double* hi);

// One line on standard error, "<program>: warning: ...", when lights of the
// images `which` (indices into the manifest) lie outside the slants the
// space samples (by more than half a step of elevation): how many, the
// range, and --space auto.
void warn_lights_outside(const char* program, const Manifest& manifest,
                         const std::vector<size_t>& which, const SpaceOption& space);

// Parses "T,E0,E1,E,M0,M1,M" or "auto" (--space). False, with the reason, when it is
// not seven values, a count is not from 1 to 100000, an angle not from -90
// to 90, a magnitude not from kMinLightLength to kMaxLightLength
// (manifest.h), a range reversed (E0 above E1, M0 above M1), or there are
// over 10 million vectors. The sample k of a range [A, B) of N is
// A + k (B - A) / N: B itself is never sampled.
bool parse_space(const std::string& text, SpaceOption* space, std::string* why);

// The space of the option, built with the degrees turned into radians as
// the experiments' constants are (degrees * pi / 180).
std::unique_ptr<ISpace> make_space(const SpaceOption& space);

// Comma-separated image sets from 0 to 2147483647, none twice.
bool parse_sets(const std::string& text, std::vector<unsigned int>* sets, std::string* why);
std::string join_sets(const std::vector<unsigned int>& sets);

// Keeps only the images of the manifest's surface number `surface` (0-based,
// in order of first appearance); a negative number keeps them all. A number
// past the last surface is a data error naming the manifest.
void keep_surface(Manifest* manifest, long surface);

// The options --surface, --y-up, --srgb, --space and --jobs, and their
// values (or the defaults); a wrong value raises a UsageError.
std::vector<CliOption> shared_options();
// A manifest command's options: --manifest, the command's own, --bank and
// --filters (bank_choice.h), --output, then the shared ones.
std::vector<CliOption> manifest_command_options(const std::vector<CliOption>& own);
void read_shared_options(const CliArgs& args, ImageOptions* image, SpaceOption* space, long* jobs,
                         long* surface, bool* y_up);

// Progress lines on standard error, "<program>: 96/960 images", at every
// tenth of the work and at its end.
Progress progress_lines(const char* program);

// Keeps memory that is released in the process for the next image instead
// of handing it back to the system (call once, first).
void keep_released_memory();

// Writes the CSV text to the atomic output, or to standard output without
// one.
void write_csv(const std::string& text, AtomicOutput* output);

#endif
