// Numbers from text: whole strings only, range-checked, independent of the
// user's locale.
//
// Every parser takes the complete text of one number (no surrounding spaces)
// and returns false, leaving *out untouched, when the text is not such a
// number or lies outside [lo, hi]. Decimal numbers accept only plain notation
// ("-1.5", "2e-3"): no hexadecimal, "inf" or "nan" spellings.
#ifndef TI_NUMBER_H
#define TI_NUMBER_H

#include <cstdint>
#include <string>
#include <vector>

// Splits on `sep`; "a,,b" gives an empty middle piece, "" gives one empty
// piece.
std::vector<std::string> split_text(const std::string& s, char sep);

// A decimal integer in [lo, hi]: digits with an optional leading '-'.
bool parse_long(const std::string& s, long lo, long hi, long* out);
// An unsigned decimal integer up to 2^64 - 1: digits only.
bool parse_u64(const std::string& s, std::uint64_t* out);
// A finite decimal number in [lo, hi].
bool parse_double(const std::string& s, double lo, double hi, double* out);

// Comma-separated integers in [lo, hi], none listed twice. On failure returns
// false and says why in *why.
bool parse_long_list(const std::string& s, long lo, long hi, std::vector<int>* out,
                     std::string* why);
// Comma-separated decimal numbers in [lo, hi].
bool parse_double_list(const std::string& s, double lo, double hi, std::vector<double>* out,
                       std::string* why);

// Token scanners for the readers of text files: each reads one number at *p
// (after any white space), advances *p past it and returns true, or returns
// false and leaves *p alone. Both follow strtol/strtod in the "C" locale, the
// only locale the programs run in.
// An integer that fits a long.
bool scan_long(const char** p, long* out);
// A finite double.
bool scan_double(const char** p, double* out);

// Scans `count` numbers separated by white space from `line` into out[0 ..
// count-1]; the text from the end of a number to the next white space is
// passed over, as the file formats have always been read. Returns the count of
// numbers read: `count` on success; fewer when the line ends early or holds
// something that is not a number there (*bad is then true when a value was
// there but was not a finite number).
unsigned int scan_values(const char* line, double* out, unsigned int count, bool* bad);

// A number as "%g" writes it, for messages.
std::string format_g(double x);

#endif
