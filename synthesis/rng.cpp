#include "rng.h"

#include <cmath>

#include "numeric.h"

namespace gen {

std::uint64_t mix64(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

std::uint64_t hash_string(const std::string& s) {
  std::uint64_t h = 0xCBF29CE484222325ull;
  for (unsigned char ch : s) {
    h ^= ch;
    h *= 0x100000001B3ull;
  }
  return h;
}

std::uint64_t derive_seed(std::uint64_t seed, const std::string& name, std::uint64_t a,
                          std::uint64_t b, std::uint64_t c) {
  std::uint64_t h = mix64(seed);
  h = mix64(h ^ hash_string(name));
  h = mix64(h ^ a);
  h = mix64(h ^ (b * 0x9E3779B97F4A7C15ull));
  h = mix64(h ^ (c * 0xD1B54A32D192ED03ull));
  return h;
}

std::uint64_t Rng::next_u64() {
  state_ += 0x9E3779B97F4A7C15ull;
  std::uint64_t z = state_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

double Rng::uniform() { return static_cast<double>(next_u64() >> 11) * 0x1.0p-53; }

double Rng::normal() {
  if (have_spare_) {
    have_spare_ = false;
    return spare_;
  }
  // 1 - uniform() lies in (0, 1], so the logarithm is finite.
  const double u1 = 1.0 - uniform();
  const double u2 = uniform();
  const double r = std::sqrt(-2.0 * std::log(u1));
  const double a = 2.0 * kPi * u2;
  spare_ = r * std::sin(a);
  have_spare_ = true;
  return r * std::cos(a);
}

}  // namespace gen
