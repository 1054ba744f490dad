// texture_illumination: the core library's computations for Python (see
// bindings.h for the files and the rules they keep).
#include "bindings.h"

PYBIND11_MODULE(texture_illumination, m) {
  m.doc() =
      "Rough surface textures under point-light illumination: photometric normals, filter\n"
      "banks, response variances, surface models (L^T C L), classification and light\n"
      "estimation over a sampled light space. The same computation as the project's\n"
      "commands, bit for bit; numpy arrays in and out. Every function releases the GIL\n"
      "while it computes. Files that cannot be opened raise OSError, bad data ValueError\n"
      "(the commands' messages), an error of the matrix library MatrixLibraryError.";
  register_errors(m);
  register_io(m);
  register_banks(m);
  register_common(m);
  register_classify(m);
  register_direction(m);
  register_manifests(m);
}
