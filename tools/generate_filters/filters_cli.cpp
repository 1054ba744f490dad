#include "filters_cli.h"

#include <sstream>

#include "atomic_output.h"
#include "cli.h"
#include "data_error.h"
#include "number.h"

namespace gen {

namespace {

constexpr const char* kProg = "generate_filters";

}  // namespace

std::string filters_usage() {
  std::ostringstream u;
  u << "Usage: " << kProg << " [options]\n"
    << "Writes a bank of square kernels, which the programs apply by correlation, as\n"
    << "text: 'Number of filters: F', 'Size: M', then per kernel a name line and M rows\n"
    << "of M numbers.\n\n"
    << "Options:\n"
    << "  --bank NAME        default, gabor, lm, schmid or laws (default: default)\n"
    << "  --size M           odd kernel size 3..255 (default: the bank's own, see below;\n"
    << "                     at most 255)\n"
    << "  --scales LIST      gabor: wavelengths in pixels, 2..64 (default 4,8);\n"
    << "                     lm: Gaussian sigmas, 0.5..16 (default 1.414,2,2.828)\n"
    << "  --orientations N   gabor (default 4) and lm (default 6): orientations 0, 180/N, ...\n"
    << "  --output FILE      output file (default filters.dat), written atomically\n"
    << "  --list-banks       print the bank names, one a line, and exit\n"
    << "  --help             show this text\n\n"
    << "Banks:\n"
    << "  default  16 kernels, size 15, each at 0, 45, 90 and 135 degrees: Gabor wavelength 4\n"
    << "           even and odd, first derivative of a Gaussian (sigma 2.5) and second\n"
    << "           derivative of a Gaussian (sigma 1.5), both elongated 1.5; all zero mean\n"
    << "  gabor    per wavelength and orientation an even and an odd kernel, envelope sigma\n"
    << "           0.56 x wavelength; zero mean; size covers 2.5 sigma of the widest\n"
    << "  lm       first and second derivatives of an elongated Gaussian (sigma across,\n"
    << "           3 sigma along) per scale and orientation, Laplacians of Gaussian at sigma\n"
    << "           and 3 sigma, and Gaussians at sigma; all but the Gaussians zero mean\n"
    << "  schmid   the 13 rotation-invariant kernels cos(pi tau r/sigma) exp(-r^2/2sigma^2),\n"
    << "           (sigma,tau) = (2,1) (4,1) (4,2) (6,1..3) (8,1..3) (10,1..4); zero mean;\n"
    << "           size 51\n"
    << "  laws     the 25 products of L5, E5, S5, R5, W5 (first factor down the rows,\n"
    << "           second along the columns); size 5; all but L5 x L5 zero mean\n\n"
    << "Orientation is the direction across a kernel's stripes, in degrees from the\n"
    << "column axis towards the row axis (downwards): orientation 0 has vertical stripes.\n"
    << "Kernels are not normalised; readers scale them to unit norm.\n";
  return u.str();
}

FiltersCommand parse_filters_args(const std::vector<std::string>& args) {
  FiltersCommand cmd;
  auto error = [&](const std::string& why) {
    cmd.action = FiltersCommand::Action::kError;
    cmd.error = why;
    return cmd;
  };
  // Only the option table: the usage is filters_usage().
  static const CliSpec kSpec = {kProg,
                                "",
                                "",
                                {{"bank", "NAME", ""},
                                 {"size", "M", ""},
                                 {"scales", "LIST", ""},
                                 {"orientations", "N", ""},
                                 {"output", "FILE", ""},
                                 {"list-banks", "", ""}},
                                ""};
  CliArgs given;
  try {
    if (!parse_cli(kSpec, args, &given)) {
      cmd.action = FiltersCommand::Action::kHelp;
      return cmd;
    }
  } catch (const UsageError& e) {
    return error(e.what());
  }
  if (given.has("list-banks")) {
    cmd.action = FiltersCommand::Action::kListBanks;
    return cmd;
  }
  for (const auto& [name, val] : given.given) {
    const std::string opt = "--" + name;
    std::string why;
    long n = 0;
    if (opt == "--bank") {
      cmd.params.bank = val;
    } else if (opt == "--size") {
      if (!parse_long(val, 3, 255, &n) || n % 2 == 0)
        return error("--size: '" + val + "' is not an odd whole number from 3 to 255");
      cmd.params.size = static_cast<int>(n);
    } else if (opt == "--scales") {
      if (!parse_double_list(val, 0.5, 64.0, &cmd.params.scales, &why))
        return error("--scales: " + why);
    } else if (opt == "--orientations") {
      if (!parse_long(val, 1, 36, &n)) return error("--orientations: '" + val + "' is not 1..36");
      cmd.params.orientations = static_cast<int>(n);
    } else if (opt == "--output") {
      if (val.empty()) return error("--output needs a file name");
      cmd.output = val;
    }
  }
  // Bank-specific checks, so every bad argument is reported before writing.
  std::string why;
  if (build_bank(cmd.params, &why).empty()) return error(why);
  return cmd;
}

int generate_filters_main(const std::vector<std::string>& args, std::ostream& out,
                          std::ostream& err) {
  const FiltersCommand cmd = parse_filters_args(args);
  if (cmd.action == FiltersCommand::Action::kHelp) {
    out << filters_usage();
    return 0;
  }
  if (cmd.action == FiltersCommand::Action::kListBanks) {
    for (const std::string& name : bank_names()) out << name << "\n";
    return 0;
  }
  if (cmd.action == FiltersCommand::Action::kError) {
    err << kProg << ": " << cmd.error << "\n" << filters_usage();
    return 2;
  }
  std::string why;
  const std::vector<Kernel> bank = build_bank(cmd.params, &why);
  try {
    write_file_atomically(cmd.output, format_bank(bank));
  } catch (const DataError& e) {
    err << kProg << ": " << e.what();
    return 1;
  }
  err << kProg << ": wrote " << bank.size() << " " << cmd.params.bank << " kernels of size "
      << bank.front().size << " to " << cmd.output << "\n";
  return 0;
}

}  // namespace gen
