// A dense row-major 2-D array of doubles: row i (top to bottom), column j.
#pragma once

#include <cstddef>
#include <vector>

namespace gen {

struct Grid {
  int rows = 0;
  int cols = 0;
  std::vector<double> v;

  Grid() = default;
  Grid(int r, int c, double fill = 0.0)
      : rows(r), cols(c), v(static_cast<std::size_t>(r) * static_cast<std::size_t>(c), fill) {}

  double& at(int i, int j) { return v[static_cast<std::size_t>(i) * cols + j]; }
  double at(int i, int j) const { return v[static_cast<std::size_t>(i) * cols + j]; }
  std::size_t size() const { return v.size(); }
};

}  // namespace gen
