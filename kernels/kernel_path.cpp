#include "kernel_path.h"

#include <errno.h>  // program_invocation_short_name

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli.h"  // kExitUsage

namespace {

struct Named {
  const char* name;
  KernelPath path;
};
const Named kPaths[] = {{"portable", KernelPath::kPortable},
                        {"avx2", KernelPath::kAvx2},
                        {"avx512-emulated", KernelPath::kAvx512Emulated},
                        {"avx512", KernelPath::kAvx512}};

}  // namespace

const char* kernel_path_name(KernelPath path) {
  for (const Named& n : kPaths)
    if (n.path == path) return n.name;
  return "?";
}

bool choose_kernel_path(const char* kernels, const char* portable, bool avx2, bool avx512f,
                        KernelPath* path, std::string* error) {
  if (!kernels || !*kernels) {
    if (portable && std::strcmp(portable, "1") == 0)
      *path = KernelPath::kPortable;
    else
      *path = avx512f ? KernelPath::kAvx512 : avx2 ? KernelPath::kAvx2 : KernelPath::kPortable;
    return true;
  }
  const Named* chosen = nullptr;
  for (const Named& n : kPaths)
    if (std::strcmp(kernels, n.name) == 0) chosen = &n;
  if (!chosen) {
    *error = std::string("TI_KERNELS=") + kernels +
             ": not a kernel path (portable, avx2, avx512, avx512-emulated)";
    return false;
  }
  const char* missing = nullptr;
  if (chosen->path == KernelPath::kAvx512 && !avx512f)
    missing = "AVX-512F (avx512f)";
  else if (chosen->path != KernelPath::kPortable && !avx2)
    missing = "AVX2 (avx2)";
  if (missing) {
    *error = std::string("TI_KERNELS=") + kernels + ": this processor has no " + missing;
    return false;
  }
  *path = chosen->path;
  return true;
}

KernelPath kernel_path() {
  static const KernelPath path = [] {
    // (__builtin_cpu_supports checks that the system saves the vector
    // registers too, not only that the processor has them.)
    KernelPath chosen = KernelPath::kPortable;
    std::string error;
    if (!choose_kernel_path(std::getenv("TI_KERNELS"), std::getenv("TI_PORTABLE_KERNELS"),
                            __builtin_cpu_supports("avx2"), __builtin_cpu_supports("avx512f"),
                            &chosen, &error)) {
      std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, error.c_str());
      std::exit(kExitUsage);
    }
    return chosen;
  }();
  return path;
}

bool have_avx2() { return kernel_path() != KernelPath::kPortable; }

bool have_wide_kernels() {
  const KernelPath path = kernel_path();
  return path == KernelPath::kAvx512 || path == KernelPath::kAvx512Emulated;
}
