// Command line of generate_filters.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "filter_bank.h"

namespace gen {

struct FiltersCommand {
  enum class Action { kRun, kHelp, kListBanks, kError } action = Action::kRun;
  BankParams params;
  std::string output = "filters.dat";
  std::string error;
};

// args excludes the program name.
FiltersCommand parse_filters_args(const std::vector<std::string>& args);

std::string filters_usage();

// The whole program: 0 on success, 1 on a write error, 2 on a bad argument.
int generate_filters_main(const std::vector<std::string>& args, std::ostream& out,
                          std::ostream& err);

}  // namespace gen
