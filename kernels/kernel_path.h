// The kernel path: which version of the hot kernels (correlation, response
// vectors, model parameters, distance scans) a process runs. Chosen once,
// on first use, from the processor and the environment:
//   TI_KERNELS=portable         the portable kernels (any processor)
//   TI_KERNELS=avx2             the 256-bit kernels (AVX2)
//   TI_KERNELS=avx512           the 512-bit kernels (AVX-512F), the 256-bit
//                               ones for the shapes they do not take
//   TI_KERNELS=avx512-emulated  the same 512-bit kernel source built for
//                               AVX2, each 512-bit vector a pair of 256-bit
//                               ones: slower, for testing the 512-bit
//                               kernels' logic on a processor without them
//   TI_PORTABLE_KERNELS=1       as TI_KERNELS=portable (kept for old scripts;
//                               TI_KERNELS wins where both are set)
// Unset, the path is the widest the processor has: avx512, else avx2, else
// portable. Every path gives the same bits (the kernels' headers say why).
// A path the processor lacks, or an unknown name, ends the process on first
// use with one line on standard error naming the variable and what is
// missing, and status 2 (a wrong command line): never an illegal
// instruction. run_program (startup/program.h) asks before the program runs,
// so that the refusal comes first.
#ifndef TI_KERNEL_PATH_H
#define TI_KERNEL_PATH_H

#include <string>

enum class KernelPath { kPortable, kAvx2, kAvx512Emulated, kAvx512 };

// The path of this process (read once; exits with status 2 as above).
KernelPath kernel_path();

// The name TI_KERNELS gives the path ("portable", "avx2", ...).
const char* kernel_path_name(KernelPath path);

// The choice itself, from the two variables' values (null when unset) and
// what the processor has; on a refusal, returns false and sets *error to
// the message (without the program's name).
bool choose_kernel_path(const char* kernels, const char* portable, bool avx2, bool avx512f,
                        KernelPath* path, std::string* error);

// True on the paths that use AVX2 instructions (avx2, avx512-emulated and
// avx512: the 256-bit kernels serve every one of them).
bool have_avx2();

// True on the paths of the 512-bit kernels (avx512 and avx512-emulated).
bool have_wide_kernels();

#endif
