// The illumination-response model of a surface.
//
// For filter f and light vector L the model predicts the variance of the
// filter's response as L^T C_f L, C_f the 3 x 3 covariance of the normal field
// filtered with f. P holds C_f's entries xx, xy, xz, yy, yz, zz in row f; mu
// and sigma the mean and population standard deviation, over the training
// images, of predicted minus measured variance.
#ifndef TI_PARAMETERS_H
#define TI_PARAMETERS_H

#include <string>
#include <vector>

#include "class.h"

// L^T Phi L for square Phi of L's dimension.
double feature(MAT* Phi, VEC* L);

// The new vector of feature(Phi, row k of illumination) for every row k.
// Caller frees.
VEC* features(MAT* Phi, MAT* illumination);

// The new symmetric 3 x 3 matrix of row k of P (6 columns): rows
// (p0, p1, p2), (p1, p3, p4), (p2, p4, p5). Caller frees.
MAT* get_matrix_of_row(MAT* P, unsigned int k);

// *mu = mean of x - y, *sigma = population standard deviation of x - y.
void pmtrs(VEC* x, VEC* y, double* mu, double* sigma);

// The first filter whose spread sigma is zero, or -1 when none is. Every
// distance to a model with a zero spread is infinite or not a number, so
// such a model cannot be used; it arises only from degenerate images (a
// response that the model predicts exactly on every training image).
int zero_spread(const VEC* sigma);

// The text that says so, for messages: "filter <f> "<name>": sigma is 0 ...".
std::string zero_spread_text(const Filters* bank, int f);

// The filters whose sigma a database file stores as 0 (its six decimals,
// "%0.6lf", write 0.000000: sigma below 5e-7), each described as
// "filter <f> (<name>): sigma <value> is written as <text>". A model with
// such a spread has no usable fit: every distance to it, read back from the
// file, is infinite or not a number, and in memory it weights its filters
// by spreads that are rounding noise.
std::vector<std::string> spreads_stored_as_zero(const VEC* sigma, const Filters* bank);

#endif
