// Support for the tests: temporary folders, files written from the test,
// tiny photometric image sets of known surfaces, and running programs as a
// user does.
#ifndef TI_TEST_SUPPORT_H
#define TI_TEST_SUPPORT_H

#include <functional>
#include <string>
#include <vector>

#include "meschach.h"

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void write_file(const std::string& path, const std::string& content);
std::string read_file(const std::string& path);
void make_dirs(const std::string& path);

// A binary PGM of `pixels` (row-major, height x width) with maxval 255.
void write_pgm(const std::string& path, int width, int height,
               const std::vector<unsigned char>& pixels);
// Writes a JPEG of `channels` (1 or 3) samples per pixel, row by row, at
// quality 90, baseline or progressive (libjpeg).
void write_jpeg(const std::string& path, int side, int channels, bool progressive,
                const std::vector<unsigned char>& samples);

// A filter file of the given kernels (all M x M) with names "kernel <k>".
using Kernel = std::vector<std::vector<double>>;
std::string bank_text(const std::vector<Kernel>& kernels);
void write_bank(const std::string& path, const std::vector<Kernel>& kernels);
// A small bank of zero-mean derivative-like kernels of size M.
std::vector<Kernel> test_kernels(int count, int M);

// A height field h(i, j) of a test surface, with `seed` choosing the
// realisation (random phases) of its class.
using HeightField = std::function<double(int, int)>;
HeightField test_surface(int surface_class, unsigned seed);

// Renders the Lambertian image of height field h (size x size) under the
// light of slant and tilt in degrees: albedo 150 times n.L, clipped at 0
// when `clip`, plus uniform noise of amplitude `noise` grey levels from a
// generator seeded with `seed`, quantised to bytes.
std::vector<unsigned char> render(const HeightField& h, int size, double slant, double tilt,
                                  double noise, unsigned seed, bool clip = true);

// A workspace as the programs expect it: <root>/data/<name>/<name><q>/...
// images for every surface, set and tilt (slant 45), and a working directory
// three levels below <root> (run/a/b).
struct Workspace {
  std::string root;
  std::string work;  // <root>/run/a/b
};
Workspace make_workspace(const std::string& root, const std::vector<std::string>& names,
                         const std::vector<int>& classes, int sets, int size, double noise);

// The outcome of running a program.
struct RunResult {
  int status = -1;      // exit status, or -1 when killed by a signal
  int signal = 0;       // the signal that ended it, 0 if none
  std::string out;      // standard output
  std::string err;      // standard error
  long max_rss_kb = 0;  // the child's peak resident memory
};

// Runs argv[0] (a path) with the arguments in `cwd`, standard input empty.
RunResult run(const std::vector<std::string>& argv, const std::string& cwd = ".",
              const std::vector<std::string>& env = {});

// Expects a data error as a user meets it: status 1, no signal, nothing on
// standard output, and one line on standard error that holds `text`.
void expect_data_error(const RunResult& r, const std::string& text);

// Changes to `dir` for the lifetime of the object.
class InDirectory {
 public:
  explicit InDirectory(const std::string& dir);
  ~InDirectory();
  InDirectory(const InDirectory&) = delete;
  InDirectory& operator=(const InDirectory&) = delete;

 private:
  std::string previous_;
};

// Path of a built program, from the directory the test binary was built in.
// In a build with TI_PLAIN_KERNELS=ON the programs are the plain versions, so
// "X_plain" is X there.
std::string program(const std::string& name);

// A new matrix from nested rows. Caller frees.
MAT* matrix(const std::vector<std::vector<double>>& rows);
// A rows x cols matrix of values uniform in [-1, 1) drawn from `seed`; caller frees.
MAT* random_matrix(unsigned rows, unsigned cols, unsigned seed);
// A new vector. Caller frees.
VEC* vector(const std::vector<double>& values);

#endif
