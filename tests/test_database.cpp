#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <iterator>

#include "atomic_output.h"
#include "class_surface.h"
#include "data_error.h"
#include "filters.h"
#include "read_write_database.h"
#include "test_support.h"

namespace {

// A bank of F kernels; the database reader takes only its count.
std::string write_bank_of(const TempDir& dir, int F) {
  write_bank(dir / "bank.dat", test_kernels(F, 3));
  return dir / "bank.dat";
}

// The text of one model with constant rows (F filters).
std::string model_text(const std::string& name, int F, double p, double mu, double sigma) {
  char number[64];
  std::string text = name + "\nMatrix P\n";
  for (int f = 0; f < F; f++) {
    for (int c = 0; c < 6; c++) {
      std::snprintf(number, sizeof number, "%0.6lf   ", p);
      text += number;
    }
    text += "\n";
  }
  text += "Vector mu\n";
  for (int f = 0; f < F; f++) {
    std::snprintf(number, sizeof number, "%0.6lf   ", mu);
    text += number;
  }
  text += "\nVector sigma\n";
  for (int f = 0; f < F; f++) {
    std::snprintf(number, sizeof number, "%0.6lf   ", sigma);
    text += number;
  }
  return text + "\n";
}

// While the object lives, no file can grow past `bytes`, for root as well:
// a write past the limit fails with EFBIG (SIGXFSZ is ignored meanwhile).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) ADD_FAILURE() << "setrlimit failed";
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_;
  void (*handler_)(int);
};

// The names in a folder, sorted.
std::vector<std::string> files_in(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

RunResult probe_database(const TempDir& dir, const std::string& content, int F = 2) {
  write_file(dir / "db.dat", content);
  return run({program("probe"), "database", dir / "db.dat", write_bank_of(dir, F)});
}

const char kExample[] =
    "1\n"
    "aaa\n"
    "Matrix P\n"
    "0.500000   -1.250000   0.000000   2.000000   0.062500   3.000000   \n"
    "1.000000   2.000000   3.000000   4.000000   5.000000   6.000000   \n"
    "Vector mu\n"
    "12.500000   -0.000000   \n"
    "Vector sigma\n"
    "1.000000   3.000000   \n";

}  // namespace

TEST(Database, ExampleFileReadAndWrittenByteForByte) {
  TempDir dir;
  write_file(dir / "db.dat", kExample);
  Filters bank(write_bank_of(dir, 2).c_str());
  Database db((dir / "db.dat").c_str(), &bank);
  ASSERT_EQ(db.K, 1u);
  EXPECT_STREQ(db.surfaces[0]->name, "aaa");
  EXPECT_EQ(db.surfaces[0]->P->me[0][1], -1.25);
  EXPECT_EQ(db.surfaces[0]->P->me[0][4], 0.0625);
  EXPECT_EQ(db.surfaces[0]->mu->ve[0], 12.5);
  EXPECT_TRUE(std::signbit(db.surfaces[0]->mu->ve[1]));
  db.surfaces[0]->mu->ve[1] = -0.0000001;  // written as -0.000000
  db.output((dir / "out.dat").c_str());
  EXPECT_EQ(read_file(dir / "out.dat"), kExample);
}

TEST(Database, RoundTripToSixDecimalsWithLongLines) {
  // 30 filters: number lines of more than 255 characters must read back whole.
  TempDir dir;
  Filters bank(write_bank_of(dir, 30).c_str());
  std::string text = "2\n" + model_text("first", 30, 123.4567891, -17.25, 3.5) +
                     model_text("second model", 30, 0.0000004, 1e6 + 0.1234564, 0.001);
  write_file(dir / "db.dat", text);
  Database db((dir / "db.dat").c_str(), &bank);
  ASSERT_EQ(db.K, 2u);
  EXPECT_EQ(db.surfaces[0]->P->me[29][5], 123.456789);
  EXPECT_EQ(db.surfaces[0]->mu->ve[29], -17.25);
  EXPECT_EQ(db.surfaces[1]->P->me[0][0], 0);
  EXPECT_EQ(db.surfaces[1]->mu->ve[29], 1000000.123456);
  EXPECT_STREQ(db.surfaces[1]->name, "second model");
  db.output((dir / "out.dat").c_str());
  EXPECT_EQ(read_file(dir / "out.dat"), text);
}

TEST(Database, TolerantReadingOfSeparatorsAndExtraValues) {
  TempDir dir;
  std::string text =
      "  1 models\n-name\n\n"
      "1.5x\t2  3 4 5 6 7 8\n"
      "1 2 3 4 5 6\n"
      "label\n  7   8  9\nsigma\n1 1\ntrailing text that is never read\n";
  RunResult r = probe_database(dir, text);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1\n");
}

TEST(Database, ErrorsAsAUserMeetsThem) {
  TempDir dir;
  RunResult missing = run({program("probe"), "database", dir / "none.dat", write_bank_of(dir, 2)});
  expect_data_error(missing, dir / "none.dat");
  expect_data_error(probe_database(dir, ""), "empty");
  expect_data_error(probe_database(dir, "x\n"), "number of models");
  expect_data_error(probe_database(dir, "-1\n"), "number of models");
  expect_data_error(probe_database(dir, "2\n" + model_text("a", 2, 1, 0, 1)),
                    "Your ClassSurface input file has ended prematurely!");
  expect_data_error(probe_database(dir, "1\n7up\n"), "The name of the surface is a number: 7up");
  expect_data_error(probe_database(dir, "1\na\nMatrix P\n1 2 3\n"),
                    "Error in scanning vector lines!");
  expect_data_error(probe_database(dir, "1\na\nMatrix P\n1 2 3 4 5 6\n"), "ends inside a model");
  expect_data_error(probe_database(dir, "1\na\nMatrix P\n1 2 3 4 5 6\n1 2 3 4 5 6\nmu\n\n"),
                    "Error in scanning vector lines!");
  expect_data_error(probe_database(dir, "1\n" + std::string(80, 'n') + "\n"), "longer than 79");
  expect_data_error(probe_database(dir, "1\na\nMatrix P\n1 2 3 4 5 nan\n"), "not finite");
  expect_data_error(probe_database(dir, "999999999\n" + model_text("a", 2, 1, 0, 1)),
                    "Your ClassSurface input file has ended prematurely!");
  // A spread written as zero (of either sign) makes every distance to the
  // model infinite or not a number.
  expect_data_error(
      probe_database(dir, "2\n" + model_text("a", 2, 1, 0, 1) + model_text("flat", 2, 1, 0, 0)),
      "db.dat:17: model flat, filter 0 \"kernel 0\": sigma is 0, so every distance "
      "to the model would be infinite or not a number");
  expect_data_error(probe_database(dir,
                                   "1\na\nMatrix P\n1 2 3 4 5 6\n1 2 3 4 5 6\nVector mu\n"
                                   "0 0\nVector sigma\n0.5 -0.000000\n"),
                    "db.dat:9: model a, filter 1 \"kernel 1\": sigma is 0");
  // A model written with a bank of another size shows as a scanning error.
  expect_data_error(probe_database(dir, "1\n" + model_text("a", 2, 1, 0, 1), 3),
                    "Error in scanning vector lines!");
}

TEST(Database, EmptyDatabase) {
  TempDir dir;
  RunResult r = probe_database(dir, "0\nanything\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "0\n");
}

TEST(Database, WriterRefusesNamesThatCannotBeReadBack) {
  EXPECT_EQ(unreadable_name("aaa"), "");
  EXPECT_NE(unreadable_name(""), "");
  EXPECT_NE(unreadable_name("1abc"), "");
  EXPECT_NE(unreadable_name("a\nb"), "");
  EXPECT_NE(unreadable_name(std::string(80, 'a').c_str()), "");
  EXPECT_EQ(unreadable_name(std::string(79, 'a').c_str()), "");

  TempDir dir;
  write_file(dir / "db.dat", kExample);
  Filters bank(write_bank_of(dir, 2).c_str());
  Database db((dir / "db.dat").c_str(), &bank);
  std::strcpy(db.surfaces[0]->name, "9lives");
  write_file(dir / "old.dat", "old contents\n");
  EXPECT_THROW(db.output((dir / "old.dat").c_str()), DataError);
  EXPECT_EQ(read_file(dir / "old.dat"), "old contents\n");
}

TEST(Database, WriteErrorLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  write_file(dir / "db.dat", kExample);
  Filters bank(write_bank_of(dir, 2).c_str());
  Database db((dir / "db.dat").c_str(), &bank);
  make_dirs(dir / "out");
  const std::string target = dir / "out/test20.dat";
  write_file(target, "old\n");
  {
    // A write error that root meets as well: the file size limit.
    FileSizeLimit limit(16);
    try {
      db.output(target.c_str());
      ADD_FAILURE() << "no error";
    } catch (const DataError& e) {
      EXPECT_NE(std::string(e.what()).find(target + ": cannot write the file"), std::string::npos)
          << e.what();
    }
  }
  EXPECT_EQ(read_file(target), "old\n");
  EXPECT_EQ(files_in(dir / "out"), std::vector<std::string>{"test20.dat"});
  // A folder that is a file (ENOTDIR, for root too): nothing is made.
  EXPECT_THROW(db.output((dir / "db.dat/test20.dat").c_str()), DataError);
  EXPECT_EQ(read_file(dir / "db.dat"), kExample);
}

namespace {

// The two writers of whole files: the database's and the data generators'.
struct Writer {
  const char* name;
  void (*write)(const std::string& path, const std::string& text);
};

const Writer kWriters[] = {
    {"AtomicOutput",
     [](const std::string& path, const std::string& text) {
       AtomicOutput out(path);
       std::fputs(text.c_str(), out.stream());
       out.commit();
     }},
    {"write_file_atomically",
     [](const std::string& path, const std::string& text) { write_file_atomically(path, text); }},
};

bool is_link(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

mode_t mode_of(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

int entries(const std::string& folder) {
  return static_cast<int>(std::distance(std::filesystem::directory_iterator(folder),
                                        std::filesystem::directory_iterator()));
}

}  // namespace

TEST(AtomicWriters, WriteThroughLinksAndKeepTheMode) {
  for (const Writer& w : kWriters) {
    SCOPED_TRACE(w.name);
    TempDir dir;
    make_dirs(dir / "store");
    make_dirs(dir / "run");
    // A chain of relative links, each read from its own folder:
    // run/test20.dat -> ../link.dat -> store/real.dat.
    write_file(dir / "store/real.dat", "old\n");
    ASSERT_EQ(symlink("store/real.dat", (dir / "link.dat").c_str()), 0);
    ASSERT_EQ(symlink("../link.dat", (dir / "run/test20.dat").c_str()), 0);
    for (mode_t mode : {0600, 0640, 0444}) {
      chmod((dir / "store/real.dat").c_str(), mode);
      w.write(dir / "run/test20.dat", "new " + std::to_string(mode) + "\n");
      EXPECT_TRUE(is_link(dir / "run/test20.dat"));
      EXPECT_TRUE(is_link(dir / "link.dat"));
      EXPECT_EQ(read_file(dir / "store/real.dat"), "new " + std::to_string(mode) + "\n");
      EXPECT_EQ(mode_of(dir / "store/real.dat"), mode);
      EXPECT_EQ(entries(dir / "store"), 1);  // no temporary left beside the target
      EXPECT_EQ(entries(dir / "run"), 1);
    }
    // New files, at the end of a dangling link or not, get 0666 less the umask.
    ASSERT_EQ(symlink("store/new.dat", (dir / "dangling.dat").c_str()), 0);
    const mode_t mask = umask(027);
    w.write(dir / "dangling.dat", "x\n");
    umask(002);
    w.write(dir / "plain.dat", "y\n");
    umask(mask);
    EXPECT_TRUE(is_link(dir / "dangling.dat"));
    EXPECT_EQ(read_file(dir / "store/new.dat"), "x\n");
    EXPECT_EQ(mode_of(dir / "store/new.dat"), 0640u);
    EXPECT_EQ(mode_of(dir / "plain.dat"), 0664u);
    // A loop of links is refused and left as it is.
    ASSERT_EQ(symlink("loop.dat", (dir / "loop.dat").c_str()), 0);
    EXPECT_ANY_THROW(w.write(dir / "loop.dat", "z\n"));
    EXPECT_TRUE(is_link(dir / "loop.dat"));
  }
}

// Every call of fsync in this program comes here (tests/CMakeLists.txt
// links it with --wrap=fsync): while a FailingSync lives, fsync fails with
// its error number; otherwise it is the C library's.
extern "C" int __real_fsync(int fd);
extern "C" int __wrap_fsync(int fd);

namespace {

int fsync_error = 0;  // the error fsync fails with, 0 for none

class FailingSync {
 public:
  explicit FailingSync(int error) { fsync_error = error; }
  ~FailingSync() { fsync_error = 0; }
  FailingSync(const FailingSync&) = delete;
  FailingSync& operator=(const FailingSync&) = delete;
};

}  // namespace

extern "C" int __wrap_fsync(int fd) {
  if (fsync_error == 0) return __real_fsync(fd);
  errno = fsync_error;
  return -1;
}

TEST(AtomicWriters, FailedSyncLeavesTheOldFileAndNoTemporary) {
  // A file renamed into place before it is on the disk can be lost, or left
  // empty, by a power cut: a failing fsync is a write error like any other.
  for (const Writer& w : kWriters) {
    SCOPED_TRACE(w.name);
    TempDir dir;
    const std::string target = dir / "test20.dat";
    write_file(target, "old\n");
    {
      FailingSync failing(EIO);
      try {
        w.write(target, "new\n");
        ADD_FAILURE() << "no error";
      } catch (const DataError& e) {
        EXPECT_EQ(std::string(e.what()),
                  target + ": cannot write the file (" + std::strerror(EIO) + ")\n");
      }
    }
    EXPECT_EQ(read_file(target), "old\n");
    EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{"test20.dat"});
  }
}

namespace {

// A database of models that predict 0 everywhere: the distance of model a
// to D = 0 is |mu_a| / sigma_a at every light, so each test sets them.
struct FlatDatabase {
  TempDir dir;
  std::unique_ptr<Filters> bank;
  std::unique_ptr<Database> db;
  explicit FlatDatabase(const std::vector<double>& distances) {
    std::string text = std::to_string(distances.size()) + "\n";
    for (size_t a = 0; a < distances.size(); a++)
      text += model_text("m" + std::to_string(a), 1, 0, distances[a], 1);
    write_file(dir / "db.dat", text);
    bank = std::make_unique<Filters>(write_bank_of(dir, 1).c_str());
    db = std::make_unique<Database>((dir / "db.dat").c_str(), bank.get());
  }
};

struct Outcome {
  int index;
  int number;
  double ratio;
};

Outcome classify(const std::vector<double>& distances, unsigned i_true) {
  FlatDatabase flat(distances);
  ISpace space(0, 6.28, 4, 0.5, 1.1, 2, 0.8, 1.3, 2);
  VEC* D = v_get(1);
  Outcome o;
  o.index = flat.db->classify(D, &space, i_true, &o.number, &o.ratio);
  v_free(D);
  return o;
}

}  // namespace

TEST(classify, TrueClassStrictlyNearest) {
  Outcome o = classify({3, 1, 2, 5}, 1);
  EXPECT_EQ(o.index, 1);
  EXPECT_EQ(o.number, 0);
  EXPECT_EQ(o.ratio, 0);
}

TEST(classify, TieWithALowerClassGoesToTheLowerClass) {
  Outcome o = classify({2, 4, 2, 5}, 2);
  EXPECT_EQ(o.index, 0);
  EXPECT_EQ(o.number, 0);
  EXPECT_EQ(o.ratio, 0);
}

TEST(classify, UniquelyFarthestAndCountOfNearer) {
  Outcome o = classify({3, 1, 2, 5}, 3);
  EXPECT_EQ(o.index, 1);
  EXPECT_EQ(o.number, 3);
  EXPECT_EQ(o.ratio, 1);
  Outcome mid = classify({3, 1, 2, 5}, 2);
  EXPECT_EQ(mid.number, 1);
  EXPECT_DOUBLE_EQ(mid.ratio, 0.25);
}

TEST(classify, AllEqualGivesNotANumberRatio) {
  Outcome o = classify({2, 2, 2}, 1);
  EXPECT_EQ(o.index, 0);
  EXPECT_EQ(o.number, 0);
  EXPECT_TRUE(std::isnan(o.ratio));
  Outcome single = classify({4}, 0);
  EXPECT_EQ(single.index, 0);
  EXPECT_TRUE(std::isnan(single.ratio));
}

TEST(classify, EmptyDatabaseOrTrueClassOutOfRangeIsRefused) {
  FlatDatabase flat({1, 2});
  ISpace space(0, 6.28, 4, 0.5, 1.1, 2, 0.8, 1.3, 2);
  VEC* D = v_get(1);
  int number;
  double ratio;
  EXPECT_THROW(flat.db->classify(D, &space, 2, &number, &ratio), DataError);
  FlatDatabase none({});
  EXPECT_THROW(none.db->classify(D, &space, 0, &number, &ratio), DataError);
  v_free(D);
}
