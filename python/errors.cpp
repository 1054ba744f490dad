// Errors as Python exceptions, translated here and nowhere else:
//  - a DataError about a file the system could not open, read or write
//    (DataError::system_error, data_error.h) raises OSError of the errno's
//    subclass (FileNotFoundError, PermissionError, IsADirectoryError...),
//    errno set; any other DataError raises ValueError. The
//    message is the commands' line, without its line break;
//  - std::invalid_argument (an unknown bank name) raises ValueError and
//    std::bad_alloc MemoryError (pybind11's own translation);
//  - an error of the matrix library raises MatrixLibraryError, a subclass
//    of RuntimeError: "matrix library: <what> in function <f>() (<file>,
//    line <n>)". The library reports its errors through the C function
//    ev_err, whose own definition would print to standard output and end
//    the process; the module's definition below takes its place (symbol
//    interposition: the module is the first object of its own load group
//    that defines it) and throws a C++ exception instead. It unwinds through
//    the library's C frames (built with unwind tables, as Debian builds on
//    x86-64) and through parallel_for, which hands a worker's exception to
//    its caller. A warning of the library is one line on standard error.
#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "bindings.h"
#include "data_error.h"
#include "library_errors.h"
#include "meschach.h"
#include "owners.h"
#include "parallel.h"

namespace {

// An error of the matrix library, as ev_err reports it.
class MatrixLibraryError : public std::runtime_error {
 public:
  explicit MatrixLibraryError(const std::string& report)
      : std::runtime_error("matrix library: " + report) {}
};

std::string without_line_break(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// Sets OSError of err's subclass with `message` as its text.
void set_os_error(int err, const std::string& message) {
  // OSError(errno, text) picks the subclass of errno; the exception raised
  // is that class with the commands' message as its one argument and errno
  // set (strerror left None, so that str() is the message as it stands).
  const py::object probe = py::reinterpret_borrow<py::object>(PyExc_OSError)(err, "");
  py::object error = py::type::of(probe)(message);
  error.attr("errno") = err;
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
}

}  // namespace

// The matrix library's report of an error or warning (library_errors.h):
// an error becomes a MatrixLibraryError thrown to the caller of the library.
extern "C" __attribute__((visibility("default"))) int ev_err(char* file, int err_num, int line_num,
                                                             char* fn_name, int list_num) {
  const std::string report = matrix_library_report(file, err_num, line_num, fn_name, list_num);
  if (list_num == 1) {
    std::fprintf(stderr, "texture_illumination: matrix library warning: %s\n", report.c_str());
    return 0;
  }
  throw MatrixLibraryError(report);
}

void register_errors(py::module_& m) {
  static py::exception<MatrixLibraryError> matrix_library_error(m, "MatrixLibraryError",
                                                                PyExc_RuntimeError);
  matrix_library_error.doc() =
      "An error of the matrix library (e.g. a singular matrix): the library's description,\n"
      "function, file and line. The interpreter goes on; the call that met it has no result.";
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const DataError& e) {
      const std::string message = without_line_break(e.what());
      if (e.system_error() != 0)
        set_os_error(e.system_error(), message);
      else
        PyErr_SetString(PyExc_ValueError, message.c_str());
    } catch (const MatrixLibraryError& e) {
      PyErr_SetString(matrix_library_error.ptr(), e.what());
    }
  });

  // There is no input of the public functions known to reach an error of
  // the library (the readers and checks turn bad input into data errors
  // first), so the tests meet one through this hook: a product of matrices
  // of sizes that do not match, which the library refuses (E_SIZES) from its
  // own C code, on `jobs` threads at once through parallel_for.
  m.def(
      "_matrix_library_error",
      [](unsigned jobs) {
        py::gil_scoped_release release;
        parallel_for(jobs, jobs, [](size_t) {
          const MatrixOwner a(m_get(2, 3)), b(m_get(2, 3)), c(m_get(2, 2));
          m_mlt(a.get(), b.get(), c.get());
        });
      },
      py::arg("jobs") = 1,
      "Raises MatrixLibraryError from inside the matrix library (for the tests).");
}
