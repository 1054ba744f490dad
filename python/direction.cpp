// Light-direction estimation (direction/illumination.h).
#include <memory>
#include <vector>

#include "arrays.h"
#include "bindings.h"
#include "illumination.h"
#include "response.h"

void register_direction(py::module_& m) {
  m.def(
      "estimate_light",
      [](const py::object& image, const Model& model, const Bank& bank, const py::object& space,
         bool distances, const py::object& mask) {
        check_same_bank(*bank.filters, *model.model, "estimate_light");
        MatrixOwner grey = image_from(image, "image");
        const std::vector<unsigned char> inside = mask_from(mask, grey->m, grey->n, "mask");
        const SpaceOption option = space_option(space, false);
        double best[3];
        double distance;
        VectorOwner all;
        {
          py::gil_scoped_release release;
          const VectorOwner response(image_response(bank.filters.get(), grey.get(),
                                                    inside.empty() ? nullptr : inside.data()));
          const std::unique_ptr<ISpace> ispace = make_space(option);
          ClassSurface* s = model.model.get();
          VEC* every;
          const u_int k = best_fit_index(ispace->ivec, ispace->K, response.get(), s->P, s->mu,
                                         s->sigma, &every);
          all.reset(every);
          distance = every->ve[k];
          for (int c = 0; c < 3; c++) best[c] = ispace->ivec[k]->ve[c];
        }
        py::array_t<double> light(3);
        std::copy(best, best + 3, light.mutable_data());
        if (distances) return py::make_tuple(light, distance, array_of(all.get()));
        return py::make_tuple(light, distance);
      },
      py::arg("image"), py::arg("model"), py::arg("bank"), py::arg("space") = py::none(),
      py::arg("distances") = false, py::arg("mask") = py::none(),
      R"(Estimates the light of an (H, W) image of the model's surface as estimate_light
does: the sampled light vector of `space` (as light_space takes it; None the
default) whose predicted response variances fit the image's best (the first
among equals). Returns (light, distance): the vector (3,), with its magnitude,
in the image frame, and its distance; with distances=True also the (n,)
distances at every sampled vector, in light_space's order.)");
}
