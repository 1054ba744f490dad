// The matrix library's C headers, made safe for C++.
//
// The library defines function-like macros named `max`, `min` and `catch`,
// which clash with the standard library and with the C++ keyword; they are
// removed here, so every file of the project includes this header instead of
// the library's own.
#ifndef TI_MESCHACH_H
#define TI_MESCHACH_H

// The library declares isatty() itself, without the noexcept of the
// system's declaration; clang refuses the system's declaration after the
// library's, so the system's comes first, whatever the order of a file's
// includes.
#include <unistd.h>

extern "C" {
#include <meschach/matrix.h>
#include <meschach/matrix2.h>
}

#undef max
#undef min
#undef catch

#endif
