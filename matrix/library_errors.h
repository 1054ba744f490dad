// What the matrix library's error and warning numbers mean.
//
// The library reports every error and warning through one C function,
// ev_err(file, number, line, function, list): list 0 holds its errors, list
// 1 its warnings. Its own handler writes to standard output and exits with
// status 0, so every user of the core replaces it (symbol interposition):
// the programs end with one line on standard error (startup/program.h), the
// Python module raises an exception (python/errors.cpp). Both describe the
// report with the texts here.
#ifndef TI_LIBRARY_ERRORS_H
#define TI_LIBRARY_ERRORS_H

#include <string>

// The library's description of error `number` of list `list` (0 errors, 1
// warnings), e.g. "singular matrix"; an unknown number reads "unknown
// error" (or "unknown warning").
const char* matrix_library_text(int list, int number);

// "<description> in function <function>() (<file>, line <line>)", with "?"
// for a null function or file.
std::string matrix_library_report(const char* file, int number, int line, const char* function,
                                  int list);

#endif
