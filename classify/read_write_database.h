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
#include <functional>
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

// Writes `database` to `file` (Database::output) unless a model's sigma has
// an element the six-decimal file stores as 0: that raises a DataError
// naming the file and the first such element, and writes nothing. With
// `allow_zero_sigma` it is written all the same, after warn(text) for each
// element, text "surface <name>, filter <f> (<kernel>): sigma <value> is
// written as <text>". This is build_database's writer.
void write_database_file(Database& database, const Filters* bank, const std::string& file,
                         bool allow_zero_sigma,
                         const std::function<void(const std::string&)>& warn);

#endif
