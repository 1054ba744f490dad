// Classification of the images of a manifest, one result per image.
#ifndef TI_IMAGE_CLASSIFICATION_H
#define TI_IMAGE_CLASSIFICATION_H

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "class.h"
#include "image.h"
#include "manifest.h"
#include "parallel.h"

struct ImageClassification {
  size_t image = 0;        // index into the manifest's images
  u_int predicted = 0;     // the class chosen: the nearest model
  bool own_model = false;  // the database holds a model of the image's surface
  int nearer = 0;          // models strictly nearer than that one (own_model only)
  double ratio = 0;        // where its distance lies between the nearest and the farthest
};

// The class of every model name. A database holding no model, or one name
// twice, raises a DataError naming `file`.
std::map<std::string, u_int> model_classes(const Database& database, const std::string& file);

// Classifies every image of the sets `sets`, in the manifest's order, as
// Database::classify does over `ispace`; an image's own model is the model
// of its surface's name (`classes`). The images are spread over `jobs`
// threads, with the same results for any number; `progress` is told of
// every image done (one call at a time). No image of those sets is a
// DataError naming the manifest.
std::vector<ImageClassification> classify_manifest_images(
    const Manifest& manifest, const std::vector<unsigned int>& sets, Database* database,
    const std::map<std::string, u_int>& classes, ISpace* ispace, const ImageOptions& options,
    unsigned int jobs, const Progress& progress);

#endif
