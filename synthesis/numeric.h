// Small numeric helpers shared by the generators.
#pragma once

namespace gen {

constexpr double kPi = 3.14159265358979323846;

inline double deg_to_rad(double deg) { return deg * (kPi / 180.0); }

// Index i wrapped into [0, n) for periodic grids (any int i).
inline int wrap_index(int i, int n) {
  const int r = i % n;
  return r < 0 ? r + n : r;
}

}  // namespace gen
