// Start-up of every program of the project.
//
// A program's `main` makes one call, `return run_program(argc, argv, body);`,
// which from then on
//  - routes every error of the matrix library to one line on standard error,
//    "<program>: matrix library: <what> in function <f>() (<file>, line <n>)",
//    ending the process with status 3 (the library's own handling would write
//    to standard output and exit with status 0);
//  - prints a DataError thrown by any reader as its one line on standard
//    error and returns 1;
//  - returns 1 as well when standard output could not be written;
//  - keeps freed memory for reuse (keep_freed_memory).
// Numbers are always read and written in the classic "C" locale: no program
// calls setlocale.
#ifndef TI_PROGRAM_H
#define TI_PROGRAM_H

#include "cli.h"  // the exit statuses shared by all programs

// Runs body(argc, argv) as described above and returns its status.
int run_program(int argc, char** argv, int (*body)(int, char**));

// Keeps freed memory in the process for reuse (large blocks from the heap,
// no trimming below 256 MiB) and backs the heap with huge pages where the
// system allows it; run_program calls it, the benchmarks too.
void keep_freed_memory();

// program_name() (cli.h) is the name given to run_program.

// The matrix-library half of run_program, for a main that is not one of the
// programs (the test programs): from this call on, an error of the library
// ends the process with one line on standard error naming `name` and status
// kExitMatrixLib, and a warning is one line on standard error. `name` must
// outlive the process.
void handle_matrix_library_errors(const char* name);

#endif
