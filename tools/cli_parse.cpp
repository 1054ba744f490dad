#include "cli_parse.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace gen {

namespace {

std::string fmt_g(double x) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", x);
  return buf;
}

}  // namespace

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : s) {
    if (c == sep) {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  parts.push_back(cur);
  return parts;
}

bool parse_int(const std::string& s, long lo, long hi, long* out) {
  if (s.empty() || s.size() > 19) return false;
  std::size_t k = 0;
  bool neg = false;
  if (s[0] == '-') {
    neg = true;
    k = 1;
  }
  if (k == s.size()) return false;
  long v = 0;
  for (; k < s.size(); ++k) {
    if (s[k] < '0' || s[k] > '9') return false;
    v = v * 10 + (s[k] - '0');  // at most 18 digits: no overflow
  }
  if (neg) v = -v;
  if (v < lo || v > hi) return false;
  *out = v;
  return true;
}

bool parse_u64(const std::string& s, std::uint64_t* out) {
  if (s.empty() || s.size() > 20) return false;
  std::uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    const std::uint64_t d = static_cast<std::uint64_t>(c - '0');
    if (v > (UINT64_MAX - d) / 10) return false;
    v = v * 10 + d;
  }
  *out = v;
  return true;
}

bool parse_double(const std::string& s, double lo, double hi, double* out) {
  if (s.empty() || s.size() > 64) return false;
  // Only plain decimal notation, so the result does not depend on the locale
  // or on hex/inf/nan spellings that strtod would accept.
  bool digit = false;
  for (std::size_t k = 0; k < s.size(); ++k) {
    const char c = s[k];
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (!(c == '.' || ((c == '-' || c == '+') && k == 0) || c == 'e' || c == 'E' ||
                 ((c == '-' || c == '+') && (s[k - 1] == 'e' || s[k - 1] == 'E')))) {
      return false;
    }
  }
  if (!digit) return false;
  // strtod reads '.' as the decimal point only in the C locale; the programs
  // never call setlocale, so that is the locale in force.
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || errno == ERANGE || !std::isfinite(v)) return false;
  if (v < lo || v > hi) return false;
  *out = v;
  return true;
}

bool parse_int_list(const std::string& s, long lo, long hi, std::vector<int>* out,
                    std::string* why) {
  std::vector<int> v;
  for (const auto& p : split(s, ',')) {
    long x = 0;
    if (!parse_int(p, lo, hi, &x)) {
      *why = "'" + p + "' is not a whole number from " + std::to_string(lo) + " to " +
             std::to_string(hi);
      return false;
    }
    if (std::find(v.begin(), v.end(), static_cast<int>(x)) != v.end()) {
      *why = std::to_string(x) + " is listed twice";
      return false;
    }
    v.push_back(static_cast<int>(x));
  }
  *out = v;
  return true;
}

bool parse_double_list(const std::string& s, double lo, double hi, std::vector<double>* out,
                       std::string* why) {
  std::vector<double> v;
  for (const auto& p : split(s, ',')) {
    double x = 0.0;
    if (!parse_double(p, lo, hi, &x)) {
      *why = "'" + p + "' is not a number from " + fmt_g(lo) + " to " + fmt_g(hi);
      return false;
    }
    v.push_back(x);
  }
  *out = v;
  return true;
}

OptionToken split_option(const std::string& arg) {
  OptionToken t;
  const auto eq = arg.find('=');
  if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
    t.name = arg.substr(0, eq);
    t.value = arg.substr(eq + 1);
    t.has_value = true;
  } else {
    t.name = arg;
  }
  return t;
}

}  // namespace gen
