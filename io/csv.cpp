#include "csv.h"

#include <cerrno>
#include <charconv>
#include <cmath>

#include "data_error.h"
#include "text_line.h"

int CsvReader::get() {
  const int c = getc_unlocked(stream_);  // (one reader per stream)
  // The end of the file only where the file ends: a read error (a folder,
  // an I/O error part way) is reported, never taken for the end.
  if (c == EOF && std::ferror(stream_)) read_error(file_, errno ? errno : EIO);
  return c;
}

bool CsvReader::next(std::vector<std::string>& fields) {
  fields.clear();
  int c = get();
  if (c == EOF) return false;
  record_line_ = line_;
  std::string field;
  size_t bytes = 0;
  auto grow = [&](int byte) {
    if (++bytes > kMaxTextLine)
      fail("record too long", "more than " + std::to_string(kMaxTextLine) + " bytes");
    field.push_back(static_cast<char>(byte));
  };
  if (!started_) {
    started_ = true;
    // A byte-order mark; bytes that only begin like one are text.
    if (c == 0xEF) {
      c = get();
      if (c == 0xBB) {
        c = get();
        if (c == 0xBF) {
          c = get();
        } else {
          grow(0xEF);
          grow(0xBB);
        }
      } else {
        grow(0xEF);
      }
    }
  }
  for (;;) {
    if (c == '"' && field.empty()) {
      for (;;) {
        c = get();
        if (c == EOF) fail("a quoted field is not closed at the end of the file");
        if (c == '"') {
          c = get();
          if (c != '"') break;
        } else if (c == '\n') {
          ++line_;
        }
        grow(c);
      }
      if (c == '\r') {
        c = get();
        if (c != '\n') fail("a carriage return follows a closing quote");
      }
      if (c != ',' && c != '\n' && c != EOF) fail("text follows a closing quote");
    } else {
      while (c != ',' && c != '\n' && c != EOF) {
        if (c == '"') fail("a quote inside a field that does not begin with one");
        if (c == '\r') {
          c = get();
          if (c == '\n') break;
          grow('\r');
          continue;
        }
        grow(c);
        c = get();
      }
    }
    fields.push_back(field);
    field.clear();
    if (c == '\n') ++line_;
    if (c != ',') return true;
    ++bytes;
    c = get();
  }
}

void CsvReader::fail(const std::string& message, const std::string& detail) const {
  data_error(file_, record_line_, message, detail);
}

std::string csv_field(const std::string& text) {
  const bool plain = text.find_first_of(",\"\n\r") == std::string::npos &&
                     (text.empty() || (text.front() != ' ' && text.back() != ' '));
  if (plain) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

void append_csv_record(std::string& out, const std::vector<std::string>& fields) {
  for (size_t k = 0; k < fields.size(); k++) {
    if (k) out += ',';
    out += csv_field(fields[k]);
  }
  out += '\n';
}

std::string csv_number(double value) {
  if (std::isnan(value)) return "nan";
  char text[64];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, value);
  return std::string(text, r.ptr);
}
