#include "number.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "text_line.h"

std::vector<std::string> split_text(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  while (true) {
    const std::string::size_type end = s.find(sep, start);
    parts.push_back(s.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

bool parse_long(const std::string& s, long lo, long hi, long* out) {
  // Digits with an optional '-', of any length: the magnitude is accumulated
  // with a check before every step, so that no number can overflow it.
  const bool negative = !s.empty() && s[0] == '-';
  const std::size_t first = negative ? 1 : 0;
  if (s.size() == first) return false;
  const unsigned long long limit = negative ? static_cast<unsigned long long>(LONG_MAX) + 1
                                            : static_cast<unsigned long long>(LONG_MAX);
  unsigned long long v = 0;
  for (std::size_t k = first; k < s.size(); ++k) {
    if (s[k] < '0' || s[k] > '9') return false;
    const unsigned d = static_cast<unsigned>(s[k] - '0');
    if (v > (limit - d) / 10) return false;
    v = v * 10 + d;
  }
  // (-v fits a long: v is at most LONG_MAX + 1.)
  const long value = negative ? static_cast<long>(0 - v) : static_cast<long>(v);
  if (value < lo || value > hi) return false;
  *out = value;
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
  // Plain decimal notation only: no hexadecimal, inf or nan spellings.
  bool digit = false;
  for (std::size_t k = 0; k < s.size(); ++k) {
    const char c = s[k];
    const bool sign = c == '-' || c == '+';
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (!(c == '.' || c == 'e' || c == 'E' || (sign && k == 0) ||
                 (sign && (s[k - 1] == 'e' || s[k - 1] == 'E')))) {
      return false;
    }
  }
  if (!digit) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || errno == ERANGE || !std::isfinite(v)) return false;
  if (v < lo || v > hi) return false;
  *out = v;
  return true;
}

bool parse_long_list(const std::string& s, long lo, long hi, std::vector<int>* out,
                     std::string* why) {
  std::vector<int> v;
  for (const auto& p : split_text(s, ',')) {
    long x = 0;
    if (!parse_long(p, lo, hi, &x)) {
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
  for (const auto& p : split_text(s, ',')) {
    double x = 0.0;
    if (!parse_double(p, lo, hi, &x)) {
      *why = "'" + p + "' is not a number from " + format_g(lo) + " to " + format_g(hi);
      return false;
    }
    v.push_back(x);
  }
  *out = v;
  return true;
}

bool scan_long(const char** p, long* out) {
  char* end;
  errno = 0;
  const long v = std::strtol(*p, &end, 10);
  if (end == *p || errno == ERANGE) return false;
  *out = v;
  *p = end;
  return true;
}

bool scan_double(const char** p, double* out) {
  char* end;
  const double v = std::strtod(*p, &end);
  if (end == *p || !std::isfinite(v)) return false;
  *out = v;
  *p = end;
  return true;
}

unsigned int scan_values(const char* line, double* out, unsigned int count, bool* bad) {
  const char* p = line;
  *bad = false;
  for (unsigned int j = 0; j < count; j++) {
    while (is_text_space(*p)) ++p;
    if (*p == '\0') return j;
    const char* start = p;
    if (!scan_double(&p, &out[j])) {
      char* end;
      std::strtod(start, &end);
      *bad = end != start;  // a number, but not a finite one
      return j;
    }
    while (*p != '\0' && !is_text_space(*p)) ++p;
  }
  return count;
}

std::string format_g(double x) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", x);
  return buf;
}
