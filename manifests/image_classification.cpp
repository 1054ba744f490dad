#include "image_classification.h"

#include <algorithm>
#include <mutex>

#include "data_error.h"
#include "owners.h"
#include "parallel.h"

std::map<std::string, u_int> model_classes(const Database& database, const std::string& file) {
  if (database.K == 0) data_error(file, 0, "the database holds no model");
  std::map<std::string, u_int> classes;
  for (u_int a = 0; a < database.K; a++) {
    const auto found = classes.emplace(database.surfaces[a]->name, a);
    if (!found.second)
      data_error(
          file, 0,
          "the database holds the name \"" + std::string(database.surfaces[a]->name) + "\" twice",
          "models " + std::to_string(found.first->second) + " and " + std::to_string(a));
  }
  return classes;
}

std::vector<ImageClassification> classify_manifest_images(
    const Manifest& manifest, const std::vector<unsigned int>& sets, Database* database,
    const std::map<std::string, u_int>& classes, ISpace* ispace, const ImageOptions& options,
    unsigned int jobs, const Progress& progress) {
  std::vector<ImageClassification> results;
  for (size_t k = 0; k < manifest.images.size(); k++)
    if (std::find(sets.begin(), sets.end(), manifest.images[k].set) != sets.end()) {
      ImageClassification r;
      r.image = k;
      results.push_back(r);
    }
  if (results.empty())
    data_error(manifest.file, 0, "the manifest lists no image of sets " + join_sets(sets));
  std::vector<size_t> which(results.size());
  for (size_t k = 0; k < results.size(); k++) which[k] = results[k].image;
  std::vector<std::pair<int, int>> sizes(results.size());
  std::mutex reporting;
  size_t done = 0;
  parallel_for(results.size(), jobs, [&](size_t k) {
    ImageClassification& r = results[k];
    const ManifestImage& image = manifest.images[r.image];
    VectorOwner response(
        manifest_image_response(manifest, image, database->filters, options, &sizes[k]));
    const auto own = classes.find(image.surface);
    r.own_model = own != classes.end();
    // Without a model of its own the image is classified all the same; the
    // two measures, which need one, are not kept.
    int number = 0;
    double ratio = 0;
    r.predicted = static_cast<u_int>(
        database->classify(response.get(), ispace, r.own_model ? own->second : 0, &number, &ratio));
    if (r.own_model) {
      r.nearer = number;
      r.ratio = ratio;
    }
    std::lock_guard<std::mutex> lock(reporting);
    progress("images", ++done, results.size());
  });
  check_image_sizes(manifest, which, sizes);
  return results;
}
