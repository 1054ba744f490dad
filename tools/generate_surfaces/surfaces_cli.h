// Command line of generate_surfaces.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "data_set.h"

namespace gen {

struct SurfacesCommand {
  enum class Action { kRun, kHelp, kError } action = Action::kRun;
  DataSetSpec spec;
  std::string error;  // reason, for kError
};

// args excludes the program name.
SurfacesCommand parse_surfaces_args(const std::vector<std::string>& args);

std::string surfaces_usage();

// The whole program: 0 on success, 1 on a write error, 2 on a bad argument.
int generate_surfaces_main(const std::vector<std::string>& args, std::ostream& out,
                           std::ostream& err);

}  // namespace gen
