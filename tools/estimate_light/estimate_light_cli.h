// estimate_light: per-image light-direction estimation for the images of a
// manifest.
#ifndef TI_ESTIMATE_LIGHT_CLI_H
#define TI_ESTIMATE_LIGHT_CLI_H

// The program (run it through run_program); returns the exit status.
int estimate_light(int argc, char** argv);

#endif
