// Surface image access: image paths, PGM reading and light vectors.
//
// Images are raw greyscale PGM files ("P5"), one byte per pixel, with this
// header: the magic line "P5", any number of comment lines starting with '#',
// one line holding width and height, one line holding the maximum grey value
// (1 to 255), then the raster. Grey levels are stored as they are; the
// maximum value never scales them.
#ifndef TI_SURFACE_H
#define TI_SURFACE_H

#include <cstdio>
#include <string>

#include "class.h"

// Every path and prefix the system composes fits in this many bytes.
constexpr int kPathBytes = 80;

// Writes the path of image (q, slant, tilt) of surface `name`,
// "../../../data/<name>/<name><q>/<name>_<slant>_<tilt>.pgm", into `out`
// (kPathBytes). Returns false when it would not fit.
bool image_path(const char* name, unsigned int q, unsigned int slant, unsigned int tilt, char* out);

// The new unit light vector (cos t sin s, sin t sin s, cos s) of tilt t and
// slant s in degrees. Caller frees.
VEC* make_illuminant(double t, double s);

// Opens the PGM file, consumes its header and returns the stream at the first
// raster byte; *width and *height receive the size. A missing file raises
// "There is no such file: <path>", a header of another shape "Error: reading
// a file: wrong format". Caller closes.
FILE* skip_pgm_header(const char* filename, int* width, int* height);

// Reads the height x width raster of an open stream (positioned by
// skip_pgm_header) into a new matrix; a raster shorter than that raises
// "Error: converting image into matrix". Does not close the stream. Caller
// frees the matrix.
MAT* read_pgm_raster(FILE* f, const char* filename, int height, int width);

// Why a surface name could not be read back from a database file ("" when
// it can): empty, longer than 79 characters, beginning with a digit, or
// holding a line break.
std::string unreadable_name(const char* name);

// Raises "There is no such file: <name>" when the file cannot be opened for
// reading; otherwise opens and closes it.
void check_file(const char* name);

#endif
