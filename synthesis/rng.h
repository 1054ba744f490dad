// Deterministic random numbers for the data generators.
//
// Every stream is a splitmix64 sequence, and every distribution is written
// out here, so a given seed yields the same numbers with any compiler and
// standard library.
#pragma once

#include <cstdint>
#include <string>

namespace gen {

// One splitmix64 step applied to a value: a good 64-bit mixing function.
std::uint64_t mix64(std::uint64_t x);

// 64-bit FNV-1a hash of a string.
std::uint64_t hash_string(const std::string& s);

// Seed of an independent stream identified by (seed, name, a, b, c).
std::uint64_t derive_seed(std::uint64_t seed, const std::string& name, std::uint64_t a = 0,
                          std::uint64_t b = 0, std::uint64_t c = 0);

class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next_u64();
  // Uniform in [0, 1) with 53 random bits.
  double uniform();
  // Uniform in [lo, hi).
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  // Standard normal (Box-Muller; the second value of each pair is kept).
  double normal();

 private:
  std::uint64_t state_;
  bool have_spare_ = false;
  double spare_ = 0.0;
};

}  // namespace gen
