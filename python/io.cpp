// Images as the manifest commands read them (io/image.h).
#include <string>

#include "arrays.h"
#include "bindings.h"
#include "image.h"

void register_io(py::module_& m) {
  m.def(
      "read_image",
      [](const std::string& path, bool srgb) {
        ImageOptions options;
        options.srgb = srgb;
        GreyImage image;
        {
          py::gil_scoped_release release;
          image = read_grey_image(path, options);
        }
        py::array_t<double> array(
            {static_cast<py::ssize_t>(image.height), static_cast<py::ssize_t>(image.width)});
        std::copy(image.pixels.begin(), image.pixels.end(), array.mutable_data());
        return array;
      },
      py::arg("path"), py::arg("srgb") = false,
      R"(The grey levels of an image file as an (H, W) float64 array, row 0 the top,
exactly as the manifest commands read it: PGM/PPM, PNG or TIFF (the format
from the file's first bytes), an integer sample v as v / maxval * 255, a float
as v * 255, colour as 0.2126 R + 0.7152 G + 0.0722 B; srgb=True undoes the
sRGB transfer curve first. OSError when the file cannot be opened, ValueError
when it is not an image the commands read.)");
}
