// Experiments on one's own data (manifests/): the per-image results of
// classify_images and estimate_light, as columns.
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bindings.h"
#include "image_classification.h"
#include "light_estimation.h"
#include "manifest.h"
#include "named_bank.h"
#include "parallel.h"

using namespace pybind11::literals;

namespace {

// What the two commands share: --filters or --bank, --space, --srgb,
// --y-up and --jobs, checked before anything is read.
struct Options {
  std::string filters;  // a bank file, or
  std::string bank;     // a bank name; neither: filters.dat
  SpaceOption space;
  ImageOptions image;
  bool y_up = false;
  unsigned int jobs = 1;
};

Options options_of(const py::object& filters, const py::object& bank, const py::object& space,
                   bool srgb, bool y_up, long jobs) {
  Options o;
  if (!filters.is_none() && !bank.is_none())
    throw py::value_error("filters and bank exclude each other");
  if (!filters.is_none()) o.filters = py::str(filters).cast<std::string>();
  if (!bank.is_none()) o.bank = bank.cast<std::string>();
  o.space = space_option(space, true);
  o.image.srgb = srgb;
  o.y_up = y_up;
  if (jobs < 0 || jobs > 1024) throw py::value_error("jobs: from 0 (all cores) to 1024");
  o.jobs = jobs == 0 ? available_cores() : static_cast<unsigned>(jobs);
  return o;
}

// The bank the options name, as the commands choose it (filters.dat when
// neither is given). Called without the GIL.
std::unique_ptr<Filters> chosen_bank(const Options& o) {
  if (!o.bank.empty()) return std::unique_ptr<Filters>(named_bank(o.bank));
  return std::unique_ptr<Filters>(read_bank_file(o.filters.empty() ? "filters.dat" : o.filters));
}

// A column of text as a numpy array of str.
py::object text_column(const std::vector<std::string>& values) {
  return py::module_::import("numpy").attr("array")(values, "dtype"_a = "str");
}

template <typename T>
py::array_t<T> number_column(const std::vector<T>& values) {
  py::array_t<T> array(static_cast<py::ssize_t>(values.size()));
  std::copy(values.begin(), values.end(), array.mutable_data());
  return array;
}

}  // namespace

void register_manifests(py::module_& m) {
  m.def(
      "classify_manifest",
      [](const std::string& manifest_file, const std::string& database_file,
         const std::vector<long>& sets, const py::object& filters, const py::object& bank,
         const py::object& space, bool srgb, bool y_up, long jobs) {
        const Options o = options_of(filters, bank, space, srgb, y_up, jobs);
        std::vector<unsigned int> set_list;
        for (long q : sets) {
          if (q < 0 || q > 2147483647) throw py::value_error("sets: from 0 to 2147483647");
          for (unsigned int earlier : set_list)
            if (earlier == static_cast<unsigned>(q))
              throw py::value_error("sets: " + std::to_string(q) + " is given twice");
          set_list.push_back(static_cast<unsigned>(q));
        }
        if (set_list.empty()) throw py::value_error("sets: no set");
        std::vector<std::string> surface, image, predicted;
        std::vector<long> set, nearer;
        std::vector<double> ratio;
        {
          py::gil_scoped_release release;
          // The steps of classify_images, in its order.
          const Manifest manifest(manifest_file, o.y_up);
          const SpaceOption sampled = space_for(o.space, manifest);
          const std::unique_ptr<Filters> owned_bank = chosen_bank(o);
          Database database(database_file.c_str(), owned_bank.get());
          const std::map<std::string, u_int> classes = model_classes(database, database_file);
          const std::unique_ptr<ISpace> ispace = make_space(sampled);
          const std::vector<ImageClassification> results =
              classify_manifest_images(manifest, set_list, &database, classes, ispace.get(),
                                       o.image, o.jobs, [](const char*, size_t, size_t) {});
          for (const ImageClassification& r : results) {
            const ManifestImage& row = manifest.images[r.image];
            surface.push_back(row.surface);
            set.push_back(row.set);
            image.push_back(row.image);
            predicted.push_back(database.surfaces[r.predicted]->name);
            nearer.push_back(r.own_model ? r.nearer : -1);
            ratio.push_back(r.own_model ? r.ratio : std::numeric_limits<double>::quiet_NaN());
          }
        }
        py::dict columns;
        columns["surface"] = text_column(surface);
        columns["set"] = number_column(set);
        columns["image"] = text_column(image);
        columns["predicted"] = text_column(predicted);
        columns["nearer"] = number_column(nearer);
        columns["ratio"] = number_column(ratio);
        return columns;
      },
      py::arg("manifest"), py::arg("database"), py::arg("sets"), py::arg("filters") = py::none(),
      py::arg("bank") = py::none(), py::arg("space") = py::none(), py::arg("srgb") = false,
      py::arg("y_up") = false, py::arg("jobs") = 0,
      R"(classify_images on a manifest file: every image of the listed sets classified
against the database file, with the options of the command (filters: a bank
file, bank: a bank name, neither: filters.dat; space as --space, "auto"
included; jobs=0: all cores). Returns the command's columns as a dict of
numpy arrays, rows in its order with its values: surface, set, image,
predicted (str), nearer (int64; -1 for a surface without a model), ratio
(float64; nan for a surface without a model). The errors the command reports,
as OSError or ValueError with its message.)");

  m.def(
      "estimate_light_manifest",
      [](const std::string& manifest_file, long model_set, long test_set, const py::object& filters,
         const py::object& bank, const py::object& space, bool srgb, bool y_up, long jobs) {
        const Options o = options_of(filters, bank, space, srgb, y_up, jobs);
        if (model_set < 0 || model_set > 2147483647 || test_set < 0 || test_set > 2147483647)
          throw py::value_error("model_set and test_set: from 0 to 2147483647");
        std::vector<std::string> surface, image;
        std::vector<long> set;
        std::map<std::string, std::vector<double>> numbers;
        const char* const kNumbers[] = {"slant",      "tilt",         "est_x",    "est_y",
                                        "est_z",      "est_slant",    "est_tilt", "error",
                                        "twin_error", "better_share", "ratio"};
        {
          py::gil_scoped_release release;
          // The steps of estimate_light, in its order.
          const Manifest manifest(manifest_file, o.y_up);
          const SpaceOption sampled = space_for(o.space, manifest);
          const std::unique_ptr<Filters> owned_bank = chosen_bank(o);
          const std::unique_ptr<ISpace> ispace = make_space(sampled);
          const std::vector<LightEstimate> results = estimate_manifest_lights(
              manifest, static_cast<unsigned>(model_set), static_cast<unsigned>(test_set),
              owned_bank.get(), ispace.get(), o.image, o.jobs, [](const char*, size_t, size_t) {});
          for (const LightEstimate& r : results) {
            const ManifestImage& row = manifest.images[r.image];
            surface.push_back(row.surface);
            set.push_back(row.set);
            image.push_back(row.image);
            const double values[] = {row.slant,    row.tilt,       r.written[0], r.written[1],
                                     r.written[2], r.slant,        r.tilt,       r.error,
                                     r.twin_error, r.better_share, r.ratio};
            for (size_t c = 0; c < 11; c++) numbers[kNumbers[c]].push_back(values[c]);
          }
        }
        py::dict columns;
        columns["surface"] = text_column(surface);
        columns["set"] = number_column(set);
        columns["image"] = text_column(image);
        for (const char* name : kNumbers) columns[name] = number_column(numbers[name]);
        return columns;
      },
      py::arg("manifest"), py::arg("model_set"), py::arg("test_set"),
      py::arg("filters") = py::none(), py::arg("bank") = py::none(), py::arg("space") = py::none(),
      py::arg("srgb") = false, py::arg("y_up") = false, py::arg("jobs") = 0,
      R"(estimate_light on a manifest file: for every surface with images in both sets,
its model from model_set and the estimated light of each of its images of
test_set, with the options of the command (as classify_manifest). Returns the
command's columns as a dict of numpy arrays, rows in its order with its
values: surface, set, image (str, int64, str), then float64 slant, tilt (the
true light, manifest's frame), est_x, est_y, est_z, est_slant, est_tilt (the
estimate in the manifest's frame), error, twin_error, better_share, ratio.)");
}
