// The illumination-direction experiment.
//
// Models one surface from the twelve images of its image set 0 (slant 45,
// tilts 0 to 330), estimates the light vector of each of the twelve images of
// set 1 as the best-fitting of 21000 sampled vectors, and prints one LaTeX
// table row:
//   <name>&<hits within 15 degrees>~/~<hits of it or its 180-degree twin>&
//   <mean>~/~<sd of the share of better vectors>&<mean>~/~<sd of the ratio>\\ (end of row)
#ifndef TI_ILL_DIR_TEST_H
#define TI_ILL_DIR_TEST_H

// The program: argv[1] is the surface's name. Returns the exit status; files
// are read relative to the working directory.
int direction_experiment(int argc, char** argv);

#endif
