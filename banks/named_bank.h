// The filter banks of the manifest commands, normalised as the programs
// normalise a bank: the project's banks by name (the banks of
// generate_filters), or a bank file.
#ifndef TI_NAMED_BANK_H
#define TI_NAMED_BANK_H

#include <string>

#include "class.h"

// True when `name` is one of gen::bank_names() (filter_bank.h).
bool is_bank_name(const std::string& name);

// A new bank holding, bit for bit, the kernels of the file generate_filters
// writes for `name` (its own text read by the bank reader), normalised as
// the programs normalise a bank. An unknown name raises
// std::invalid_argument naming the banks. Caller deletes.
Filters* named_bank(const std::string& name);

// A new bank read from the bank file `file` and normalised (--filters). A
// missing or malformed file raises a DataError (Filters). Caller deletes.
Filters* read_bank_file(const std::string& file);

#endif
