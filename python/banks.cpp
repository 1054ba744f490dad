// Filter banks: the project's banks by name and bank files
// (banks/named_bank.h), normalised as the commands normalise them.
#include <memory>
#include <string>
#include <vector>

#include "arrays.h"
#include "bindings.h"
#include "filter_bank.h"
#include "named_bank.h"

namespace {

std::string name_of(const Filters& bank, unsigned f) {
  std::string name = bank.names[f];
  while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
  return name;
}

}  // namespace

void register_banks(py::module_& m) {
  py::class_<Bank>(m, "Bank",
                   "A filter bank: F square kernels, each scaled to unit Frobenius norm, applied\n"
                   "by correlation over the positions where the kernel lies wholly inside.")
      .def_property_readonly(
          "kernels",
          [](const Bank& b) {
            py::list kernels;
            for (unsigned f = 0; f < b.filters->F; f++)
              kernels.append(array_of(b.filters->filters[f]));
            return kernels;
          },
          "The F kernels, each a new (M, M) float64 array: element [i, j] row i, column j.")
      .def_property_readonly(
          "names",
          [](const Bank& b) {
            std::vector<std::string> names;
            for (unsigned f = 0; f < b.filters->F; f++) names.push_back(name_of(*b.filters, f));
            return names;
          },
          "The kernels' names as the bank file gives them.")
      .def_property_readonly(
          "source", [](const Bank& b) { return b.filters->source; },
          "Where the bank came from: its file, or \"bank NAME\".")
      .def("__len__", [](const Bank& b) { return b.filters->F; })
      .def("__repr__", [](const Bank& b) {
        return "<Bank " + b.filters->source + ": " + std::to_string(b.filters->F) + " kernels of " +
               std::to_string(b.filters->filters[0]->m) + "x" +
               std::to_string(b.filters->filters[0]->n) + ">";
      });

  m.def(
      "read_bank",
      [](const std::string& path) {
        Bank b;
        py::gil_scoped_release release;
        b.filters.reset(read_bank_file(path));
        return b;
      },
      py::arg("path"),
      "The filter bank of a bank file, normalised, as the commands' --filters reads it.\n"
      "OSError when the file cannot be opened, ValueError when it is malformed.");
  m.def(
      "bank",
      [](const std::string& name) {
        Bank b;
        py::gil_scoped_release release;
        b.filters.reset(named_bank(name));
        return b;
      },
      py::arg("name"),
      "One of the project's banks by name (bank_names()), bit for bit the kernels of the\n"
      "file generate_filters writes for it, normalised: the commands' --bank NAME.\n"
      "ValueError for an unknown name.");
  m.def("bank_names", &gen::bank_names, "The names bank() takes.");
}
