// The database text file.
//
// Line 1: the number of models K. Then per model: its name; "Matrix P"; F
// lines of the six elements of a row of P; "Vector mu"; one line of F
// elements; "Vector sigma"; one line of F elements. Every element is written
// with "%0.6lf   " (six decimals, three spaces after it). The sizes are not
// stored: the reader takes F from the filter bank it is given. Lines are read
// whole, whatever their length.
#ifndef TI_READ_WRITE_DATABASE_H
#define TI_READ_WRITE_DATABASE_H

#include <cstdio>
#include <string>

#include "class.h"
#include "surface.h"

class LineReader;

// Skips one label line, then fills all m rows of P from the next m lines, n
// values each. Raises a DataError naming the file and line on malformed text.
void read_surface_matrix(LineReader& reader, MAT* P);
void read_surface_matrix(FILE* f, MAT* P);

// Skips one label line, then fills all dim elements of v from the next line.
void read_surface_vector(LineReader& reader, VEC* v);
void read_surface_vector(FILE* f, VEC* v);

#endif
