// classify_images: per-image classification of the images of a manifest.
#ifndef TI_CLASSIFY_IMAGES_CLI_H
#define TI_CLASSIFY_IMAGES_CLI_H

// The program (run it through run_program); returns the exit status.
int classify_images(int argc, char** argv);

#endif
