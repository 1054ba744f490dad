// The matrix library reports every error through ev_err; this definition
// takes precedence over the shared library's. A reader must turn bad input
// into a DataError before the library ever sees it, so any error report here
// is a finding: it aborts, and libFuzzer keeps the input with the stack.
// Warnings are printed and the run goes on.
#include <cstdio>
#include <cstdlib>

extern "C" int ev_err(char* file, int err_num, int line_num, char* fn_name, int list_num) {
  std::fprintf(stderr, "fuzz harness: matrix library %s %d in function %s() (%s, line %d)\n",
               list_num == 1 ? "warning" : "error", err_num, fn_name ? fn_name : "?",
               file ? file : "?", line_num);
  if (list_num == 1) return 0;
  std::abort();
}
