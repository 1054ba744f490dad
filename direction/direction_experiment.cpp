// direction_experiment NAME: models surface NAME from image set 0, estimates
// the light direction of the twelve images of set 1 and prints one table row.
#include "ill_dir_test.h"
#include "program.h"

int main(int argc, char** argv) { return run_program(argc, argv, direction_experiment); }
