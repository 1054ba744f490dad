// Summary statistics of a vector, shared by both experiment programs.
#ifndef TI_STATISTICS_H
#define TI_STATISTICS_H

#include "meschach.h"

// Stores through `mean` the mean of the elements (summed in index order,
// divided by dim) and through `var` their population standard deviation:
// the square root of the mean squared deviation, dividing by dim, not dim-1.
// The vector must not be empty.
void statistics(VEC* v, double* mean, double* var);

#endif
