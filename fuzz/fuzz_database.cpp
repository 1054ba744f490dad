// Database reader: Database(file, bank).
//
// The first input byte chooses the bank (1, 2 or 3 kernels of 3 x 3, written
// once); the rest is the database file. Oracle: every model read has a name
// of at most 79 characters that neither begins with a digit nor holds a line
// break, P of F x 6, mu and sigma of F, all finite.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "class.h"
#include "class_surface.h"
#include "data_error.h"
#include "fuzz_support.h"
#include "read_write_database.h"

namespace {

std::string bank_text(int F) {
  std::string text = "Number of filters: " + std::to_string(F) + "\nSize: 3\n";
  for (int k = 0; k < F; k++) {
    text += "kernel " + std::to_string(k) + "\n";
    for (int i = 0; i < 3; i++) text += std::to_string(k + i) + " 1 -1\n";
  }
  return text;
}

Filters* make_bank(int F) {
  MemoryFile file("fuzz_database_bank");
  file.write(bank_text(F));
  return new Filters(file.path());
}

void check_model(const ClassSurface* model, unsigned F) {
  FUZZ_CHECK(model != nullptr);
  const size_t length = strnlen(model->name, sizeof model->name);
  FUZZ_CHECK(length < sizeof model->name);
  FUZZ_CHECK(!(model->name[0] >= '0' && model->name[0] <= '9'));
  FUZZ_CHECK(std::strchr(model->name, '\n') == nullptr);
  FUZZ_CHECK(model->P && model->P->m == F && model->P->n == 6);
  FUZZ_CHECK(model->mu && model->mu->dim == F);
  FUZZ_CHECK(model->sigma && model->sigma->dim == F);
  for (unsigned f = 0; f < F; f++) {
    for (unsigned c = 0; c < 6; c++) FUZZ_CHECK(std::isfinite(model->P->me[f][c]));
    FUZZ_CHECK(std::isfinite(model->mu->ve[f]));
    FUZZ_CHECK(std::isfinite(model->sigma->ve[f]));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Released at exit by the unique_ptrs, so LeakSanitizer stays quiet.
  static std::unique_ptr<Filters> banks[3] = {std::unique_ptr<Filters>(make_bank(1)),
                                              std::unique_ptr<Filters>(make_bank(2)),
                                              std::unique_ptr<Filters>(make_bank(3))};
  static MemoryFile file("fuzz_database");
  if (size < 1) return 0;
  Filters* bank = banks[data[0] % 3].get();
  file.write(data + 1, size - 1);
  Database* db = nullptr;
  try {
    db = new Database(file.path(), bank);
  } catch (const DataError&) {
    return 0;
  }
  FUZZ_CHECK(db->filters == bank);
  FUZZ_CHECK(db->surfaces != nullptr);
  // Each model takes at least 6 lines of the file.
  FUZZ_CHECK(static_cast<size_t>(db->K) * 6 <= size);
  for (u_int k = 0; k < db->K; k++) check_model(db->surfaces[k], bank->F);
  delete db;
  return 0;
}
