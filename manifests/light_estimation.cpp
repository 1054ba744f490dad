#include "light_estimation.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "data_error.h"
#include "illumination.h"
#include "owners.h"
#include "parameters.h"

std::vector<LightEstimate> estimate_manifest_lights(const Manifest& manifest,
                                                    unsigned int model_set, unsigned int test_set,
                                                    Filters* bank, ISpace* ispace,
                                                    const ImageOptions& options, unsigned int jobs,
                                                    const Progress& progress) {
  // The surfaces with both sets; every model set is checked before any
  // image is read.
  std::vector<std::string> surfaces;
  std::map<std::string, size_t> model_of;
  for (const std::string& surface : manifest.surfaces) {
    const std::vector<size_t> set = manifest.set_of(surface, model_set);
    if (set.empty() || manifest.set_of(surface, test_set).empty()) continue;
    check_model_set(manifest, set);
    model_of[surface] = surfaces.size();
    surfaces.push_back(surface);
  }
  std::vector<LightEstimate> results;
  std::vector<size_t> which;
  for (size_t k = 0; k < manifest.images.size(); k++) {
    const ManifestImage& image = manifest.images[k];
    if (image.set == test_set && model_of.count(image.surface)) {
      LightEstimate r;
      r.image = k;
      results.push_back(r);
      which.push_back(k);
    }
  }

  if (results.empty())
    data_error(manifest.file, 0,
               "no surface of the manifest has images of both set " + std::to_string(model_set) +
                   " and set " + std::to_string(test_set));

  std::mutex reporting;
  size_t done = 0;
  std::vector<std::unique_ptr<ClassSurface>> models(surfaces.size());
  parallel_for(surfaces.size(), jobs, [&](size_t k) {
    models[k].reset(manifest_model(manifest, surfaces[k], model_set, bank, options));
    // A model whose fit has no spread weights its filters by rounding noise:
    // refused, as build_database refuses to store one.
    const std::vector<std::string> zeros = spreads_stored_as_zero(models[k]->sigma, bank);
    if (!zeros.empty()) {
      const ManifestImage& first = manifest.images[manifest.set_of(surfaces[k], model_set).at(0)];
      manifest.fail(first.line,
                    "surface \"" + printable(surfaces[k]) + "\", set " + std::to_string(model_set) +
                        " cannot give a model: " + zeros[0] +
                        " in a database, so the model's fit has no spread",
                    zeros.size() > 1 ? std::to_string(zeros.size()) + " such spreads in all" : "");
    }
    std::lock_guard<std::mutex> lock(reporting);
    progress("models", ++done, surfaces.size());
  });

  done = 0;
  std::vector<std::pair<int, int>> sizes(results.size());
  parallel_for(results.size(), jobs, [&](size_t k) {
    LightEstimate& r = results[k];
    const ManifestImage& image = manifest.images[r.image];
    ClassSurface* model = models[model_of.at(image.surface)].get();
    VectorOwner response(manifest_image_response(manifest, image, bank, options, &sizes[k]));
    VectorOwner light(v_get(3));
    VectorOwner twin(v_get(3));
    for (int c = 0; c < 3; c++) light->ve[c] = image.light[c];
    twin->ve[0] = -light->ve[0];
    twin->ve[1] = -light->ve[1];
    twin->ve[2] = light->ve[2];
    r.better_share =
        proporion_of_smaller_values(light.get(), ispace->ivec, ispace->K, response.get(), model->P,
                                    model->mu, model->sigma, &r.ratio);
    VEC* best = best_fit_illumination(ispace->ivec, ispace->K, response.get(), model->P, model->mu,
                                      model->sigma);
    for (int c = 0; c < 3; c++) r.estimate[c] = r.written[c] = best->ve[c];
    manifest.to_manifest_frame(r.written);
    angles_of_light(r.written, &r.slant, &r.tilt);
    r.error = angular_error(best, light.get());
    r.twin_error = angular_error(best, twin.get());
    std::lock_guard<std::mutex> lock(reporting);
    progress("images", ++done, results.size());
  });
  check_image_sizes(manifest, which, sizes);
  return results;
}
