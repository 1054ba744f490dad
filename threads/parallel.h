// Work spread over threads with results that do not depend on how many.
#ifndef TI_PARALLEL_H
#define TI_PARALLEL_H

#include <cstddef>
#include <functional>

// Told how far some work has come: `done` of `total` items of the kind
// `what` ("images", "models").
using Progress = std::function<void(const char* what, size_t done, size_t total)>;

// The number of threads the processor runs at once (at least 1).
unsigned int available_cores();

// Calls body(i) for i = 0 .. count-1 on up to `jobs` threads (this one
// included), taking the indices in increasing order. When calls throw, the
// exception of the lowest failing index is rethrown here once all threads
// are done: every index below it has run, none above it is started after
// the failure is known, so the error is the same for every number of
// threads. The body must keep to its own data but for what it only reads.
void parallel_for(size_t count, unsigned int jobs, const std::function<void(size_t)>& body);

#endif
