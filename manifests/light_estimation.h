// Light-direction estimation for the images of a manifest, one result per
// image.
#ifndef TI_LIGHT_ESTIMATION_H
#define TI_LIGHT_ESTIMATION_H

#include <functional>
#include <vector>

#include "class.h"
#include "image.h"
#include "manifest.h"
#include "parallel.h"

struct LightEstimate {
  size_t image = 0;         // index into the manifest's images
  double estimate[3] = {};  // the best-fitting sampled light vector, as sampled
  double written[3] = {};   // the same in the manifest's frame, as its lights are written
  double slant = 0;         // the slant and tilt of `written`, degrees (angles_of_light),
  double tilt = 0;          // the tilt in [0, 360)
  double error = 0;         // its angle to the true light, degrees
  double twin_error = 0;    // its angle to the true light turned by 180 degrees of tilt
  double better_share = 0;  // share of sampled vectors fitting strictly better than the true one
  double ratio = 0;         // where the true light's distance lies between the best and worst
};

// For every surface of the manifest with images in both sets: its model
// from set `model_set`, and for each of its images of set `test_set` the
// best-fitting vector of `ispace` with the measures of illumination.h. The
// results follow the manifest's order of the test images. Models and then
// images are spread over `jobs` threads, with the same results for any
// number; `progress` is told of every model and every image done (one call
// at a time). No surface with images of both sets is a DataError naming the
// manifest.
std::vector<LightEstimate> estimate_manifest_lights(const Manifest& manifest,
                                                    unsigned int model_set, unsigned int test_set,
                                                    Filters* bank, ISpace* ispace,
                                                    const ImageOptions& options, unsigned int jobs,
                                                    const Progress& progress);

#endif
