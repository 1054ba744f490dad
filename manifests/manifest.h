// Experiment manifests: which images there are, of which surface and image
// set, under which light.
//
// A manifest is a CSV file (csv.h). Its header line names the columns, in
// any order: `surface`, `set`, `image` and either `slant` and `tilt`
// (degrees) or `x`, `y` and `z` (a light vector, used as given); further
// columns are ignored. Every other line is one image:
//  - surface: a name a database file can hold (not empty, at most 79
//    characters, not beginning with a digit, no line break);
//  - set: its image set, a whole number of at least 0;
//  - image: the image file, relative to the manifest's folder (or absolute);
//  - mask (optional column): an image of the same size as the row's image,
//    relative to the manifest's folder like `image`; a pixel belongs to the
//    surface where the mask's sample is not zero (mask.h). An empty field,
//    or no such column, means the whole image. One mask file may stand on
//    any number of rows; it is read once.
//  - slant in [0, 90) and tilt, any finite number (decimal notation); or x,
//    y, z, whose slant must lie in [0, 90) as well and whose length must lie
//    in [kMinLightLength, kMaxLightLength].
// A (surface, set, image) may appear once. Empty lines are skipped.
//
// Frames: the system computes in the image frame (x along the columns to
// the right, y along the rows downwards, z towards the viewer). A manifest
// may instead give its lights with y pointing up the picture (y_up, as most
// photometric-stereo data sets do): a vector (x, y, z) is then taken as
// (x, -y, z) and a slant and tilt (s, t) as (s, -t mod 360). ManifestImage's
// light is always in the image frame, its slant and tilt in the manifest's.
// Surfaces are ordered by their first appearance in the manifest. Every
// error names the manifest and its line.
#ifndef TI_MANIFEST_H
#define TI_MANIFEST_H

#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "class.h"
#include "image.h"

// The lengths a light vector given as x, y, z may have, and the magnitudes a
// sampled light space may have: the model's predictions are quadratic in
// the light, and beyond these bounds their squares would leave the range in
// which they can be compared with measured variances (overflow to infinity,
// or underflow to 0 for every sampled vector alike).
constexpr double kMinLightLength = 1e-6;
constexpr double kMaxLightLength = 1e6;

// A mask as read from its file: width x height bytes, 1 inside.
struct PixelMask {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> inside;
};

struct ManifestImage {
  std::string surface;
  unsigned int set = 0;
  std::string image;      // the image column as written
  std::string path;       // the file: `image` in the manifest's folder
  std::string mask;       // the mask column as written; empty: no mask
  std::string mask_path;  // its file, as `path`
  double light[3];        // the light vector, in the image frame
  double slant = 0;       // degrees, in the manifest's frame: as written, or
  double tilt = 0;        // computed from the vector as written
  long line = 0;          // the manifest line the record begins on
};

class Manifest {
 public:
  std::string file;
  bool angles = true;                 // lights given as slant and tilt, else as x, y, z
  bool y_up = false;                  // the manifest's y axis points up the picture
  std::vector<ManifestImage> images;  // in the manifest's order
  std::vector<std::string> surfaces;  // in order of first appearance

  // Reads and checks the whole manifest; raises a DataError on the first
  // fault (a file the system cannot read with its reason).
  explicit Manifest(const std::string& file, bool y_up = false);
  // The same from an open stream, the manifest's text; `file` names it in
  // messages and gives the folder image paths are relative to.
  Manifest(std::FILE* stream, const std::string& file, bool y_up = false);

  // Turns a light vector of the image frame into the manifest's frame, in
  // place (y negated when y_up), for writing it back.
  void to_manifest_frame(double L[3]) const;

  // The indices into `images` of the images of `surface` in set q, in the
  // manifest's order (found in an index, not by a search of the images).
  std::vector<size_t> set_of(const std::string& surface, unsigned int q) const;

  // Keeps only the images of `surface`, which must be one of `surfaces`.
  void keep_only(const std::string& surface);

  // Raises a DataError naming the manifest and `line`; `err` is the errno
  // of a file the system could not open or read (data_error.h), else 0.
  [[noreturn]] void fail(long line, const std::string& message, const std::string& detail = "",
                         int err = 0) const;

  // The mask of `image` (its mask column), read on first use and shared by
  // every row that names the same file; null when the row has none. Safe
  // in several threads at once. A mask that cannot be read raises a
  // DataError naming the manifest's line.
  std::shared_ptr<const PixelMask> mask_of(const ManifestImage& image) const;

 private:
  struct MaskCache;
  void read(std::FILE* stream);
  std::shared_ptr<MaskCache> masks_;  // shared by copies of the manifest
  void index();
  // (surface, set) -> the indices of its images, in the manifest's order.
  std::unordered_map<std::string, std::vector<size_t>> sets_;
};

// Image sets as the commands write them in messages: "1,2,3".
std::string join_sets(const std::vector<unsigned int>& sets);

// The light vector of slant s and tilt t in degrees, made exactly as the
// images' light vectors are (make_illuminant of surface.h).
void light_of_angles(double s, double t, double L[3]);

// The slant atan2(hypot(x, y), z) and the tilt atan2(y, x) of L in degrees,
// the tilt taken into [0, 360).
void angles_of_light(const double L[3], double* slant, double* tilt);

// The grey levels of an image of the manifest as a new matrix (caller
// frees). An image that cannot be read raises a DataError naming the
// manifest's line and the reason.
MAT* read_manifest_image(const Manifest& manifest, const ManifestImage& image,
                         const ImageOptions& options);

// The new response vector (response.h) of an image of the manifest, over
// the positions its mask counts (mask.h); *size receives the image's
// (width, height). Errors name the manifest's line: an image or mask that
// cannot be read, a mask of another size, a kernel larger than the image or
// leaving no position counted. Caller frees.
VEC* manifest_image_response(const Manifest& manifest, const ManifestImage& image, Filters* bank,
                             const ImageOptions& options, std::pair<int, int>* size);

// The fewest images a model is built from. With three, least-squares
// photometric stereo reproduces the training images exactly: every filter's
// predicted variance equals the measured one, and the spread sigma of the
// fit is zero up to rounding, which leaves nothing to weigh the filters by.
constexpr size_t kModelLights = 4;

// Why the K x 3 light vectors L cannot make a model ("" when they can):
// fewer than kModelLights of them, or not spanning all three directions
// (lights_problem, training_set.h).
std::string model_lights_problem(const MAT* L);

// Raises a DataError unless the images `set` (indices into the manifest, of
// one surface and set) can make a model: at least kModelLights of them, with
// light vectors that span all three directions (not all in one plane).
// Reads no image.
void check_model_set(const Manifest& manifest, const std::vector<size_t>& set);

// The new model of `surface` from its images of set q (check_model_set
// first; every image of one size), its statistics over the positions
// counted by the pixels inside the masks of all its images. Caller deletes.
ClassSurface* manifest_model(const Manifest& manifest, const std::string& surface, unsigned int q,
                             Filters* bank, const ImageOptions& options);

// Raises a DataError unless the images `which` (indices into the manifest)
// of each surface's set share one size; sizes[k] is (width, height) of image
// which[k].
void check_image_sizes(const Manifest& manifest, const std::vector<size_t>& which,
                       const std::vector<std::pair<int, int>>& sizes);

#endif
