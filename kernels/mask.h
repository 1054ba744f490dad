// Masks: which pixels of an image show the surface, and which positions of
// a kernel's valid correlation are counted.
//
// A mask of an m x n image holds one byte per pixel, row by row
// (inside[i * n + j] for row i, column j): 1 where the pixel lies on the
// surface, 0 where it does not (the background around an object, a holder,
// a label). A position (i, j) of a kernel of fm x fn, 0 <= i <= m - fm,
// 0 <= j <= n - fn, is counted when every pixel under the kernel there lies
// inside. Every statistic that runs over the valid positions (the variance
// of an image's filter response, the statistics of filtered normals and
// images that make a model) runs over the counted ones instead, in the same
// row-major order; where every position counts, the computation is exactly
// the one without a mask.
#ifndef TI_MASK_H
#define TI_MASK_H

#include <cstddef>
#include <vector>

#include "class.h"

// The counted positions of a kernel of fm x fn over an m x n image with the
// mask `inside` (m n bytes): counted[i * (n - fn + 1) + j] is 1 or 0 for
// the (m - fm + 1) x (n - fn + 1) positions. Returns how many count. The
// kernel must fit the image.
size_t counted_positions(const unsigned char* inside, unsigned int m, unsigned int n,
                         unsigned int fm, unsigned int fn, std::vector<unsigned char>* counted);

// The new stack of the counted values of every matrix of `s` (each of the
// size `counted` was made for), one 1 x N row per matrix in row-major
// order, N the number counted: the statistics of a stack over its counted
// positions are those of this stack over all of its positions, term for
// term. Caller deletes.
MatrixMultiple* counted_values(const MatrixMultiple* s, const std::vector<unsigned char>& counted,
                               size_t count);

// Raises a DataError naming the bank file, the filter and its size, and the
// image size, for a kernel that leaves no position of the mask counted.
[[noreturn]] void no_counted_position(const Filters* bank, u_int k, unsigned int m, unsigned int n);

#endif
