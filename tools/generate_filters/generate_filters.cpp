// generate_filters: writes a filter bank file for the experiment programs.
#include <iostream>
#include <string>
#include <vector>

#include "filters_cli.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return gen::generate_filters_main(args, std::cout, std::cerr);
}
