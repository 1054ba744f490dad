// numpy arrays in and out of the core's matrices.
//
// An input array may have any integer or floating dtype (it is converted
// to float64 as numpy converts it; integers of up to 53 bits and float32
// exactly) and any memory layout; a list of lists is taken as numpy takes
// it. A wrong number of dimensions, a dtype that is not a real number
// (bool, complex, object, text), a non-finite value, a side of 0 or an
// image larger than the image readers accept raise ValueError naming the
// argument. Outputs are new C-contiguous float64 arrays.
#ifndef TI_PYTHON_ARRAYS_H
#define TI_PYTHON_ARRAYS_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <vector>

#include "class.h"
#include "owners.h"

namespace py = pybind11;

// An (H, W) image as a new H x W matrix.
MatrixOwner image_from(const py::handle& image, const char* what);

// Images of one size, an (n, H, W) array or a sequence of (H, W) arrays, as
// a new stack of n matrices (m and n set).
std::unique_ptr<MatrixMultiple> images_from(const py::handle& images, const char* what);

// An (n, 3) array of light vectors as a new n x 3 matrix; `count`, when not
// negative, is the n the images call for.
MatrixOwner lights_from(const py::handle& lights, long count, const char* what);

// An (H, W) mask of an image of `rows` x `cols`: 1 where the value is not
// zero (or True), else 0; None gives an empty vector (every pixel counts).
std::vector<unsigned char> mask_from(const py::handle& mask, unsigned rows, unsigned cols,
                                     const char* what);

// New arrays of a matrix (m, n) and a vector (dim,).
py::array_t<double> array_of(const MAT* matrix);
py::array_t<double> array_of(const VEC* vector);

#endif
