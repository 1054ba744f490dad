// What the commands that read an experiment manifest share on their command
// lines: the options, the space's warning, the number of threads, progress
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
#include "light_space.h"
#include "manifest.h"
#include "parallel.h"

// The indices of the manifest's images of the listed sets, in its order.
std::vector<size_t> images_of_sets(const Manifest& manifest, const std::vector<unsigned int>& sets);

// One line on standard error, "<program>: warning: ...", when lights of the
// images `which` (indices into the manifest) lie outside the slants the
// space samples (by more than half a step of elevation): how many, the
// range, and --space auto.
void warn_lights_outside(const char* program, const Manifest& manifest,
                         const std::vector<size_t>& which, const SpaceOption& space);

// Comma-separated image sets from 0 to 2147483647, none twice (join_sets,
// manifest.h, writes them back).
bool parse_sets(const std::string& text, std::vector<unsigned int>* sets, std::string* why);

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
