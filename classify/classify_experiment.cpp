// classify_experiment NUMBER: classifies the 36 test images of surface NUMBER
// (0 to 19) against the database "test20.dat" and prints one table row.
#include "classification_test.h"
#include "program.h"

int main(int argc, char** argv) { return run_program(argc, argv, classify_experiment); }
