#include "arrays.h"

#include <cmath>
#include <cstring>
#include <string>

#include "image.h"

namespace {

using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;

[[noreturn]] void bad(const char* what, const std::string& why) {
  throw py::value_error(std::string(what) + ": " + why);
}

// `object` as a C-contiguous float64 array of `dims` dimensions, checked as
// arrays.h says.
Doubles real_array(const py::handle& object, int dims, const char* what, const char* shape) {
  const py::array array = py::array::ensure(object);
  if (!array) bad(what, std::string("expected an array of shape ") + shape);
  const char kind = array.dtype().kind();
  if (kind != 'f' && kind != 'i' && kind != 'u')
    bad(what, std::string("expected real numbers, got an array of dtype ") +
                  py::str(array.dtype()).cast<std::string>());
  if (array.ndim() != dims)
    bad(what, std::string("expected an array of shape ") + shape + ", got " +
                  std::to_string(array.ndim()) + " dimensions");
  Doubles values = Doubles::ensure(array);
  if (!values) bad(what, "cannot be converted to float64");
  const double* p = values.data();
  for (py::ssize_t k = 0; k < values.size(); k++)
    if (!std::isfinite(p[k])) bad(what, "a value is not a finite number");
  return values;
}

void check_image_size(py::ssize_t rows, py::ssize_t cols, const char* what) {
  if (rows < 1 || cols < 1 || rows > kMaxImageSideLength || cols > kMaxImageSideLength ||
      rows * cols > kMaxImagePixels)
    bad(what, "unsupported image size " + std::to_string(cols) + "x" + std::to_string(rows) +
                  "; sides from 1 to " + std::to_string(kMaxImageSideLength) + ", at most " +
                  std::to_string(kMaxImagePixels) + " pixels");
}

MAT* matrix_of(const double* values, py::ssize_t rows, py::ssize_t cols) {
  MAT* matrix = m_get(static_cast<unsigned>(rows), static_cast<unsigned>(cols));
  for (py::ssize_t i = 0; i < rows; i++)
    std::memcpy(matrix->me[i], values + i * cols, sizeof(double) * static_cast<size_t>(cols));
  return matrix;
}

}  // namespace

MatrixOwner image_from(const py::handle& image, const char* what) {
  const Doubles values = real_array(image, 2, what, "(H, W)");
  check_image_size(values.shape(0), values.shape(1), what);
  return MatrixOwner(matrix_of(values.data(), values.shape(0), values.shape(1)));
}

std::unique_ptr<MatrixMultiple> images_from(const py::handle& images, const char* what) {
  std::vector<MatrixOwner> planes;
  if (py::isinstance<py::array>(images)) {
    const Doubles values = real_array(images, 3, what, "(n, H, W)");
    check_image_size(values.shape(1), values.shape(2), what);
    const py::ssize_t size = values.shape(1) * values.shape(2);
    for (py::ssize_t k = 0; k < values.shape(0); k++)
      planes.emplace_back(matrix_of(values.data() + k * size, values.shape(1), values.shape(2)));
  } else if (py::isinstance<py::sequence>(images) && !py::isinstance<py::str>(images)) {
    const py::sequence list = py::reinterpret_borrow<py::sequence>(images);
    for (size_t k = 0; k < list.size(); k++) {
      const std::string item = std::string(what) + "[" + std::to_string(k) + "]";
      planes.push_back(image_from(list[k], item.c_str()));
    }
  } else {
    bad(what, "expected an array of shape (n, H, W) or a sequence of (H, W) arrays");
  }
  if (planes.empty()) bad(what, "no image");
  std::unique_ptr<MatrixMultiple> stack(new MatrixMultiple(static_cast<unsigned>(planes.size())));
  stack->m = planes[0]->m;
  stack->n = planes[0]->n;
  for (size_t k = 0; k < planes.size(); k++) {
    if (planes[k]->m != stack->m || planes[k]->n != stack->n)
      bad(what, "image " + std::to_string(k) + " is " + std::to_string(planes[k]->n) + "x" +
                    std::to_string(planes[k]->m) + ", image 0 " + std::to_string(stack->n) + "x" +
                    std::to_string(stack->m));
    stack->matrices[k] = planes[k].release();
  }
  return stack;
}

MatrixOwner lights_from(const py::handle& lights, long count, const char* what) {
  const Doubles values = real_array(lights, 2, what, "(n, 3)");
  if (values.shape(1) != 3)
    bad(what,
        "expected an array of shape (n, 3), got " + std::to_string(values.shape(1)) + " columns");
  if (count >= 0 && values.shape(0) != count)
    bad(what, std::to_string(values.shape(0)) + " lights for " + std::to_string(count) + " images");
  if (values.shape(0) < 1) bad(what, "no light");
  return MatrixOwner(matrix_of(values.data(), values.shape(0), 3));
}

std::vector<unsigned char> mask_from(const py::handle& mask, unsigned rows, unsigned cols,
                                     const char* what) {
  std::vector<unsigned char> inside;
  if (mask.is_none()) return inside;
  const py::array array = py::array::ensure(mask);
  if (array && array.dtype().kind() == 'b') {
    // A boolean mask: True inside.
    return mask_from(array.attr("astype")("uint8"), rows, cols, what);
  }
  const Doubles values = real_array(mask, 2, what, "(H, W)");
  if (values.shape(0) != rows || values.shape(1) != cols)
    bad(what, "the mask is " + std::to_string(values.shape(1)) + "x" +
                  std::to_string(values.shape(0)) + ", its image " + std::to_string(cols) + "x" +
                  std::to_string(rows));
  inside.resize(static_cast<size_t>(rows) * cols);
  const double* p = values.data();
  for (size_t k = 0; k < inside.size(); k++) inside[k] = p[k] != 0;
  return inside;
}

py::array_t<double> array_of(const MAT* matrix) {
  py::array_t<double> array(
      {static_cast<py::ssize_t>(matrix->m), static_cast<py::ssize_t>(matrix->n)});
  double* out = array.mutable_data();
  for (unsigned i = 0; i < matrix->m; i++)
    std::memcpy(out + static_cast<size_t>(i) * matrix->n, matrix->me[i],
                sizeof(double) * matrix->n);
  return array;
}

py::array_t<double> array_of(const VEC* vector) {
  py::array_t<double> array(static_cast<py::ssize_t>(vector->dim));
  std::memcpy(array.mutable_data(), vector->ve, sizeof(double) * vector->dim);
  return array;
}
