// The surface database in memory, classification, and the classification
// experiment.
//
// The experiment classifies the 36 test images of one surface (image sets 1
// to 3, twelve tilts each at slant 45) against the models of "test20.dat"
// over the 21000-vector illumination space and prints one LaTeX table row:
//   <name>&<share correct>&<share in the three nearest>&<mean ratio> \ <sd ratio>\\ (end of row)
// Progress goes to standard error.
#ifndef TI_CLASSIFICATION_TEST_H
#define TI_CLASSIFICATION_TEST_H

#include "class.h"

// The 20 surfaces of the experiment's database, by number (= class).

// The program: argv[1] is the surface's number, 0 to 19. Returns the exit
// status; files are read relative to the working directory.
int classify_experiment(int argc, char** argv);

#endif
