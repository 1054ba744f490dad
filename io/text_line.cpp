#include "text_line.h"

#include <cerrno>

#include "data_error.h"

LineStatus get_text_line(std::FILE* f, std::string& line) {
  line.clear();
  int c;
  while ((c = std::getc(f)) != EOF) {
    line.push_back(static_cast<char>(c));
    if (c == '\n') return LineStatus::kLine;
    if (line.size() > kMaxTextLine) return LineStatus::kTooLong;
  }
  // (errno still holds the reason the read failed.)
  if (std::ferror(f)) return LineStatus::kError;
  return line.empty() ? LineStatus::kEnd : LineStatus::kLine;
}

bool blank_text(const char* text) {
  for (; *text; ++text)
    if (!is_text_space(*text)) return false;
  return true;
}

bool LineReader::next(std::string& line) {
  LineStatus status = get_text_line(stream_, line);
  if (status == LineStatus::kError) read_error(file_, errno);
  if (status == LineStatus::kEnd) return false;
  ++line_number_;
  if (status == LineStatus::kTooLong)
    fail("line too long", "more than " + std::to_string(kMaxTextLine) + " bytes");
  return true;
}

bool LineReader::next_nonblank(std::string& line) {
  while (next(line)) {
    if (!blank_text(line.c_str())) return true;
  }
  return false;
}

void LineReader::fail(const std::string& message, const std::string& detail) const {
  data_error(file_, line_number_, message, detail);
}
