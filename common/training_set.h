// Training sets: images of one surface with their light vectors, index
// lists, and photometric normals.
#ifndef TI_TRAINING_SET_H
#define TI_TRAINING_SET_H

#include <string>

#include "class.h"

// The new matrix of image (in.q, in.z, in.d) of `surface`. Caller frees.
// Requires in.q < Q, in.d < T and in.z < S (tested in that order).
MAT* image(Surface* surface, Index in);

// A new array of K records (q, d[k], z), k = 0 .. K-1: K images of set q at
// slant index z, one per tilt index of d, in d's order. Caller delete[]s.
Index* tilts(int q, int z, unsigned int K, const int* d);

// Why photometric stereo cannot use the K x 3 light vectors L ("" when it
// can): fewer than 3 of them, or all in one plane (relative to their scale).
std::string lights_problem(const MAT* L);

// The albedo of a normal field g (build_normals: per pixel the unit normal
// times the albedo): the new m x n matrix of the lengths sqrt(x*x + y*y +
// z*z) of g's vectors. Caller frees.
MAT* normal_lengths(const MatrixMultiple* g);
// The new field of g's unit normals: each vector divided by its length,
// component by component, and left (0, 0, 0) where the length is 0.
// Caller deletes.
MatrixMultiple* unit_normals(const MatrixMultiple* g);

// TrainingSet::build_normals is the fast version (the plain one with
// TI_PLAIN_KERNELS=ON); both are here for comparison, bit-identical.
MatrixMultiple* build_normals_plain(TrainingSet* t);
MatrixMultiple* build_normals_fast(TrainingSet* t);

#endif
