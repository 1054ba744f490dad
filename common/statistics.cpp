#include "statistics.h"

#include <cmath>

void statistics(VEC* v, double* mean, double* var) {
  double m = 0.0;
  for (unsigned int i = 0; i < v->dim; i++) m += v->ve[i];
  m /= v->dim;
  double s = 0.0;
  for (unsigned int i = 0; i < v->dim; i++) {
    double d = v->ve[i] - m;
    s += d * d;
  }
  s /= v->dim;
  *mean = m;
  *var = std::sqrt(s);
}
