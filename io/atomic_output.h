// Files that are either complete or absent.
//
// An AtomicOutput writes to a temporary file beside its target; commit()
// flushes it to the disk and renames it over the target, so that a reader (or
// a crash, or a kill) sees either the old file or the complete new one, never
// a half-written one. A file not committed is removed when the object goes.
#ifndef TI_ATOMIC_OUTPUT_H
#define TI_ATOMIC_OUTPUT_H

#include <cstdio>
#include <string>

class AtomicOutput {
 public:
  // Creates the temporary file; raises a DataError naming `target` when it
  // cannot.
  explicit AtomicOutput(const std::string& target);
  ~AtomicOutput();
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  // The stream to write to.
  FILE* stream() const { return stream_; }

  // Flushes, syncs and renames into place. Raises a DataError naming the
  // target on any write error (a full disk, no permission), after removing
  // the temporary file; the previous target is then untouched.
  void commit();

 private:
  std::string target_;
  std::string temp_;
  FILE* stream_ = nullptr;
  bool done_ = false;
};

#endif
