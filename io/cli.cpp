#include "cli.h"

#include <getopt.h>

#include <vector>

#include "number.h"

namespace {
const char* g_program_name = "program";
}  // namespace

const char* program_name() { return g_program_name; }
void set_program_name(const char* name) { g_program_name = name; }

std::string CliArgs::text(const std::string& name, const std::string& fallback) const {
  auto it = values_.find(name);
  return it == values_.end() ? fallback : it->second;
}

long CliArgs::whole(const std::string& name, long lo, long hi, long fallback) const {
  auto it = values_.find(name);
  if (it == values_.end()) return fallback;
  long v;
  if (!parse_long(it->second, lo, hi, &v))
    throw UsageError("--" + name + " needs a whole number from " + std::to_string(lo) + " to " +
                     std::to_string(hi) + ", not \"" + it->second + "\"");
  return v;
}

double CliArgs::number(const std::string& name, double lo, double hi, double fallback) const {
  auto it = values_.find(name);
  if (it == values_.end()) return fallback;
  double v;
  if (!parse_double(it->second, lo, hi, &v))
    throw UsageError("--" + name + " needs a number from " + format_g(lo) + " to " + format_g(hi) +
                     ", not \"" + it->second + "\"");
  return v;
}

std::string CliArgs::nonempty(const std::string& name, const std::string& fallback) const {
  auto it = values_.find(name);
  if (it == values_.end()) return fallback;
  if (it->second.empty()) throw UsageError("--" + name + " needs a value");
  return it->second;
}

std::string cli_usage(const CliSpec& spec) {
  std::string u = "Usage: " + spec.program + " " + spec.synopsis + "\n";
  if (!spec.description.empty()) u += spec.description + "\n";
  u += "\nOptions:\n";
  std::vector<CliOption> options = spec.options;
  options.push_back({"help", "", "show this help"});
  const std::size_t kColumn = 22;
  for (const CliOption& o : options) {
    std::string head = "  --" + o.name + (o.value.empty() ? "" : " " + o.value);
    if (o.name == "help") head = "  -h, --help";
    head += head.size() + 2 <= kColumn ? std::string(kColumn - head.size(), ' ')
                                       : "\n" + std::string(kColumn, ' ');
    std::string help = o.help;
    for (std::size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 1))
      help.insert(at + 1, kColumn, ' ');
    u += head + help + "\n";
  }
  if (!spec.epilogue.empty()) u += "\n" + spec.epilogue;
  return u;
}

bool parse_cli(const CliSpec& spec, int argc, char** argv, CliArgs* args) {
  std::vector<option> table;
  for (const CliOption& o : spec.options)
    table.push_back(
        {o.name.c_str(), o.value.empty() ? no_argument : required_argument, nullptr, 0});
  table.push_back({"help", no_argument, nullptr, 'h'});
  table.push_back({nullptr, 0, nullptr, 0});

  *args = CliArgs();
  // Options and operands may come in any order (GNU getopt permutes argv);
  // ":" reports a missing value as ':' so the message can say which option
  // needs one. optind = 0 makes getopt start afresh, so a test can parse
  // several command lines.
  optind = 0;
  opterr = 0;
  int index = -1;
  int c;
  while ((c = getopt_long(argc, argv, ":h", table.data(), &index)) != -1) {
    const std::string arg = optind - 1 < argc && optind > 0 ? argv[optind - 1] : "";
    if (c == 'h') return false;
    if (c == ':') throw UsageError(arg + " needs a value");
    if (c == '?') throw UsageError("unknown argument \"" + arg + "\"");
    // An option given twice would silently keep one of its values.
    if (args->values_.count(table[index].name))
      throw UsageError("--" + std::string(table[index].name) + " is given twice");
    args->values_[table[index].name] = optarg ? optarg : "";
    args->given.emplace_back(table[index].name, optarg ? optarg : "");
    index = -1;
  }
  for (int a = optind; a < argc; a++) args->operands.push_back(argv[a]);
  if (args->operands.size() < spec.min_operands || args->operands.size() > spec.max_operands) {
    if (args->operands.size() > spec.max_operands)
      throw UsageError("unexpected argument \"" + args->operands[spec.max_operands] + "\"");
    throw UsageError("too few arguments");
  }
  return true;
}

bool parse_cli(const CliSpec& spec, const std::vector<std::string>& arguments, CliArgs* args) {
  std::vector<std::string> text = {spec.program};
  text.insert(text.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : text) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  return parse_cli(spec, static_cast<int>(text.size()), argv.data(), args);
}

int run_cli(const CliSpec& spec, int argc, char** argv, int (*body)(const CliArgs&)) {
  CliArgs args;
  try {
    if (!parse_cli(spec, argc, argv, &args)) {
      std::fputs(cli_usage(spec).c_str(), stdout);
      return 0;
    }
    return body(args);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "%s: %s\n", spec.program.c_str(), e.what());
    std::fputs(cli_usage(spec).c_str(), stderr);
    return kExitUsage;
  }
}
