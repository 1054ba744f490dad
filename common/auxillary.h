// Numerical support: least-squares inverses, printing of vectors and
// matrices, and a descending bubble sort that carries a companion array.
//
// Every function that returns a MAT* returns a new matrix: the caller frees it
// with m_free. Arguments are not changed, except by the two sorting functions,
// which reorder theirs in place.
#ifndef TI_AUXILLARY_H
#define TI_AUXILLARY_H

#include <cstdio>

#include "meschach.h"

// Both inverses may be called from several threads at once: the matrix
// library's inversion, which keeps static workspaces, runs under a lock.
//
// For A of m x n (m >= n, full column rank): the new n x m matrix
// (A^T A)^-1 A^T, so that result * A is the n x n identity. A singular A^T A
// stops the run through the matrix library's error handling. Caller frees.
// Safe to call from several threads at once (the library's inverse, which
// keeps static workspace, runs in one at a time).
MAT* left_inverse(MAT* A);

// For A of m x n (m <= n, full row rank): the new n x m matrix
// A^T (A A^T)^-1, so that A * result is the m x m identity. Caller frees.
MAT* right_inverse(MAT* A);

// Writes `preliminary` and a line break, then every element with "%0.6lf   "
// and one line break. This is the number format of the database file.
void print_vector(FILE* f, const char* preliminary, VEC* vector);

// Writes `preliminary` and a line break, then one line per row, every element
// with "%0.6lf   ".
void print_matrix(FILE* f, const char* preliminary, MAT* matrix);

// Writes the matrix as a tabular environment: one "l" column per column,
// elements with "%.2lf" separated by "&", rows ended by two backslashes, and
// an empty line after "\end{tabular}". The matrix needs at least one column.
void print_LATEX_matrix(FILE* f, MAT* M);

// One pass towards descending order: for k = 0 .. dim-2, when
// values[k+1] > values[k], exchanges both values[k], values[k+1] and
// array[k], array[k+1]. `array` holds at least values->dim entries.
void bubble_single(VEC* values, int* array);

// Sorts `values` into non-increasing order with values->dim passes of
// bubble_single; equal values (and NaNs) keep their relative order.
void bubble(VEC* values, int* array);

#endif
