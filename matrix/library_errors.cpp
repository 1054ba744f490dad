#include "library_errors.h"

namespace {

// Error list 0 and warning list 1 of the library, in its numbering.
const char* const kErrors[] = {
    "unknown error",
    "sizes of objects don't match",
    "index out of bounds",
    "can't allocate memory",
    "singular matrix",
    "matrix not positive definite",
    "incorrect format input",
    "bad input file/device",
    "NULL objects passed",
    "matrix not square",
    "object out of range",
    "can't do operation in situ for non-square matrix",
    "can't do operation in situ",
    "too many iterations",
    "convergence criterion failed",
    "bad starting value",
    "floating exception",
    "internal inconsistency (data structure)",
    "unexpected end-of-file",
    "shared vectors (cannot release them)",
    "negative argument",
    "cannot overwrite object",
    "breakdown in iterative method",
};
const char* const kWarnings[] = {
    "unknown warning",
    "wrong type number",
    "no corresponding mem_stat_mark",
    "computed residual is less than 0",
    "resizing a shared vector",
};

}  // namespace

const char* matrix_library_text(int list, int number) {
  const char* const* table = list == 1 ? kWarnings : kErrors;
  const int count = list == 1 ? 5 : 23;
  return (number >= 0 && number < count) ? table[number] : table[0];
}

std::string matrix_library_report(const char* file, int number, int line, const char* function,
                                  int list) {
  return std::string(matrix_library_text(list, number)) + " in function " +
         (function ? function : "?") + "() (" + (file ? file : "?") + ", line " +
         std::to_string(line) + ")";
}
