#include "program.h"

#include <dlfcn.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "data_error.h"
#include "kernel_path.h"
#include "library_errors.h"
#include "meschach.h"

namespace {

bool g_started = false;

}  // namespace

// The library reports every error and warning through this function. The
// program's definition takes precedence over the shared library's (ordinary
// symbol interposition); before run_program has been called it hands the
// report on to the library's own handler unchanged.
extern "C" int ev_err(char* file, int err_num, int line_num, char* fn_name, int list_num) {
  if (!g_started) {
    using Handler = int (*)(char*, int, int, char*, int);
    auto original = reinterpret_cast<Handler>(dlsym(RTLD_NEXT, "ev_err"));
    if (original) return original(file, err_num, line_num, fn_name, list_num);
  }
  // (Printed without allocating: the error may be that memory ran out.)
  const char* where = file ? file : "?";
  const char* function = fn_name ? fn_name : "?";
  if (list_num == 1) {
    std::fprintf(stderr, "%s: matrix library warning: %s in function %s() (%s, line %d)\n",
                 program_name(), matrix_library_text(1, err_num), function, where, line_num);
    return 0;
  }
  std::fprintf(stderr, "%s: matrix library: %s in function %s() (%s, line %d)\n", program_name(),
               matrix_library_text(0, err_num), function, where, line_num);
  std::fflush(stderr);
  std::_Exit(kExitMatrixLib);
}

void keep_freed_memory() {
  // The programs allocate and free images and filtered stacks of a few
  // megabytes over and over; served by mmap and handed back at once, each
  // would fault in all its pages again every time.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  // Even once, faulting in tens of megabytes 4 KiB at a time is a tenth of a
  // program's run (more in a virtual machine). The heap is grown by 128 MiB
  // at once and the kernel asked to back it with 2 MiB pages where it can;
  // every thread allocates from it. Nothing is touched: the memory a program
  // does not use costs address space only. Where the system refuses (no
  // transparent huge pages, or another allocator in front of malloc, as in
  // a sanitized build), nothing changes.
  constexpr size_t kReserve = size_t{128} << 20, kHuge = size_t{2} << 20;
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_TOP_PAD, static_cast<int>(kReserve));
  void* probe = std::malloc(2 * kHuge);  // more than a fresh heap holds: it grows
  const uintptr_t from = (reinterpret_cast<uintptr_t>(probe) + kHuge - 1) / kHuge * kHuge;
  const uintptr_t to = reinterpret_cast<uintptr_t>(sbrk(0)) / kHuge * kHuge;
  if (probe && to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
  std::free(probe);
  mallopt(M_TOP_PAD, 128 << 10);  // glibc's default, for growth beyond
}

void handle_matrix_library_errors(const char* name) {
  if (name) {
    const char* slash = std::strrchr(name, '/');
    set_program_name(slash ? slash + 1 : name);
  }
  g_started = true;
  set_err_flag(EF_EXIT);
}

int run_program(int argc, char** argv, int (*body)(int, char**)) {
  handle_matrix_library_errors(argc > 0 ? argv[0] : nullptr);
  keep_freed_memory();
  kernel_path();  // a kernel path the processor lacks is refused before the program runs
  int status;
  try {
    status = body(argc, argv);
  } catch (const DataError& e) {
    std::fputs(e.what(), stderr);
    return kExitDataError;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: out of memory\n", program_name());
    return kExitDataError;
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "%s: cannot write to standard output\n", program_name());
    return kExitDataError;
  }
  return status;
}
