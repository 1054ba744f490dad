#include "bank_choice.h"

#include <sys/stat.h>

#include <cerrno>

#include "data_error.h"
#include "filter_bank.h"
#include "filters.h"
#include "named_bank.h"

namespace {

const char kDefaultFile[] = "filters.dat";

// The bank names, comma-separated, but for `except`.
std::string bank_list(const std::string& except = "") {
  std::string list;
  for (const std::string& name : gen::bank_names())
    if (name != except) list += (list.empty() ? "" : ", ") + name;
  return list;
}

}  // namespace

std::vector<CliOption> bank_options() {
  return {{"bank", "NAME",
           "one of the project's filter banks by name, the kernels\ngenerate_filters writes "
           "for it, bit for bit: " +
               bank_list()},
          {"filters", "FILE",
           "a filter bank file instead (default filters.dat in the current\nfolder); it is "
           "normalised"}};
}

std::unique_ptr<Filters> chosen_bank(const CliArgs& args, const std::string& program) {
  if (args.has("bank") && args.has("filters"))
    throw UsageError("--bank and --filters exclude each other");
  if (args.has("bank")) {
    const std::string name = args.nonempty("bank", "");
    if (!is_bank_name(name))
      throw UsageError("--bank \"" + name + "\" is not a bank; the banks: " + bank_list());
    return std::unique_ptr<Filters>(named_bank(name));
  }
  const std::string file = args.nonempty("filters", kDefaultFile);
  struct stat st;
  if (!args.has("filters") && stat(file.c_str(), &st) != 0 && errno == ENOENT)
    data_error_text(program + ": no filter bank: there is no " + file +
                    " in the current folder; give --bank default (or another of the project's "
                    "banks: " +
                    bank_list("default") +
                    "), or --filters FILE with a bank file made by generate_filters");
  return std::unique_ptr<Filters>(read_bank_file(file));
}

std::string bank_label(const CliArgs& args) {
  return args.has("bank") ? args.text("bank") : args.nonempty("filters", kDefaultFile);
}
