// The database file and classification (classify/).
#include <memory>
#include <string>
#include <vector>

#include "arrays.h"
#include "bindings.h"
#include "read_write_database.h"
#include "response.h"

namespace {

Model model_of(const ModelDatabase& d, u_int k) {
  // The model shares the database's ownership: it keeps the database alive.
  return Model{std::shared_ptr<ClassSurface>(d.database, d.database->surfaces[k]), d.bank};
}

}  // namespace

void register_classify(py::module_& m) {
  py::class_<ModelDatabase>(m, "Database", "The models of a database file, in class order.")
      .def_property_readonly(
          "names",
          [](const ModelDatabase& d) {
            std::vector<std::string> names;
            for (u_int k = 0; k < d.database->K; k++)
              names.push_back(d.database->surfaces[k]->name);
            return names;
          },
          "The models' names, in class order.")
      .def_property_readonly(
          "models",
          [](const ModelDatabase& d) {
            std::vector<Model> models;
            for (u_int k = 0; k < d.database->K; k++) models.push_back(model_of(d, k));
            return models;
          },
          "The models, in class order.")
      .def_property_readonly(
          "bank", [](const ModelDatabase& d) { return Bank{d.bank}; }, "The bank it was read with.")
      .def("__len__", [](const ModelDatabase& d) { return d.database->K; })
      .def("__getitem__",
           [](const ModelDatabase& d, long k) {
             if (k < 0) k += d.database->K;
             if (k < 0 || k >= static_cast<long>(d.database->K)) throw py::index_error();
             return model_of(d, static_cast<u_int>(k));
           })
      .def("__repr__", [](const ModelDatabase& d) {
        return "<Database " + d.file + ": " + std::to_string(d.database->K) + " models>";
      });

  m.def(
      "read_database",
      [](const std::string& path, const Bank& bank) {
        ModelDatabase d;
        d.bank = bank.filters;
        d.file = path;
        py::gil_scoped_release release;
        d.database = std::make_shared<Database>(path.c_str(), bank.filters.get());
        return d;
      },
      py::arg("path"), py::arg("bank"),
      R"(The models of a database file, read as the commands read it. The file does not
store the number of filters: it is that of `bank`, the bank the models were
built with. OSError when the file cannot be opened, ValueError when it is
malformed.)");

  m.def(
      "write_database",
      [](const std::string& path, const std::vector<std::string>& names,
         const std::vector<Model>& models, bool allow_zero_sigma) {
        if (names.size() != models.size())
          throw py::value_error("write_database: " + std::to_string(names.size()) + " names for " +
                                std::to_string(models.size()) + " models");
        if (models.empty()) throw py::value_error("write_database: no model");
        const std::shared_ptr<Filters> bank = models[0].bank;
        for (const Model& model : models) check_same_bank(*bank, *model.model, "write_database");
        std::vector<std::string> warnings;
        {
          py::gil_scoped_release release;
          // Copies named as asked, owned by the database written.
          std::vector<ClassSurface*> copies;
          try {
            for (size_t k = 0; k < models.size(); k++)
              copies.push_back(new ClassSurface(*models[k].model, names[k]));
          } catch (...) {
            for (ClassSurface* copy : copies) delete copy;
            throw;
          }
          Database database(static_cast<unsigned>(copies.size()), copies.data(), bank.get());
          write_database_file(database, bank.get(), path, allow_zero_sigma,
                              [&warnings](const std::string& zero) { warnings.push_back(zero); });
        }
        for (const std::string& zero : warnings) {
          const std::string text =
              zero + "; every distance to this model will be infinite or not a number";
          if (PyErr_WarnEx(PyExc_RuntimeWarning, text.c_str(), 1) < 0)
            throw py::error_already_set();
        }
      },
      py::arg("path"), py::arg("names"), py::arg("models"), py::arg("allow_zero_sigma") = false,
      R"(Writes the models, named `names` (in class order), as a database file: the bytes
build_database writes for the same models, written whole or not at all. A
model whose sigma the file would store as 0 is refused (ValueError) unless
allow_zero_sigma, which warns instead. OSError when the file cannot be
written.)");

  m.def(
      "classify",
      [](const py::object& image, const ModelDatabase& database, const Bank& bank,
         const py::object& space, const py::object& mask) {
        if (database.database->K == 0)
          throw py::value_error("classify: the database holds no model");
        check_same_bank(*bank.filters, *database.database->surfaces[0], "classify");
        MatrixOwner grey = image_from(image, "image");
        const std::vector<unsigned char> inside = mask_from(mask, grey->m, grey->n, "mask");
        const SpaceOption option = space_option(space, false);
        int predicted;
        VectorOwner distances;
        {
          py::gil_scoped_release release;
          const VectorOwner response(image_response(bank.filters.get(), grey.get(),
                                                    inside.empty() ? nullptr : inside.data()));
          const std::unique_ptr<ISpace> ispace = make_space(option);
          int nearer;
          double ratio;
          VEC* all = nullptr;
          predicted =
              database.database->classify(response.get(), ispace.get(), 0, &nearer, &ratio, &all);
          distances.reset(all);
        }
        return py::make_tuple(std::string(database.database->surfaces[predicted]->name),
                              array_of(distances.get()));
      },
      py::arg("image"), py::arg("database"), py::arg("bank"), py::arg("space") = py::none(),
      py::arg("mask") = py::none(),
      R"(Classifies an (H, W) image against the database as classify_images does: its
response variances with `bank`, and per model the smallest distance over the
sampled light vectors of `space` (as light_space takes it; None the default).
Returns (name, distances): the nearest model's name (the first among equals)
and the (K,) distances to every model, in class order.)");
}
