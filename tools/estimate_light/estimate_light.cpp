// estimate_light: estimates the light of every image of one set of a
// manifest from models built on another and writes one CSV line per image
// (--help).
#include "estimate_light_cli.h"
#include "program.h"

int main(int argc, char** argv) { return run_program(argc, argv, estimate_light); }
