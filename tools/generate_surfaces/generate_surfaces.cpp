// generate_surfaces: writes the synthetic photometric texture database.
#include <iostream>
#include <string>
#include <vector>

#include "surfaces_cli.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return gen::generate_surfaces_main(args, std::cout, std::cerr);
}
