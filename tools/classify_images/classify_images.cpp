// classify_images: classifies every image of some sets of a manifest and
// writes one CSV line per image (--help).
#include "classify_images_cli.h"
#include "program.h"

int main(int argc, char** argv) { return run_program(argc, argv, classify_images); }
