// Which filter bank a command uses: one of the project's banks by name
// (--bank NAME, the banks of generate_filters), a bank file (--filters
// FILE), or else filters.dat in the current folder, as for the two
// experiment programs.
#ifndef TI_BANK_CHOICE_H
#define TI_BANK_CHOICE_H

#include <memory>
#include <string>
#include <vector>

#include "class.h"
#include "cli.h"

// The options --bank and --filters, for a command's option list.
std::vector<CliOption> bank_options();

// The bank the command line names, read and normalised. A bank named by
// --bank holds, bit for bit, the kernels of the file generate_filters writes
// for that name. --bank and --filters together, or an unknown name, raise a
// UsageError; a missing or malformed file a DataError. With neither option
// and no filters.dat in the current folder, the DataError names the program
// and both ways out.
std::unique_ptr<Filters> chosen_bank(const CliArgs& args, const std::string& program);

// How the bank was chosen, for progress lines: its name, or its file.
std::string bank_label(const CliArgs& args);

#endif
