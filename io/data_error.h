// Reporting of bad data files.
//
// Every reader of the project turns a malformed or missing file into a
// DataError: an exception that carries one complete line of text for standard
// error, naming the file (and the line, where it helps) and saying what is
// wrong. Programs catch it at the top (program.h), print it and end with
// status 1, so that a failure never looks like success to a script and
// nothing is written to standard output. Readers release what they allocated
// before throwing.
//
// A DataError about a file the system could not open, read or write (a
// missing file, a folder, no permission, an I/O error) also carries the
// system's error number (errno), so that a caller other than a program (the
// Python module) can tell it from bad data; the text is the same either way.
#ifndef TI_DATA_ERROR_H
#define TI_DATA_ERROR_H

#include <stdexcept>
#include <string>

class DataError : public std::runtime_error {
 public:
  // `line` is the complete text to print, ending with a line break; `err`
  // the errno of a file the system could not open, read or write, else 0.
  explicit DataError(const std::string& line, int err = 0)
      : std::runtime_error(line), system_error_(err) {}

  // The errno of a file the system could not open, read or write (ENOENT
  // for a missing one); 0 when the fault lies in the data.
  int system_error() const { return system_error_; }

 private:
  int system_error_;
};

// Throws a DataError whose text is "<file>: <message>" or, with a line number
// above 0, "<file>:<line>: <message>". `message` is a fixed text of the
// system; a trailing line break in it is dropped and `detail`, when not empty,
// follows in parentheses. The printed line always ends with one line break.
[[noreturn]] void data_error(const std::string& file, long line, const std::string& message,
                             const std::string& detail = std::string());

// data_error for a file the system could not open, read or write: the text
// "<file>: <message> (<the system's reason for err>)", and err carried.
[[noreturn]] void file_error(const std::string& file, const std::string& message, int err);

// Throws a DataError "<file>: cannot read the file (<the system's reason>)"
// for a file that cannot be opened or read: `err` is the errno of the failed
// call (EISDIR for a folder, EACCES, EIO...).
[[noreturn]] void read_error(const std::string& file, int err);

// Throws a DataError with `text` as it stands (a line break is added when it
// has none): for messages that already name their file. `err` as for
// DataError (ENOENT for "there is no such file").
[[noreturn]] void data_error_text(const std::string& text, int err = 0);

// The same text as `error` with `err` carried: for a message that wraps
// another's (a manifest line naming an image that cannot be read), so that
// the system's error number is not lost.
[[noreturn]] void data_error(const std::string& file, long line, const std::string& message,
                             const std::string& detail, int err);

// `text` as a message may show it: a control byte (a NUL, a line break, an
// escape...) becomes "\0", "\n", "\r", "\t" or "\xNN", so that a name from
// a file can never break the one line of a message or reach the terminal as
// a control sequence.
std::string printable(const std::string& text);

#endif
