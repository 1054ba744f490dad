// Parsing of command-line values: whole strings only, range-checked, no
// locale dependence.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gen {

// Splits on `sep`; "a,,b" gives an empty middle piece, "" gives one empty piece.
std::vector<std::string> split(const std::string& s, char sep);

// Decimal integer in [lo, hi]; no sign other than a leading '-', no spaces.
bool parse_int(const std::string& s, long lo, long hi, long* out);
bool parse_u64(const std::string& s, std::uint64_t* out);
// Finite decimal number in [lo, hi].
bool parse_double(const std::string& s, double lo, double hi, double* out);

// Comma-separated integers in [lo, hi], no duplicates. On failure returns
// false and sets *why.
bool parse_int_list(const std::string& s, long lo, long hi, std::vector<int>* out,
                    std::string* why);
bool parse_double_list(const std::string& s, double lo, double hi, std::vector<double>* out,
                       std::string* why);

// Splits "--name=value" into name and value; for "--name" the value is empty
// and has_value is false.
struct OptionToken {
  std::string name;
  std::string value;
  bool has_value = false;
};
OptionToken split_option(const std::string& arg);

}  // namespace gen
