#include "data_error.h"

#include <cstring>

namespace {

std::string strip_line_break(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

}  // namespace

void data_error(const std::string& file, long line, const std::string& message,
                const std::string& detail, int err) {
  std::string text = file;
  if (line > 0) text += ":" + std::to_string(line);
  text += ": " + strip_line_break(message);
  if (!detail.empty()) text += " (" + detail + ")";
  text += "\n";
  throw DataError(text, err);
}

void data_error(const std::string& file, long line, const std::string& message,
                const std::string& detail) {
  data_error(file, line, message, detail, 0);
}

void file_error(const std::string& file, const std::string& message, int err) {
  data_error(file, 0, message, std::strerror(err), err);
}

void read_error(const std::string& file, int err) { file_error(file, "cannot read the file", err); }

std::string printable(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7f) {
      out += c;
    } else if (c == '\0' || c == '\n' || c == '\r' || c == '\t') {
      out += c == '\0' ? "\\0" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
    } else {
      const char* digits = "0123456789abcdef";
      out += "\\x";
      out += digits[u >> 4];
      out += digits[u & 15];
    }
  }
  return out;
}

void data_error_text(const std::string& text, int err) {
  throw DataError(strip_line_break(text) + "\n", err);
}
