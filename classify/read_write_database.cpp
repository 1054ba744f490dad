#include "read_write_database.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "atomic_output.h"
#include "auxillary.h"
#include "data_error.h"
#include "number.h"
#include "parameters.h"
#include "text_line.h"

namespace {

const char kEndedEarly[] = "Your ClassSurface input file has ended prematurely!\n";
const char kBadValue[] = "Error in scanning vector lines!";
const char kLineCheck[] = "fgets(buffer, sizeof(buffer), f)!=__null";

// Reads a label or number line; the file must not end there.
void model_line(LineReader& reader, std::string& line, const char* what) {
  if (!reader.next(line))
    reader.fail("the database file ends inside a model",
                std::string("expected ") + what + "; failed check: " + kLineCheck);
}

// Scans `count` values from the line into out[0 .. count-1].
void scan_line(LineReader& reader, const std::string& line, double* out, unsigned int count) {
  bool bad;
  const unsigned int found = scan_values(line.c_str(), out, count, &bad);
  if (found == count) return;
  if (bad) reader.fail(kBadValue, "value " + std::to_string(found) + " is not finite");
  reader.fail(kBadValue,
              "expected " + std::to_string(count) + " numbers, found " + std::to_string(found));
}

}  // namespace

void read_surface_matrix(LineReader& reader, MAT* P) {
  std::string line;
  model_line(reader, line, "the label of a matrix");
  for (unsigned int i = 0; i < P->m; i++) {
    model_line(reader, line, "a row of a matrix");
    scan_line(reader, line, P->me[i], P->n);
  }
}

void read_surface_vector(LineReader& reader, VEC* v) {
  std::string line;
  model_line(reader, line, "the label of a vector");
  model_line(reader, line, "the elements of a vector");
  scan_line(reader, line, v->ve, v->dim);
}

void read_surface_matrix(FILE* f, MAT* P) {
  LineReader reader(f, "database stream");
  read_surface_matrix(reader, P);
}

void read_surface_vector(FILE* f, VEC* v) {
  LineReader reader(f, "database stream");
  read_surface_vector(reader, v);
}

namespace {

// Reads the lines of one model into a ClassSurface whose P, mu and sigma are
// still null; on failure they are left null again.
void read_model(ClassSurface* model, Filters* ff, LineReader& reader) {
  std::string line;
  if (!reader.next(line)) reader.fail(kEndedEarly);
  if (line[0] >= '0' && line[0] <= '9') reader.fail("The name of the surface is a number: " + line);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (line.size() > 79) reader.fail("the name of a surface is longer than 79 characters");
  std::memcpy(model->name, line.c_str(), line.size() + 1);
  MAT* P = m_get(ff->F, 6);
  VEC* mu = v_get(ff->F);
  VEC* sigma = v_get(ff->F);
  try {
    read_surface_matrix(reader, P);
    read_surface_vector(reader, mu);
    read_surface_vector(reader, sigma);
    const int f = zero_spread(sigma);
    if (f >= 0) reader.fail("model " + std::string(model->name) + ", " + zero_spread_text(ff, f));
  } catch (...) {
    m_free(P);
    v_free(mu);
    v_free(sigma);
    throw;
  }
  model->P = P;
  model->mu = mu;
  model->sigma = sigma;
}

}  // namespace

ClassSurface::ClassSurface(Filters* ff, FILE* f)
    : filters(ff), P(nullptr), mu(nullptr), sigma(nullptr) {
  LineReader reader(f, "database stream");
  read_model(this, ff, reader);
}

ClassSurface::ClassSurface(Filters* ff, LineReader& reader)
    : filters(ff), P(nullptr), mu(nullptr), sigma(nullptr) {
  read_model(this, ff, reader);
}

void ClassSurface::output(FILE* f) {
  std::fprintf(f, "%s\n", name);
  print_matrix(f, "Matrix P", P);
  print_vector(f, "Vector mu", mu);
  print_vector(f, "Vector sigma", sigma);
}

Database::Database(const char* file, Filters* ff) : K(0), surfaces(nullptr), filters(ff) {
  FILE* f = std::fopen(file, "r");
  if (!f) {
    if (errno != ENOENT) read_error(file, errno);
    data_error_text(std::string("Cannot open the database file \"") + file + "\"", ENOENT);
  }
  LineReader reader(f, file);
  std::vector<ClassSurface*> models;
  try {
    std::string line;
    if (!reader.next(line))
      reader.fail("the database file is empty", std::string("failed check: ") + kLineCheck);
    const char* p = line.c_str();
    long count = -1;
    if (!scan_long(&p, &count) || count < 0 || count > INT_MAX ||
        !(*p == '\0' || is_text_space(*p)))
      reader.fail("the first line must hold the number of models, a whole number of at least 0");
    // Models are collected as they are read, so a count that the file does
    // not hold ends in "ended prematurely", never in a huge allocation.
    for (long k = 0; k < count; k++) models.push_back(new ClassSurface(ff, reader));
    surfaces = new ClassSurface*[models.size()];
    for (size_t k = 0; k < models.size(); k++) surfaces[k] = models[k];
    K = static_cast<u_int>(count);
  } catch (...) {
    std::fclose(f);
    for (ClassSurface* model : models) delete model;
    throw;
  }
  std::fclose(f);
}

void Database::output(const char* file) {
  for (u_int k = 0; k < K; k++) {
    std::string why = unreadable_name(surfaces[k]->name);
    if (!why.empty())
      data_error(file, 0,
                 "the database was not written: model " + std::to_string(k) +
                     " has a name that cannot be read back",
                 why);
    ClassSurface* s = surfaces[k];
    for (unsigned int i = 0; i < s->P->m; i++)
      for (unsigned int j = 0; j < s->P->n; j++)
        if (!std::isfinite(s->P->me[i][j]))
          data_error(file, 0,
                     "the database was not written: model " + std::string(s->name) +
                         " holds a value that is not finite");
    for (unsigned int i = 0; i < s->mu->dim; i++)
      if (!std::isfinite(s->mu->ve[i]) || !std::isfinite(s->sigma->ve[i]))
        data_error(file, 0,
                   "the database was not written: model " + std::string(s->name) +
                       " holds a value that is not finite");
  }

  // Written beside the target and renamed into place only when complete, so
  // that the file is at every moment either the old or the new database.
  AtomicOutput out(file);
  std::fprintf(out.stream(), "%d\n", static_cast<int>(K));
  for (u_int k = 0; k < K; k++) surfaces[k]->output(out.stream());
  out.commit();
}

void write_database_file(Database& database, const Filters* bank, const std::string& file,
                         bool allow_zero_sigma,
                         const std::function<void(const std::string&)>& warn) {
  std::vector<std::string> zeros;
  for (u_int k = 0; k < database.K; k++) {
    const ClassSurface* model = database.surfaces[k];
    for (const std::string& item : spreads_stored_as_zero(model->sigma, bank))
      zeros.push_back("surface " + std::string(model->name) + ", " + item);
  }
  if (!zeros.empty() && !allow_zero_sigma)
    data_error(file, 0,
               "the database was not written: " + zeros[0] +
                   ", so every distance to the model would be infinite or not a number",
               (zeros.size() > 1 ? std::to_string(zeros.size()) + " such spreads in all; " : "") +
                   "--allow-zero-sigma writes it anyway, for inspection: classify_images and "
                   "classify_experiment refuse to read such a database");
  for (const std::string& zero : zeros) warn(zero);
  database.output(file.c_str());
}
