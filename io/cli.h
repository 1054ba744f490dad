// Command lines of the project's tools.
//
// One convention for every tool (the two experiment programs keep their own
// fixed command lines):
//  - options are GNU long options, read with getopt_long: "--name value" and
//    "--name=value" are the same; "-h" and "--help" print the usage to
//    standard output and end the tool with status 0;
//  - an option may be given once (a second one is a wrong command line);
//  - a wrong command line prints "<program>: <reason>" and then the usage to
//    standard error and ends the tool with status 2 (kExitUsage);
//  - every tool's body is a function that takes the parsed arguments, so a
//    test can call it; `main` only hands argc and argv to run_tool.
// The usage is laid out the same way for every tool: "Usage: <program>
// <synopsis>", the description, then one line per option with its help text
// from column 22 on.
#ifndef TI_CLI_H
#define TI_CLI_H

#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// Exit statuses shared by all programs (docs/exit_statuses_and_files.md).
constexpr int kExitDataError = 1;  // a data file is missing or malformed, or cannot be written
constexpr int kExitUsage = 2;      // a wrong command line
constexpr int kExitMatrixLib = 3;  // the matrix library stopped the run

// A wrong command line; what() is the reason, without the program's name.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One option of a tool.
struct CliOption {
  std::string name;   // long name without the leading "--"
  std::string value;  // placeholder of its value in the usage ("FILE"); empty for a flag
  std::string help;   // help text; '\n' starts a new line, indented like the first
};

// What a tool accepts and how it describes itself.
struct CliSpec {
  std::string program;      // the tool's name, for messages
  std::string synopsis;     // what follows "Usage: <program> "
  std::string description;  // the paragraph(s) after the usage line
  std::vector<CliOption> options;
  std::string epilogue;          // text after the options (may be empty)
  std::size_t min_operands = 0;  // operands (arguments that are not options) accepted
  std::size_t max_operands = 0;
};

// The parsed command line.
class CliArgs {
 public:
  // True when the option was given (a flag, or an option with a value).
  bool has(const std::string& name) const { return values_.count(name) != 0; }
  // The option's value, or `fallback`.
  std::string text(const std::string& name, const std::string& fallback = "") const;
  // The option's value as a whole number in [lo, hi], or `fallback` when it
  // was not given; a value that is not such a number raises a UsageError.
  long whole(const std::string& name, long lo, long hi, long fallback) const;
  // The same for a decimal number.
  double number(const std::string& name, double lo, double hi, double fallback) const;
  // A non-empty value (a file name, say), or `fallback`.
  std::string nonempty(const std::string& name, const std::string& fallback) const;

  std::vector<std::string> operands;  // the arguments that are not options, in order
  std::vector<std::pair<std::string, std::string>> given;  // every option given, in order
  std::map<std::string, std::string> values_;              // option name -> value ("" for a flag)
};

// The name of the running program, for messages ("program" until
// set_program_name; run_program sets it from argv[0]). `name` must outlive
// the process.
const char* program_name();
void set_program_name(const char* name);

// The usage text of `spec`.
std::string cli_usage(const CliSpec& spec);

// Parses argv[1 .. argc-1]. Returns false when help was asked for; raises a
// UsageError for a wrong command line.
bool parse_cli(const CliSpec& spec, int argc, char** argv, CliArgs* args);
// The same for the arguments after the program's name.
bool parse_cli(const CliSpec& spec, const std::vector<std::string>& arguments, CliArgs* args);

// Parses the command line and runs body(args) as described at the top:
// returns body's status, 0 after the usage for help, or kExitUsage after a
// UsageError (raised by the parser or by the body).
int run_cli(const CliSpec& spec, int argc, char** argv, int (*body)(const CliArgs&));

#endif
