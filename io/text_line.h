// Whole-line reading from text files.
//
// Lines are read whole, whatever their length (up to kMaxTextLine bytes, a
// bound that keeps a binary or hostile file from exhausting memory), so a
// long line is never split silently into two.
#ifndef TI_TEXT_LINE_H
#define TI_TEXT_LINE_H

#include <cstdio>
#include <string>
#include <utility>

// The longest line any reader accepts, line break excluded.
constexpr std::size_t kMaxTextLine = 1 << 20;

enum class LineStatus { kLine, kEnd, kTooLong, kError };

// Reads the next line of `f` into `line`, its line break included when the
// file has one. Returns kEnd at end of file with nothing read, kTooLong when
// the line exceeds kMaxTextLine (the stream is then left inside the line),
// kError when the system could not read the file (a folder, an I/O error),
// with errno saying why.
LineStatus get_text_line(std::FILE* f, std::string& line);

// True for the white space of the "C" locale: space, tab, line break,
// carriage return, vertical tab, form feed.
inline bool is_text_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// True when the text holds nothing but white space (space, tab, line break,
// carriage return, vertical tab, form feed).
bool blank_text(const char* text);

// A text file read line by line, with its name and the number of the last
// line read, for messages.
class LineReader {
 public:
  LineReader(std::FILE* stream, std::string file) : stream_(stream), file_(std::move(file)) {}

  // Reads the next whole line into `line`. False at end of file; a line
  // longer than kMaxTextLine, or a file the system cannot read (a folder),
  // raises a DataError.
  bool next(std::string& line);
  // Reads lines until one is not blank. False at end of file.
  bool next_nonblank(std::string& line);

  // Raises a DataError naming the file and the last line read.
  [[noreturn]] void fail(const std::string& message, const std::string& detail = "") const;

  std::FILE* stream() const { return stream_; }
  const std::string& file() const { return file_; }
  long line_number() const { return line_number_; }

 private:
  std::FILE* stream_;
  std::string file_;
  long line_number_ = 0;
};

#endif
