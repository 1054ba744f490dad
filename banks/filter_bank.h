// Named filter banks and their text file format:
//   Number of filters: F
//   Size: M
//   then per filter one name line and M lines of M numbers.
#pragma once

#include <string>
#include <vector>

#include "filter_kernels.h"

namespace gen {

struct BankParams {
  std::string bank = "default";  // default, gabor, lm, schmid or laws
  int size = 0;                  // 0: the bank's own size
  std::vector<double> scales;    // empty: the bank's own scales
  int orientations = 0;          // 0: the bank's own count
};

const std::vector<std::string>& bank_names();

// The kernel size a bank uses when none is given.
int default_bank_size(const BankParams& p);

// Builds the bank; on a parameter the bank cannot use, returns an empty list
// and sets *why.
std::vector<Kernel> build_bank(const BankParams& p, std::string* why);

// The file text; numbers in "%.10g" with '.' as decimal point.
std::string format_bank(const std::vector<Kernel>& bank);

}  // namespace gen
