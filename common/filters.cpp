#include "filters.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "data_error.h"
#include "number.h"
#include "owners.h"
#include "text_line.h"

namespace {

const char kEndedEarly[] = "Your filters input file has ended prematurely!\n";
const char kBadRow[] = "Error in scanning vector lines!";

FILE* open_bank(const char* file) {
  FILE* f = std::fopen(file, "r");
  if (!f) {
    if (errno != ENOENT) read_error(file, errno);
    data_error_text(std::string("No such file \"") + file + "\"", ENOENT);
  }
  return f;
}

// Closes the stream however the reading ends.
struct FileCloser {
  FILE* f;
  ~FileCloser() { std::fclose(f); }
};

}  // namespace

std::string filter_name(const Filters* bank, u_int k) {
  std::string name = bank->names[k];
  while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
  return name;
}

int empty_line(const char* line) { return blank_text(line) ? 1 : 0; }

bool read_line(VEC* vector, const char* line, int M) {
  bool bad;
  return M <= 0 || scan_values(line, vector->ve, static_cast<unsigned int>(M), &bad) ==
                       static_cast<unsigned int>(M);
}

namespace {

// Says what a header line held after its colon, shortened when long and with
// control bytes shown as '?', so a message quoting it stays one line.
std::string describe_after_colon(const char* colon) {
  if (!colon) return "the line has no colon";
  const char* first = colon + 1;
  while (is_text_space(*first)) ++first;
  const char* last = first + std::strlen(first);
  while (last > first && is_text_space(last[-1])) --last;
  if (first == last) return "nothing after the colon";
  const size_t kShown = 40;
  std::string shown(first, std::min<size_t>(last - first, kShown));
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = '?';
  if (static_cast<size_t>(last - first) > kShown) shown += "...";
  return "read '" + shown + "' after the colon";
}

}  // namespace

int aux_read_aux_info_of_filters(LineReader& reader, std::string* read) {
  std::string line;
  if (!reader.next_nonblank(line)) reader.fail(kEndedEarly);
  const char* colon = std::strchr(line.c_str(), ':');
  if (read) *read = describe_after_colon(colon);
  if (!colon) return 0;
  const char* p = colon + 1;
  long value;
  if (!scan_long(&p, &value) || value > INT_MAX || value < INT_MIN) return 0;
  return static_cast<int>(value);
}

namespace {

// Reads and checks the two header values.
void read_header(LineReader& reader, u_int* number, u_int* M) {
  std::string read;
  int f = aux_read_aux_info_of_filters(reader, &read);
  if (f < 1) reader.fail("the number of filters must be a whole number from 1 to 2147483647", read);
  int m = aux_read_aux_info_of_filters(reader, &read);
  if (m < 1) reader.fail("the kernel size must be a whole number from 1 to 2147483647", read);
  *number = static_cast<u_int>(f);
  *M = static_cast<u_int>(m);
}

}  // namespace

void read_aux_info_of_filters(const char* file, u_int* number, u_int* M) {
  FILE* f = open_bank(file);
  FileCloser closer{f};
  LineReader reader(f, file);
  read_header(reader, number, M);
  // Every coefficient takes at least one character and one separator: a
  // header that promises more than the file can hold is refused before
  // anything is allocated for it.
  struct stat st;
  if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode)) {
    double needed = static_cast<double>(*number) * *M * *M;
    if (needed > static_cast<double>(st.st_size))
      data_error(file, 0, kEndedEarly,
                 "the header declares " + std::to_string(*number) + " kernels of " +
                     std::to_string(*M) + "x" + std::to_string(*M) + " in a file of " +
                     std::to_string(static_cast<long long>(st.st_size)) + " bytes");
  }
}

void read_filters(const char* file, MAT** filters, char** names, u_int number, u_int M) {
  FILE* f = open_bank(file);
  FileCloser closer{f};
  LineReader reader(f, file);
  u_int again_number, again_M;
  read_header(reader, &again_number, &again_M);
  if (again_number != number || again_M != M)
    reader.fail("the filter file changed while it was being read");
  for (u_int i = 0; i < number; i++) {
    if (filters[i]->m != M || filters[i]->n != M)
      data_error(file, 0, "internal error: a kernel is not M x M");
  }
  std::string line;
  // Freed however the reading ends (a reader error is an exception).
  VectorOwner row(v_get(M));
  for (u_int i = 0; i < number; i++) {
    if (!reader.next_nonblank(line))
      reader.fail(kEndedEarly, "expected the name of filter " + std::to_string(i));
    names[i] = new char[line.size() + 1];
    std::memcpy(names[i], line.c_str(), line.size() + 1);
    for (u_int j = 0; j < M; j++) {
      if (!reader.next_nonblank(line))
        reader.fail(kEndedEarly,
                    "expected row " + std::to_string(j) + " of filter " + std::to_string(i));
      if (!read_line(row.get(), line.c_str(), static_cast<int>(M)))
        reader.fail(kBadRow, "expected " + std::to_string(M) + " finite numbers");
      double* out = filters[i]->me[j];
      for (u_int k = 0; k < M; k++) out[k] = row->ve[k];
    }
  }
}

namespace {

// Frees the kernels and names that were created (null entries are skipped).
void release_bank(u_int F, MAT** filters, char** names) {
  for (u_int k = 0; k < F; k++) {
    if (filters && filters[k]) m_free(filters[k]);
    if (names) delete[] names[k];
  }
  delete[] filters;
  delete[] names;
}

}  // namespace

Filters::Filters(const char* file) : F(0), names(nullptr), filters(nullptr), source(file) {
  u_int M;
  read_aux_info_of_filters(file, &F, &M);
  names = new char*[F]();
  filters = new MAT*[F]();
  try {
    for (u_int k = 0; k < F; k++) filters[k] = m_get(M, M);
    read_filters(file, filters, names, F, M);
  } catch (...) {
    release_bank(F, filters, names);
    throw;
  }
}

Filters::~Filters() { release_bank(F, filters, names); }

Filters* read_bank_text(const std::string& text, const std::string& source) {
  const int fd = memfd_create("bank", MFD_CLOEXEC);
  if (fd < 0) data_error(source, 0, "cannot hold the bank in memory", std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) data_error(source, 0, "cannot hold the bank in memory", std::strerror(errno));
    done += static_cast<size_t>(n);
  }
  Filters* bank = new Filters(("/proc/self/fd/" + std::to_string(fd)).c_str());
  bank->source = source;
  return bank;
}

namespace {

double sum_of_squares(const MAT* kernel) {
  double sum = 0.0;
  for (unsigned int i = 0; i < kernel->m; i++) {
    const double* row = kernel->me[i];
    for (unsigned int j = 0; j < kernel->n; j++) sum += row[j] * row[j];
  }
  return sum;
}

}  // namespace

void Filters::normalise() {
  for (u_int k = 0; k < F; k++) {
    MAT* kernel = filters[k];
    double sum = sum_of_squares(kernel);
    // Coefficients so small (or large) that their squares leave the normal
    // range would give a norm without precision (or an infinite one): such a
    // kernel is first scaled by a power of two, which changes no bit of its
    // coefficients' ratios, so that its largest coefficient lies in [0.5, 1).
    if (!(sum >= DBL_MIN) || !std::isfinite(sum)) {
      double largest = 0.0;
      for (unsigned int i = 0; i < kernel->m; i++)
        for (unsigned int j = 0; j < kernel->n; j++)
          largest = std::fmax(largest, std::fabs(kernel->me[i][j]));
      if (largest > 0.0 && std::isfinite(largest)) {
        int exponent;
        std::frexp(largest, &exponent);
        for (unsigned int i = 0; i < kernel->m; i++)
          for (unsigned int j = 0; j < kernel->n; j++)
            kernel->me[i][j] = std::ldexp(kernel->me[i][j], -exponent);
        sum = sum_of_squares(kernel);
      }
    }
    double dnm = std::sqrt(sum);
    if (!(dnm > 0.0) || !std::isfinite(dnm)) {
      data_error(source, 0, "a filter cannot be normalised",
                 "filter " + std::to_string(k) + " \"" + filter_name(this, k) + "\" has norm " +
                     std::to_string(dnm));
    }
    for (unsigned int i = 0; i < kernel->m; i++) {
      double* row = kernel->me[i];
      for (unsigned int j = 0; j < kernel->n; j++) row[j] = row[j] / dnm;
    }
  }
}
