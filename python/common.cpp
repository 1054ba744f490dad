// The model as the two programs describe it (common/): light vectors and the
// sampled light space, photometric normals, response variances and surface
// models.
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "arrays.h"
#include "bindings.h"
#include "manifest.h"
#include "parameters.h"
#include "response.h"
#include "training_set.h"

SpaceOption space_option(const py::object& spec, bool manifest_allowed) {
  SpaceOption space;
  if (spec.is_none()) return space;
  if (!py::isinstance<py::str>(spec)) throw py::type_error("space: expected a string or None");
  const std::string text = spec.cast<std::string>();
  if (text == "default") return space;
  std::string why;
  if (!parse_space(text, &space, &why)) throw py::value_error("space: " + why);
  if (space.automatic && !manifest_allowed)
    throw py::value_error(
        "space: auto is the space of a manifest's lights; give the seven values "
        "T,E0,E1,E,M0,M1,M (or None for the default)");
  return space;
}

void check_same_bank(const Filters& bank, const ClassSurface& model, const char* what) {
  if (bank.F != model.P->m)
    throw py::value_error(std::string(what) + ": the bank has " + std::to_string(bank.F) +
                          " filters, the model " + std::to_string(model.P->m) +
                          "; use the bank the model was built with");
}

namespace {

// The (F, 3, 3) array of a model's symmetric matrices C_f (get_matrix_of_row).
py::array_t<double> covariances(const ClassSurface& model) {
  const unsigned F = model.P->m;
  py::array_t<double> array({static_cast<py::ssize_t>(F), py::ssize_t{3}, py::ssize_t{3}});
  double* out = array.mutable_data();
  for (unsigned f = 0; f < F; f++) {
    const MatrixOwner C(get_matrix_of_row(model.P, f));
    for (int r = 0; r < 3; r++)
      for (int c = 0; c < 3; c++) out[(f * 3 + r) * 3 + c] = C->me[r][c];
  }
  return array;
}

}  // namespace

void register_common(py::module_& m) {
  py::class_<Model>(m, "Model",
                    "The model of one surface: per filter f the 3 x 3 matrix C_f that predicts "
                    "the\nfilter's response variance under the light vector L as L^T C_f L, and "
                    "the mean mu\nand spread sigma of predicted minus measured variance over the "
                    "training images.")
      .def_property_readonly(
          "name", [](const Model& s) { return std::string(s.model->name); }, "The model's name.")
      .def_property_readonly(
          "P", [](const Model& s) { return array_of(s.model->P); },
          "(F, 6) float64: the entries xx, xy, xz, yy, yz, zz of each C_f, as the database\n"
          "file holds them.")
      .def_property_readonly(
          "C", [](const Model& s) { return covariances(*s.model); },
          "(F, 3, 3) float64: each filter's symmetric matrix C_f.")
      .def_property_readonly(
          "mu", [](const Model& s) { return array_of(s.model->mu); }, "(F,) float64.")
      .def_property_readonly(
          "sigma", [](const Model& s) { return array_of(s.model->sigma); }, "(F,) float64.")
      .def_property_readonly(
          "bank", [](const Model& s) { return Bank{s.bank}; }, "The bank of the model.")
      .def("__repr__", [](const Model& s) {
        return "<Model " + std::string(s.model->name) + ": " + std::to_string(s.model->P->m) +
               " filters>";
      });

  m.def(
      "light",
      [](double slant, double tilt) {
        if (!std::isfinite(slant) || !std::isfinite(tilt))
          throw py::value_error("light: slant and tilt must be finite numbers");
        double L[3];
        light_of_angles(slant, tilt, L);
        if (!std::isfinite(L[0]) || !std::isfinite(L[1]) || !std::isfinite(L[2]))
          throw py::value_error("light: the tilt does not give a finite light vector");
        py::array_t<double> array(3);
        std::copy(L, L + 3, array.mutable_data());
        return array;
      },
      py::arg("slant"), py::arg("tilt"),
      R"(The unit light vector (3,) of slant and tilt in degrees, made exactly as the
programs make their images' lights: s = slant * 3.141592653589793 / 180 (the
product first), t likewise, then (cos t sin s, sin t sin s, cos s), in the
image frame (x along the columns, y down the rows, z towards the viewer).)");

  m.def(
      "light_space",
      [](const py::object& spec, const py::object& manifest, bool y_up) {
        SpaceOption option = space_option(spec, !manifest.is_none());
        const std::string file = manifest.is_none() ? "" : manifest.cast<std::string>();
        std::unique_ptr<ISpace> space;
        {
          py::gil_scoped_release release;
          if (option.automatic) option = auto_space(Manifest(file, y_up));
          space = make_space(option);
        }
        py::array_t<double> array({static_cast<py::ssize_t>(space->K), py::ssize_t{3}});
        double* out = array.mutable_data();
        for (u_int k = 0; k < space->K; k++)
          for (int c = 0; c < 3; c++) out[k * 3 + c] = space->ivec[k]->ve[c];
        return array;
      },
      py::arg("spec") = "default", py::arg("manifest") = py::none(), py::arg("y_up") = false,
      R"(The sampled light vectors as an (n, 3) float64 array, in the order the distances
of classify and estimate_light follow. spec is what --space takes: "default"
(or None), the programs' 21000 vectors; "T,E0,E1,E,M0,M1,M" (T tilts, E
elevations in [E0, E1) degrees, M magnitudes in [M0, M1)); or "auto", the
space of the lights of the manifest file `manifest` (read with y_up).
ValueError for a spec --space refuses.)");

  m.def(
      "photometric_normals",
      [](const py::object& images, const py::object& lights) {
        std::unique_ptr<MatrixMultiple> stack = images_from(images, "images");
        MatrixOwner L = lights_from(lights, stack->K, "lights");
        std::unique_ptr<MatrixMultiple> unit;
        MatrixOwner albedo;
        {
          py::gil_scoped_release release;
          TrainingSet tset(stack.release(), L.release());
          const std::unique_ptr<MatrixMultiple> g(tset.build_normals());
          unit.reset(unit_normals(g.get()));
          albedo.reset(normal_lengths(g.get()));
        }
        const py::ssize_t H = unit->m, W = unit->n;
        py::array_t<double> normals({H, W, py::ssize_t{3}});
        double* out = normals.mutable_data();
        for (py::ssize_t i = 0; i < H; i++)
          for (py::ssize_t j = 0; j < W; j++)
            for (int c = 0; c < 3; c++) out[(i * W + j) * 3 + c] = unit->matrices[c]->me[i][j];
        return py::make_tuple(normals, array_of(albedo.get()));
      },
      py::arg("images"), py::arg("lights"),
      R"(Least-squares photometric stereo, as the programs recover a surface's normals.
images: an (n, H, W) array or a sequence of n (H, W) arrays of one size; lights:
(n, 3), light k of image k (image frame). Per pixel g solves L g = grey levels;
returns (normals, albedo): normals (H, W, 3), g / |g| ((0, 0, 0) where g is 0),
albedo (H, W), |g|. ValueError for fewer than 3 lights or lights in one plane.)");

  m.def(
      "response_vector",
      [](const py::object& image, const Bank& bank, const py::object& mask) {
        MatrixOwner grey = image_from(image, "image");
        const std::vector<unsigned char> inside = mask_from(mask, grey->m, grey->n, "mask");
        VectorOwner response;
        {
          py::gil_scoped_release release;
          response.reset(image_response(bank.filters.get(), grey.get(),
                                        inside.empty() ? nullptr : inside.data()));
        }
        return array_of(response.get());
      },
      py::arg("image"), py::arg("bank"), py::arg("mask") = py::none(),
      R"(The response variances (F,) of an (H, W) image: per kernel the population
variance of its correlation over the positions where the kernel lies wholly
inside, or, with an (H, W) mask (non-zero or True on the surface), where every
pixel under it lies in the mask. The numbers the commands compute for an image.
ValueError for a kernel larger than the image or leaving no position counted.)");

  m.def(
      "build_model",
      [](const py::object& images, const py::object& lights, const Bank& bank,
         const py::object& mask, const std::string& name) {
        std::unique_ptr<MatrixMultiple> stack = images_from(images, "images");
        MatrixOwner L = lights_from(lights, stack->K, "lights");
        std::vector<unsigned char> inside = mask_from(mask, stack->m, stack->n, "mask");
        const std::string problem = model_lights_problem(L.get());
        if (!problem.empty())
          throw py::value_error("lights: cannot give a model (" + problem + ")");
        if (name.size() > 79) throw py::value_error("name: longer than 79 characters");
        Model model;
        model.bank = bank.filters;
        py::gil_scoped_release release;
        TrainingSet tset(stack.release(), L.release());
        tset.inside.swap(inside);
        model.model = std::make_shared<ClassSurface>(bank.filters.get(), name.c_str(), &tset);
        return model;
      },
      py::arg("images"), py::arg("lights"), py::arg("bank"), py::arg("mask") = py::none(),
      py::arg("name") = "surface",
      R"(The model of a surface from its training images, as build_database builds one
from a manifest's set: images (n, H, W) or a sequence of (H, W) arrays, lights
(n, 3) (at least 4, spanning all three directions), an optional (H, W) mask of
the pixels that show the surface in every image. Returns a Model (name at
most 79 characters). ValueError for lights that cannot give a model, a kernel
larger than the images.)");
}
