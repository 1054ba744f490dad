// Direct correlation of a kernel with a matrix over the valid region.
//
// For a kernel of fm x fn and a matrix of im x in, the response at top-left
// position (i, j), 0 <= i <= im - fm, 0 <= j <= in - fn, is
//   r(i, j) = sum_{k < fm} sum_{l < fn} kernel[k][l] * image[i + k][j + l],
// a correlation (the kernel is not flipped), summed from 0 with k outer and l
// inner. No border handling and no transform: every implementation here
// forms each output as exactly that sum, so all give the same bits.
//
// correlate() is the one the system uses: the fast version, or the plain one
// when the project is configured with TI_PLAIN_KERNELS=ON.
#ifndef TI_CORRELATION_H
#define TI_CORRELATION_H

#include <cstddef>
#include <new>
#include <string>
#include <vector>

#include "kernel_path.h"  // have_avx2(): the path of this process
#include "meschach.h"

// Raises a DataError when the kernel is larger than the matrix in either
// direction; `what` names the matrix for the message, which gives sizes as
// width x height, as every message of the project does.
void check_kernel_fits(const MAT* kernel, const MAT* image, const char* what);

// Writes r(i, j) for the whole valid region into out[i * (in - fn + 1) + j].
// The kernel must fit (check_kernel_fits).
void correlate(const MAT* kernel, const MAT* image, double* out);

// The definition written straightforwardly: one output at a time.
void correlate_plain(const MAT* kernel, const MAT* image, double* out);

// Outputs in blocks, vectorised across outputs (AVX2 where the processor has
// it, else portable blocks the compiler vectorises).
void correlate_fast(const MAT* kernel, const MAT* image, double* out);

// Outputs in blocks of eight that the compiler vectorises for any
// instruction set: the fast version where AVX2 is missing.
void correlate_blocked(const MAT* kernel, const MAT* image, double* out);

// The AVX2 kernel (correlation_avx2.cpp); call only where the processor has
// AVX2.
void correlate_avx2(const MAT* kernel, const MAT* image, double* out);

// Four correlations side by side, one in each lane of a vector of four
// doubles, with the statistics the callers need taken from their outputs.
// Either four kernels on one input (kKernels: coefficient (k, l) of lane b at
// coefficients[(k * fn + l) * 4 + b], input element (i, j) at
// input[i * stride + j]) or one kernel on four inputs (kImages: coefficient
// (k, l) at coefficients[k * fn + l], element (i, j) of lane b at
// input[(i * stride + j) * 4 + b]) or one kernel on one input, four
// neighbouring outputs of a row to a vector (kColumns: coefficients as in
// kImages, input as in kKernels; its statistics are those of lane 0). Every
// output is the sum of correlation.h in the definition's order.
enum class LaneMode { kKernels, kImages, kColumns };

// How a mean is formed from the sum of N outputs: sum / N (the response
// variance) or sum * (1 / N) (the statistics of a stack, which scale by the
// reciprocal).
enum class MeanRule { kDivide, kReciprocal };

// One unit of a lane run, W lanes wide (LaneUnit: the four of AVX2 here;
// WideUnit: the eight of the 512-bit kernels, wide.h).
template <unsigned int W>
struct LaneUnitOf {
  const double* coefficients;
  const double* input;
  bool covariance;  // also the products of lanes 0, 1 and 2 with every lane
  bool columns;     // a kColumns unit among those of a kKernels run (four lanes only)
  // Results, per lane b, all sums over the outputs in row-major order, each
  // started from 0 and added in that order:
  double mean[W];         // the sum of the outputs, made a mean by the rule
  double squares[W];      // the sum of (r - mean)^2
  double products[3][W];  // [a][b]: the sum of t_a t_b, t = r - mean, over the
                          // positions where t_a is not zero
};
using LaneUnit = LaneUnitOf<4>;

// Runs the units in turn over an output region of rows x cols (the kernel
// fm x fn must fit the input; stride >= cols + fn - 1 in elements). The
// statistics of one unit are taken while the next one is correlated, so the
// dependent sums cost little time. A kColumns unit has one sum per pass, a
// chain of one addition per output: the kernels left over from a bank's
// groups of four run so, before the groups, so that the second pass left to
// run alone at the end is a group's (a quarter as long). Uses AVX2: call only
// where have_avx2(). Safe in several threads at once (each has its own
// working buffers).
void lane_statistics_avx2(LaneMode mode, LaneUnit* units, size_t count, unsigned int fm,
                          unsigned int fn, unsigned int rows, unsigned int cols, size_t stride,
                          MeanRule rule);

// The sum acc + (r[0] - mean)^2 + ... + (r[count-1] - mean)^2, each addition
// rounded in that order as in the definition, with the same bits but not one
// addition after another. While a sum s lies in one binade [2^E, 2^(E+1)),
// it is a multiple of u = 2^(E-52), and for q >= 0 with s + q < 2^(E+1) the
// rounded s + q is s + u * rn(q / u), rn the nearest whole number, unless
// q / u is halfway between two (then rounding to even looks at s). So a run
// of terms whose sums stay in the binade and that has no halfway term adds
// whole numbers of u below 2^53, which any order sums exactly. Runs for
// which that does not hold (the sum leaves the binade, a halfway term, a
// sum of zero or near the bottom of the range, a value not finite) are
// added one term at a time.
//
// The last second pass of lane_statistics_avx2, which no correlation hides,
// is taken so when its unit is a kColumns one: runs of up to 64 terms, four
// to a vector, less than half the time of the chain of additions. Uses
// AVX2: call only where have_avx2().
double deviation_sum_avx2(const double* r, size_t count, double mean, double acc);

// Storage that starts on a 64-byte cache line. The lane kernels load 32
// bytes at a time from packed buffers whose blocks are 32 bytes apart: from a
// start 16 bytes into a line (as malloc may give), every other load would
// straddle two lines, which costs about a third of the kernels' speed.
// resize() leaves new elements unset (their users write every element before
// reading it), so that a buffer is not written twice.
template <class T>
struct LineAligned {
  using value_type = T;
  static constexpr std::align_val_t kLine{64};
  LineAligned() = default;
  template <class U>
  LineAligned(const LineAligned<U>&) {}
  T* allocate(size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), kLine)); }
  void deallocate(T* p, size_t) { ::operator delete(p, kLine); }
  template <class U>
  void construct(U* p) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class V>
  void construct(U* p, V&& value) {
    ::new (static_cast<void*>(p)) U(static_cast<V&&>(value));
  }
  template <class U>
  bool operator==(const LineAligned<U>&) const {
    return true;
  }
  template <class U>
  bool operator!=(const LineAligned<U>&) const {
    return false;
  }
};
using LineBuffer = std::vector<double, LineAligned<double>>;

// A row stride (in elements, at least n) at which rows of a packed copy do
// not fall on the same first-level cache sets.
size_t padded_stride(unsigned int n);

#endif
