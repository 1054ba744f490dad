// Comma-separated values after RFC 4180.
//
// A record is one line of fields separated by commas. A field that holds a
// comma, a double quote or a line break is enclosed in double quotes, and a
// double quote inside it is doubled. Records end with a line feed or a
// carriage return and line feed; a line break inside quotes belongs to the
// field. A byte-order mark at the start of the file is skipped. Records are
// written with a line feed.
#ifndef TI_CSV_H
#define TI_CSV_H

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

class CsvReader {
 public:
  CsvReader(std::FILE* stream, std::string file) : stream_(stream), file_(std::move(file)) {}

  // Reads the next record into `fields`. False at end of file. A quote left
  // open at the end of the file, text after a closing quote, a quote inside
  // a field that does not begin with one, or a record longer than
  // kMaxTextLine (text_line.h) raises a DataError naming the file and line.
  // An empty line is a record of one empty field. A file the system cannot
  // read (a folder, an I/O error) raises a DataError with its reason.
  bool next(std::vector<std::string>& fields);

  // The line on which the last record read begins (1 for the first line).
  long line() const { return record_line_; }
  const std::string& file() const { return file_; }

  // Raises a DataError naming the file and line().
  [[noreturn]] void fail(const std::string& message, const std::string& detail = "") const;

 private:
  int get();  // the next byte, or EOF at the end of the file
  std::FILE* stream_;
  std::string file_;
  long line_ = 1;  // the line the next byte belongs to
  long record_line_ = 0;
  bool started_ = false;
};

// The field as written in a record: quoted when it holds a comma, a quote,
// a line feed or a carriage return, or begins or ends with a space.
std::string csv_field(const std::string& text);

// Appends the fields as one record, line feed included.
void append_csv_record(std::string& out, const std::vector<std::string>& fields);

// The shortest decimal text that reads back (strtod) to the same double:
// "45", "0.7071067811865476", "1e-20", "nan", "inf".
std::string csv_number(double value);

#endif
