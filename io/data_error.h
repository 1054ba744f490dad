// Reporting of bad data files.
//
// Every reader of the project turns a malformed or missing file into a
// DataError: an exception that carries one complete line of text for standard
// error, naming the file (and the line, where it helps) and saying what is
// wrong. Programs catch it at the top (program.h), print it and end with
// status 1, so that a failure never looks like success to a script and
// nothing is written to standard output. Readers release what they allocated
// before throwing.
#ifndef TI_DATA_ERROR_H
#define TI_DATA_ERROR_H

#include <stdexcept>
#include <string>

class DataError : public std::runtime_error {
 public:
  // `line` is the complete text to print, ending with a line break.
  explicit DataError(const std::string& line) : std::runtime_error(line) {}
};

// Throws a DataError whose text is "<file>: <message>" or, with a line number
// above 0, "<file>:<line>: <message>". `message` is a fixed text of the
// system; a trailing line break in it is dropped and `detail`, when not empty,
// follows in parentheses. The printed line always ends with one line break.
[[noreturn]] void data_error(const std::string& file, long line, const std::string& message,
                             const std::string& detail = std::string());

// Throws a DataError "<file>: cannot read the file (<the system's reason>)"
// for a file that cannot be opened or read: `err` is the errno of the failed
// call (EISDIR for a folder, EACCES, EIO...).
[[noreturn]] void read_error(const std::string& file, int err);

// Throws a DataError with `text` as it stands (a line break is added when it
// has none): for messages that already name their file.
[[noreturn]] void data_error_text(const std::string& text);

// `text` as a message may show it: a control byte (a NUL, a line break, an
// escape...) becomes "\0", "\n", "\r", "\t" or "\xNN", so that a name from
// a file can never break the one line of a message or reach the terminal as
// a control sequence.
std::string printable(const std::string& text);

#endif
