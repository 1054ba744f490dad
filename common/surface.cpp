#include "surface.h"

#include <sys/stat.h>

#include <cassert>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "data_error.h"
#include "number.h"
#include "text_line.h"

namespace {

// Largest width or height accepted from a header (keeps allocations sane).
constexpr long kMaxImageSide = 1 << 15;

const char kWrongFormat[] = "Error: reading a file: wrong format\n";

// After a failed fopen: a missing file, or the system's reason why it could
// not be opened.
[[noreturn]] void cannot_open(const char* path) {
  if (errno != ENOENT) read_error(path, errno);
  data_error_text(std::string("There is no such file: ") + path, ENOENT);
}

// Reads the next header line; end of file or an endless line is a malformed
// header.
void header_line(FILE* f, const char* filename, std::string& line, const char* what) {
  const LineStatus status = get_text_line(f, line);
  if (status == LineStatus::kTooLong) {
    std::fclose(f);
    data_error(filename, 0, kWrongFormat,
               "a header line is longer than " + std::to_string(kMaxTextLine) + " bytes");
  }
  if (status == LineStatus::kError) {
    const int err = errno;
    std::fclose(f);
    read_error(filename, err);
  }
  if (status != LineStatus::kLine) {
    std::fclose(f);
    data_error(filename, 0, kWrongFormat, std::string("the file ends before ") + what);
  }
}

}  // namespace

bool image_path(const char* name, unsigned int q, unsigned int slant, unsigned int tilt,
                char* out) {
  // Composed in a buffer large enough for any name, then held to the limit.
  char prefix[512], path[1024];
  int a = std::snprintf(prefix, sizeof prefix, "../../../data/%s/%s%u/%s", name, name, q, name);
  if (a < 0 || a >= kPathBytes) return false;
  int b = std::snprintf(path, sizeof path, "%s_%u_%u.pgm", prefix, slant, tilt);
  if (b < 0 || b >= kPathBytes) return false;
  std::memcpy(out, path, static_cast<size_t>(b) + 1);
  return true;
}

Surface::Surface(unsigned int QQ, unsigned int SS, const u_int* ss, unsigned int TT,
                 const u_int* tt, const char* nname)
    : Q(QQ), S(SS), s(nullptr), T(TT), t(nullptr) {
  if (std::strlen(nname) >= sizeof name)
    data_error_text(std::string("Surface name too long (at most 79 characters): ") + nname);
  std::strcpy(name, nname);
  s = new unsigned int[S];
  t = new unsigned int[T];
  for (unsigned int z = 0; z < S; z++) s[z] = ss[z];
  for (unsigned int d = 0; d < T; d++) t[d] = tt[d];
  try {
    for (unsigned int q = 0; q < Q; q++) {
      for (unsigned int z = 0; z < S; z++) {
        for (unsigned int d = 0; d < T; d++) {
          char path[kPathBytes];
          if (!image_path(name, q, s[z], t[d], path))
            data_error_text(std::string("Image path of surface ") + name +
                            " too long (at most 79 characters)");
          check_file(path);
        }
      }
    }
  } catch (...) {
    delete[] s;
    delete[] t;
    throw;
  }
}

Surface::~Surface() {
  delete[] s;
  delete[] t;
}

FILE* Surface::open_image(unsigned int q, unsigned int z, unsigned int d, int* m, int* n) {
  assert(z < S);
  assert(d < T);
  char path[kPathBytes];
  if (!image_path(name, q, s[z], t[d], path))
    data_error_text(std::string("Image path of surface ") + name +
                    " too long (at most 79 characters)");
  // The header stores width first; the matrix has height rows.
  return skip_pgm_header(path, n, m);
}

MAT* Surface::read_image(unsigned int q, unsigned int z, unsigned int d) {
  assert(z < S);
  assert(d < T);
  int m, n;
  FILE* f = open_image(q, z, d, &m, &n);
  char path[kPathBytes];
  image_path(name, q, s[z], t[d], path);
  MAT* image;
  try {
    image = read_pgm_raster(f, path, m, n);
  } catch (...) {
    std::fclose(f);
    throw;
  }
  std::fclose(f);
  return image;
}

VEC* Surface::illuminant(unsigned int z, unsigned int d) {
  assert(z < S && d < T);
  return make_illuminant(static_cast<double>(t[d]), static_cast<double>(s[z]));
}

VEC* make_illuminant(double t, double s) {
  double slant = s * 3.141592653589793 / 180;
  double tilt = t * 3.141592653589793 / 180;
  VEC* v = v_get(3);
  v->ve[0] = std::cos(tilt) * std::sin(slant);
  v->ve[1] = std::sin(tilt) * std::sin(slant);
  v->ve[2] = std::cos(slant);
  return v;
}

FILE* skip_pgm_header(const char* filename, int* width, int* height) {
  FILE* f = std::fopen(filename, "rb");
  if (!f) cannot_open(filename);
  std::string line;

  header_line(f, filename, line, "its size line");
  {
    std::string magic = line;
    while (!magic.empty() && (magic.back() == '\n' || magic.back() == '\r' || magic.back() == ' ' ||
                              magic.back() == '\t'))
      magic.pop_back();
    if (magic != "P5") {
      std::fclose(f);
      data_error(filename, 1, kWrongFormat, "the first line is not P5");
    }
  }
  long number = 1;
  do {
    header_line(f, filename, line, "its size line");
    ++number;
  } while (line[0] == '#');

  const char* p = line.c_str();
  long w, h;
  if (!scan_long(&p, &w) || !scan_long(&p, &h)) {
    std::fclose(f);
    data_error(filename, number, kWrongFormat, "expected the width and the height");
  }
  if (w < 1 || h < 1 || w > kMaxImageSide || h > kMaxImageSide) {
    std::fclose(f);
    data_error(filename, number, kWrongFormat,
               "width and height must be from 1 to " + std::to_string(kMaxImageSide));
  }

  header_line(f, filename, line, "its maximum value line");
  ++number;
  p = line.c_str();
  long maxval;
  // (A NUL byte would end the text early and hide what follows it.)
  if (!scan_long(&p, &maxval) || !blank_text(p) || line.find('\0') != std::string::npos ||
      maxval < 1 || maxval > 255) {
    std::fclose(f);
    data_error(filename, number, kWrongFormat,
               "the maximum value must be an integer from 1 to 255");
  }
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return f;
}

MAT* read_pgm_raster(FILE* f, const char* filename, int height, int width) {
  const long long bytes = static_cast<long long>(height) * width;
  // Refuse before allocating when a regular file is too short for the raster.
  struct stat st;
  long here = std::ftell(f);
  if (here >= 0 && fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<long long>(st.st_size) - here < bytes)
    data_error(filename, 0, "Error: converting image into matrix\n",
               "the raster holds " + std::to_string(static_cast<long long>(st.st_size) - here) +
                   " of " + std::to_string(bytes) + " bytes");
  MAT* image = m_get(height, width);
  std::vector<unsigned char> row(width);
  for (int i = 0; i < height; i++) {
    if (std::fread(row.data(), 1, width, f) != static_cast<size_t>(width)) {
      const int err = errno;
      m_free(image);
      if (std::ferror(f)) read_error(filename, err);
      data_error(filename, 0, "Error: converting image into matrix\n", "the raster is too short");
    }
    double* out = image->me[i];
    for (int j = 0; j < width; j++) out[j] = row[j];
  }
  return image;
}

std::string unreadable_name(const char* name) {
  const size_t length = std::strlen(name);
  if (length == 0) return "the name is empty";
  if (length > 79) return "the name is longer than 79 characters";
  if (name[0] >= '0' && name[0] <= '9') return "the name begins with a digit";
  if (std::strchr(name, '\n') || std::strchr(name, '\r')) return "the name holds a line break";
  return "";
}

void check_file(const char* name) {
  FILE* f = std::fopen(name, "r");
  if (!f) cannot_open(name);
  std::fclose(f);
}
