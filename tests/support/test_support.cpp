#include "test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "image.h"

extern char** environ;

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/ti_test.XXXXXX";
  if (!mkdtemp(&pattern[0])) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::string command = "rm -rf '" + path_ + "'";
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "cannot remove %s\n", path_.c_str());
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream f(path, std::ios::binary);
  f << content;
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void make_dirs(const std::string& path) {
  std::string partial;
  std::stringstream parts(path);
  std::string piece;
  if (!path.empty() && path[0] == '/') partial = "/";
  while (std::getline(parts, piece, '/')) {
    if (piece.empty()) continue;
    partial += piece + "/";
    mkdir(partial.c_str(), 0755);
  }
}

void write_pgm(const std::string& path, int width, int height,
               const std::vector<unsigned char>& pixels) {
  write_file(path, encode_pnm(width, height, 1, pixels.data()));
}

void write_jpeg(const std::string& path, int side, int channels, bool progressive,
                const std::vector<unsigned char>& samples) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  FILE* f = std::fopen(path.c_str(), "wb");
  jpeg_stdio_dest(&info, f);
  info.image_width = info.image_height = side;
  info.input_components = channels;
  info.in_color_space = channels == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 90, TRUE);
  if (progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  for (int i = 0; i < side; i++) {
    JSAMPROW row = const_cast<unsigned char*>(&samples[static_cast<size_t>(i) * side * channels]);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::fclose(f);
}

std::string bank_text(const std::vector<Kernel>& kernels) {
  std::ostringstream s;
  s.precision(17);
  s << "Number of filters: " << kernels.size() << "\n";
  s << "Size: " << kernels[0].size() << "\n";
  for (size_t k = 0; k < kernels.size(); k++) {
    s << "kernel " << k << "\n";
    for (const auto& row : kernels[k]) {
      for (size_t j = 0; j < row.size(); j++) s << (j ? " " : "") << row[j];
      s << "\n";
    }
  }
  return s.str();
}

void write_bank(const std::string& path, const std::vector<Kernel>& kernels) {
  write_file(path, bank_text(kernels));
}

std::vector<Kernel> test_kernels(int count, int M) {
  std::vector<Kernel> kernels;
  const double c = (M - 1) / 2.0;
  for (int k = 0; k < count; k++) {
    // Oriented first and second derivatives of a Gaussian at two scales.
    const double angle = 3.141592653589793 * (k % 4) / 4.0;
    const double scale = (k / 4) % 2 == 0 ? M / 6.0 : M / 4.0;
    const bool second = (k / 8) % 2 == 1;
    Kernel kernel(M, std::vector<double>(M));
    double mean = 0;
    for (int i = 0; i < M; i++)
      for (int j = 0; j < M; j++) {
        double x = j - c, y = i - c;
        double u = x * std::cos(angle) + y * std::sin(angle);
        double g = std::exp(-(x * x + y * y) / (2 * scale * scale));
        kernel[i][j] = second ? (u * u / (scale * scale) - 1) * g : u * g;
        mean += kernel[i][j];
      }
    mean /= M * M;
    for (auto& row : kernel)
      for (double& v : row) v -= mean;
    kernels.push_back(kernel);
  }
  return kernels;
}

HeightField test_surface(int surface_class, unsigned seed) {
  std::mt19937 generator(seed * 7919u + surface_class);
  std::uniform_real_distribution<double> phase(0, 2 * 3.141592653589793);
  const double p1 = phase(generator), p2 = phase(generator), p3 = phase(generator);
  const double pi = 3.141592653589793;
  switch (surface_class % 6) {
    case 4:
    case 5: {  // two skewed ridge patterns at 0 and 60 (or 30 and 110) degrees
      const double w1 = 2 * pi / (surface_class == 4 ? 9 : 7), w2 = 2 * pi / 6;
      const double a1 = surface_class == 4 ? 0.0 : 0.5236, a2 = surface_class == 4 ? 1.0472 : 1.92;
      return [=](int i, int j) {
        double u = w1 * (j * std::cos(a1) + i * std::sin(a1)) + p1;
        double v = w2 * (j * std::cos(a2) + i * std::sin(a2)) + p2;
        return 0.45 / w1 * (std::sin(u) + 0.45 * std::sin(2 * u)) +
               0.2 / w2 * (std::sin(v) + 0.45 * std::sin(2 * v + p3 * 0));
      };
    }
    case 0: {  // ridges across the columns, period 8
      const double w = 2 * pi / 8;
      return [=](int, int j) { return 0.5 / w * std::sin(w * j + p1); };
    }
    case 1: {  // ridges across the rows, period 6
      const double w = 2 * pi / 6;
      return [=](int i, int) { return 0.5 / w * std::sin(w * i + p1); };
    }
    case 2: {  // three gratings at 0, 60 and 120 degrees, period 5
      const double w = 2 * pi / 5;
      return [=](int i, int j) {
        double a = w * j, b = w * (0.5 * j + 0.866 * i), c = w * (-0.5 * j + 0.866 * i);
        return 0.25 / w * (std::sin(a + p1) + std::sin(b + p2) + std::sin(c + p3));
      };
    }
    case 3:
    default: {  // diagonal ridges, period 12
      const double w = 2 * pi / 12 / std::sqrt(2.0);
      return [=](int i, int j) { return 0.6 / w * std::sin(w * (i + j) + p1); };
    }
  }
}

std::vector<unsigned char> render(const HeightField& h, int size, double slant, double tilt,
                                  double noise, unsigned seed, bool clip) {
  const double pi = 3.141592653589793;
  const double s = slant * pi / 180, t = tilt * pi / 180;
  const double L[3] = {std::cos(t) * std::sin(s), std::sin(t) * std::sin(s), std::cos(s)};
  std::mt19937 generator(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<unsigned char> pixels(static_cast<size_t>(size) * size);
  for (int i = 0; i < size; i++)
    for (int j = 0; j < size; j++) {
      double hx = (h(i, j + 1) - h(i, j - 1)) / 2, hy = (h(i + 1, j) - h(i - 1, j)) / 2;
      double norm = std::sqrt(hx * hx + hy * hy + 1);
      double shade = (-hx * L[0] - hy * L[1] + L[2]) / norm;
      if (clip && shade < 0) shade = 0;
      double v = 150 * shade + noise * uniform(generator);
      v = std::floor(v + 0.5);
      pixels[static_cast<size_t>(i) * size + j] =
          static_cast<unsigned char>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
  return pixels;
}

Workspace make_workspace(const std::string& root, const std::vector<std::string>& names,
                         const std::vector<int>& classes, int sets, int size, double noise) {
  Workspace w{root, root + "/run/a/b"};
  make_dirs(w.work);
  for (size_t n = 0; n < names.size(); n++) {
    for (int q = 0; q < sets; q++) {
      std::string dir = root + "/data/" + names[n] + "/" + names[n] + std::to_string(q);
      make_dirs(dir);
      HeightField h = test_surface(classes[n], 100 * q + 1);
      for (int tilt = 0; tilt < 360; tilt += 30) {
        unsigned seed = static_cast<unsigned>(n * 100000 + q * 1000 + tilt);
        write_pgm(dir + "/" + names[n] + "_45_" + std::to_string(tilt) + ".pgm", size, size,
                  render(h, size, 45, tilt, noise, seed));
      }
    }
  }
  return w;
}

namespace {

void drain(int fd, std::string& into, bool& open) {
  char buffer[65536];
  ssize_t got = read(fd, buffer, sizeof buffer);
  if (got > 0)
    into.append(buffer, static_cast<size_t>(got));
  else
    open = false;
}

}  // namespace

RunResult run(const std::vector<std::string>& argv, const std::string& cwd,
              const std::vector<std::string>& env) {
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]);
    close(err[0]);
    if (chdir(cwd.c_str()) != 0) _exit(127);
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) environment.push_back(*e);
    for (const std::string& e : env) environment.push_back(e);
    std::vector<char*> envp, args;
    for (std::string& e : environment) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    std::vector<std::string> copy = argv;
    for (std::string& a : copy) args.push_back(&a[0]);
    args.push_back(nullptr);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  RunResult result;
  bool out_open = true, err_open = true;
  while (out_open || err_open) {
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) break;
    if (out_open && (fds[0].revents & (POLLIN | POLLHUP))) drain(out[0], result.out, out_open);
    if (err_open && (fds[1].revents & (POLLIN | POLLHUP))) drain(err[0], result.err, err_open);
  }
  close(out[0]);
  close(err[0]);
  int status;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  result.max_rss_kb = usage.ru_maxrss;
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

void expect_data_error(const RunResult& r, const std::string& text) {
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
}

InDirectory::InDirectory(const std::string& dir) {
  char buffer[4096];
  if (!getcwd(buffer, sizeof buffer)) throw std::runtime_error("getcwd failed");
  previous_ = buffer;
  if (chdir(dir.c_str()) != 0) throw std::runtime_error("cannot enter " + dir);
}

InDirectory::~InDirectory() {
  if (chdir(previous_.c_str()) != 0)
    std::fprintf(stderr, "cannot return to %s\n", previous_.c_str());
}

std::string program(const std::string& name) {
#ifdef TI_PLAIN_PROGRAMS_ARE_THE_PROGRAMS
  const std::string suffix = "_plain";
  if (name.size() > suffix.size() &&
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
    return std::string(TI_BIN_DIR) + "/" + name.substr(0, name.size() - suffix.size());
#endif
  return std::string(TI_BIN_DIR) + "/" + name;
}

MAT* matrix(const std::vector<std::vector<double>>& rows) {
  MAT* m = m_get(rows.size(), rows.empty() ? 0 : rows[0].size());
  for (size_t i = 0; i < rows.size(); i++)
    for (size_t j = 0; j < rows[i].size(); j++) m->me[i][j] = rows[i][j];
  return m;
}

VEC* vector(const std::vector<double>& values) {
  VEC* v = v_get(values.size());
  for (size_t i = 0; i < values.size(); i++) v->ve[i] = values[i];
  return v;
}

MAT* random_matrix(unsigned rows, unsigned cols, unsigned seed) {
  std::mt19937 g(seed);
  std::uniform_real_distribution<double> u(-1, 1);
  MAT* m = m_get(rows, cols);
  for (unsigned i = 0; i < rows; i++)
    for (unsigned j = 0; j < cols; j++) m->me[i][j] = u(g);
  return m;
}
