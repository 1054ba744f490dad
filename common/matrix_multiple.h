// Matrix stacks: construction, the normals text file, filtering and the
// statistics of filtered stacks.
//
// Normals text file: line 1 holds the number of rows m and of columns n (both
// at least 1; text after them is ignored); then 3 m n value lines, one number
// each (the first number of the line counts), for row i outermost, column j,
// component k = x, y, z innermost. Lines after the last value are not read.
#ifndef TI_MATRIX_MULTIPLE_H
#define TI_MATRIX_MULTIPLE_H

#include <cstdio>

#include "class.h"

// The correlation response of `filter` with its first element at (i, j) of
// `image`: sum over k, l of filter[k][l] * image[i + k][j + l], k outer.
// Requires i + fm <= im and j + fn <= in.
double single_filtered_value(MAT* filter, MAT* image, int i, int j);

// The new vector of the upper triangle of square M, row by row, each entry
// (M(i, j) + M(j, i)) / 2: dimension K(K+1)/2. Caller frees.
VEC* symmatrix2vector(MAT* M);

// MatrixMultiple::distribution and uncorrelated_filter_response are the
// fast versions (the plain ones with TI_PLAIN_KERNELS=ON); these are both,
// for comparison: the same results, bit for bit.
void distribution_plain(MatrixMultiple* s, VEC* mean, MAT* covariance);
void distribution_fast(MatrixMultiple* s, VEC* mean, MAT* covariance);
VEC* uncorrelated_filter_response_plain(MatrixMultiple* s, MAT* m_filter);
VEC* uncorrelated_filter_response_fast(MatrixMultiple* s, MAT* m_filter);

// The new K-vector of the variances of the matrices of `s` as they are: the
// diagonal of distribution's covariance, the same sums (the second half of
// uncorrelated_filter_response). Caller frees.
VEC* stack_variances_plain(MatrixMultiple* s);
VEC* stack_variances_fast(MatrixMultiple* s);

// Writes a normal field (3 planes of m x n) in the normals text file format,
// every value with 17 significant digits so that it reads back exactly.
// Returns false on a write error.
bool write_normals(FILE* f, MatrixMultiple* normals);

#endif
