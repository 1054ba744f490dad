#include "named_bank.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

#include "filter_bank.h"
#include "filters.h"

bool is_bank_name(const std::string& name) {
  const std::vector<std::string>& names = gen::bank_names();
  return std::find(names.begin(), names.end(), name) != names.end();
}

Filters* named_bank(const std::string& name) {
  std::string why;
  gen::BankParams params;
  params.bank = name;
  const std::vector<gen::Kernel> kernels =
      is_bank_name(name) ? gen::build_bank(params, &why) : std::vector<gen::Kernel>();
  if (kernels.empty()) {
    std::string names;
    for (const std::string& n : gen::bank_names()) names += (names.empty() ? "" : ", ") + n;
    throw std::invalid_argument("\"" + name + "\" is not a bank; the banks: " + names);
  }
  std::unique_ptr<Filters> bank(read_bank_text(gen::format_bank(kernels), "bank " + name));
  bank->normalise();
  return bank.release();
}

Filters* read_bank_file(const std::string& file) {
  std::unique_ptr<Filters> bank(new Filters(file.c_str()));
  bank->normalise();
  return bank.release();
}
