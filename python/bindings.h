// The Python module texture_illumination: bindings over the core library,
// the same functions the commands call, one file per concern of the core
// (module.cpp registers them):
//   errors.cpp     data errors and the matrix library's errors as Python
//                  exceptions (one translator)
//   arrays.cpp     numpy arrays in and out (arrays.h)
//   io.cpp         read_image (io/image.h)
//   banks.cpp      Bank, read_bank, bank (banks/named_bank.h)
//   common.cpp     light, light_space, photometric_normals, response_vector,
//                  build_model, Model (common/, manifests/light_space.h)
//   classify.cpp   Database, read_database, write_database, classify
//                  (classify/)
//   direction.cpp  estimate_light (direction/illumination.h)
//   manifests.cpp  classify_manifest, estimate_light_manifest (manifests/)
//
// Every function copies its numpy input into the core's matrices while it
// holds the GIL, releases the GIL for the computation (so Python threads
// compute side by side) and takes it again to hand back new numpy arrays.
// Banks, models and databases are Python objects that own their core
// objects through shared pointers: a model keeps its bank alive, a model
// taken from a database keeps the database alive.
#ifndef TI_PYTHON_BINDINGS_H
#define TI_PYTHON_BINDINGS_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <string>

#include "class.h"
#include "light_space.h"

namespace py = pybind11;

// A filter bank (normalised, as the commands use it) and how it was named.
struct Bank {
  std::shared_ptr<Filters> filters;
};

// A surface model and the bank it was built with (or read with).
struct Model {
  std::shared_ptr<ClassSurface> model;
  std::shared_ptr<Filters> bank;
};

// The models of a database file, read with one bank.
struct ModelDatabase {
  std::shared_ptr<Database> database;
  std::shared_ptr<Filters> bank;
  std::string file;
};

// Raises ValueError unless `bank` has as many filters as `model` has rows
// (the responses and the model must come from one bank).
void check_same_bank(const Filters& bank, const ClassSurface& model, const char* what);

// The light space `spec` names, as --space reads it: None or "default" (the
// programs' 21000 vectors), "T,E0,E1,E,M0,M1,M", or "auto" (automatic set,
// allowed only where `manifest_allowed`). ValueError with the reason
// otherwise.
SpaceOption space_option(const py::object& spec, bool manifest_allowed);

void register_errors(py::module_& m);
void register_io(py::module_& m);
void register_banks(py::module_& m);
void register_common(py::module_& m);
void register_classify(py::module_& m);
void register_direction(py::module_& m);
void register_manifests(py::module_& m);

#endif
