// The filter bank and its text file.
//
// File format (lines of any length; blank lines are skipped wherever the
// reader looks for its next line):
//   header line 1: any text, a colon, the number of filters F (at least 1)
//   header line 2: any text, a colon, the kernel size M (at least 1)
//   F blocks: a name line, kept whole with its line break, then M row lines
//   of at least M numbers each (further tokens are ignored). A number is the
//   start of a white-space separated token; the rest of the token is skipped.
// Anything after the last block is not read.
#ifndef TI_FILTERS_H
#define TI_FILTERS_H

#include <cstdio>
#include <string>

#include "class.h"

class LineReader;

// The name of filter k as its file gives it, without the line break.
std::string filter_name(const Filters* bank, u_int k);

// 1 if `line` holds only white space, else 0.
int empty_line(const char* line);

// Parses the first M numbers of `line` into vector elements 0 .. M-1. Returns
// false when a token does not begin with a finite number or the line holds
// fewer than M numbers.
bool read_line(VEC* vector, const char* line, int M);

// Reads lines up to the next non-blank one and returns the integer after its
// first colon (0 when there is none, or no number follows it, or it does not
// fit an int). End of file raises "Your filters input file has ended
// prematurely!". When `read` is given it receives, for messages, what the
// line held after its colon.
int aux_read_aux_info_of_filters(LineReader& reader, std::string* read = nullptr);

// Opens `file`, reads the two header values and closes it. Raises a
// DataError for a missing file, an early end, F or M below 1, or a header
// that declares more coefficients than the file could hold.
void read_aux_info_of_filters(const char* file, u_int* number, u_int* M);

// Opens `file` again and fills the given kernels (each already M x M) and the
// name slots (each set to a new string, freed with delete[]) of the
// `number` filter blocks; the header must still say (number, M).
void read_filters(const char* file, MAT** filters, char** names, u_int number, u_int M);

// A new bank read from `text`, the whole content of a bank file held in
// memory, by the same reader as a file (through an anonymous in-memory
// file); `source` names it in messages. Raises a DataError as for a file.
// Caller deletes.
Filters* read_bank_text(const std::string& text, const std::string& source);

#endif
