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
//  - slant in [0, 90) and tilt, any finite number (decimal notation); or x,
//    y, z, whose slant must lie in [0, 90) as well and whose length must lie
//    in [kMinLightLength, kMaxLightLength].
// A (surface, set, image) may appear once. Empty lines are skipped.
// Surfaces are ordered by their first appearance in the manifest. Every
// error names the manifest and its line.
#ifndef TI_MANIFEST_H
#define TI_MANIFEST_H

#include <cstdio>
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

struct ManifestImage {
  std::string surface;
  unsigned int set = 0;
  std::string image;  // the image column as written
  std::string path;   // the file: `image` in the manifest's folder
  double light[3];    // the light vector
  double slant = 0;   // degrees: as written, or computed from the vector
  double tilt = 0;
  long line = 0;  // the manifest line the record begins on
};

class Manifest {
 public:
  std::string file;
  bool angles = true;                 // lights given as slant and tilt, else as x, y, z
  std::vector<ManifestImage> images;  // in the manifest's order
  std::vector<std::string> surfaces;  // in order of first appearance

  // Reads and checks the whole manifest; raises a DataError on the first
  // fault (a file the system cannot read with its reason).
  explicit Manifest(const std::string& file);
  // The same from an open stream, the manifest's text; `file` names it in
  // messages and gives the folder image paths are relative to.
  Manifest(std::FILE* stream, const std::string& file);

  // The indices into `images` of the images of `surface` in set q, in the
  // manifest's order (found in an index, not by a search of the images).
  std::vector<size_t> set_of(const std::string& surface, unsigned int q) const;

  // Keeps only the images of `surface`, which must be one of `surfaces`.
  void keep_only(const std::string& surface);

  // Raises a DataError naming the manifest and `line`.
  [[noreturn]] void fail(long line, const std::string& message,
                         const std::string& detail = "") const;

 private:
  void read(std::FILE* stream);
  void index();
  // (surface, set) -> the indices of its images, in the manifest's order.
  std::unordered_map<std::string, std::vector<size_t>> sets_;
};

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

// The new response vector (response.h) of an image of the manifest; *size
// receives the image's (width, height). Errors name the manifest's line.
// Caller frees.
VEC* manifest_image_response(const Manifest& manifest, const ManifestImage& image, Filters* bank,
                             const ImageOptions& options, std::pair<int, int>* size);

// The fewest images a model is built from. With three, least-squares
// photometric stereo reproduces the training images exactly: every filter's
// predicted variance equals the measured one, and the spread sigma of the
// fit is zero up to rounding, which leaves nothing to weigh the filters by.
constexpr size_t kModelLights = 4;

// Raises a DataError unless the images `set` (indices into the manifest, of
// one surface and set) can make a model: at least kModelLights of them, with
// light vectors that span all three directions (not all in one plane).
// Reads no image.
void check_model_set(const Manifest& manifest, const std::vector<size_t>& set);

// The new model of `surface` from its images of set q (check_model_set
// first; every image of one size). Caller deletes.
ClassSurface* manifest_model(const Manifest& manifest, const std::string& surface, unsigned int q,
                             Filters* bank, const ImageOptions& options);

// Raises a DataError unless the images `which` (indices into the manifest)
// of each surface's set share one size; sizes[k] is (width, height) of image
// which[k].
void check_image_sizes(const Manifest& manifest, const std::vector<size_t>& which,
                       const std::vector<std::pair<int, int>>& sizes);

#endif
