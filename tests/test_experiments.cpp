// The two experiment programs and the database builder, run as a user runs
// them in a small workspace of noisy renders of four clearly different
// surfaces.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>

#include "test_support.h"

namespace {

const std::vector<std::string> kNames = {"aaa", "aab", "aaj", "aam"};
// Surfaces whose light direction the model can tell: two ridge patterns of
// skewed profile (a one-directional surface says nothing about the light
// along its ridges, and a symmetric profile cannot tell a tilt from its twin).
const std::vector<std::string> kDirectional = {"aan", "aao"};

// A program stopped by bad data after its progress lines: status 1, nothing
// on standard output, and the last line of standard error holds `text`.
void expect_refusal(const RunResult& r, const std::string& text) {
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  const size_t last = r.err.rfind('\n', r.err.size() >= 2 ? r.err.size() - 2 : 0);
  EXPECT_NE(r.err.find(text, last == std::string::npos ? 0 : last), std::string::npos) << r.err;
}

class Experiments : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    std::vector<std::string> names = kNames;
    names.insert(names.end(), kDirectional.begin(), kDirectional.end());
    w_ = make_workspace(dir_->path(), names, {0, 1, 2, 3, 4, 5}, 4, 64, 3);
    write_bank(w_.work + "/filters.dat", test_kernels(8, 7));
    built_ = run({program("build_database"), "--surfaces", "aaa,aab,aaj,aam"}, w_.work);
  }
  static void TearDownTestSuite() { delete dir_; }

  static TempDir* dir_;
  static Workspace w_;
  static RunResult built_;
};

TempDir* Experiments::dir_ = nullptr;
Workspace Experiments::w_;
RunResult Experiments::built_;

}  // namespace

TEST_F(Experiments, BuildDatabaseWritesOneModelPerSurfaceWithProgress) {
  ASSERT_EQ(built_.status, 0) << built_.err;
  EXPECT_EQ(built_.out, "");
  for (const std::string& name : kNames)
    EXPECT_NE(built_.err.find("Building the database: surface " + name + "\n"), std::string::npos);
  EXPECT_EQ(built_.err.find("warning"), std::string::npos) << built_.err;
  std::string db = read_file(w_.work + "/test20.dat");
  EXPECT_EQ(db.substr(0, 6), "4\naaa\n");
  EXPECT_EQ(std::count(db.begin(), db.end(), '\n'), 1 + 4 * (8 + 6));
}

TEST_F(Experiments, ClassifyEverySurfaceCorrectly) {
  ASSERT_EQ(built_.status, 0) << built_.err;
  for (int number = 0; number < 4; number++) {
    RunResult r = run({program("classify_experiment"), std::to_string(number)}, w_.work);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kNames[number] + "&1.00&1.00&0.000 \\ 0.000\\\\\n");
    EXPECT_EQ(r.err, "Doing the surface " + kNames[number] + "\n" + kNames[number] + "1\n" +
                         kNames[number] + "2\n" + kNames[number] + "3\n");
  }
}

TEST_F(Experiments, DirectionOfEveryTestImage) {
  for (const std::string& name : kDirectional) {
    RunResult r = run({program("direction_experiment"), name}, w_.work);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(
        r.out, m,
        std::regex("([a-z]+)&(\\d+)~/~(\\d+)&(\\d\\.\\d{3})~/~(\\d\\.\\d{3})&(\\d\\.\\d{3})~/~"
                   "(\\d\\.\\d{3})\\\\\\\\\n")))
        << r.out;
    EXPECT_EQ(m[1], name);
    // On these small noisy images the fit leaves some room between elevation
    // and magnitude, so not every estimate falls within 15 degrees; the true
    // light is nevertheless among the best fitting of the 21000 samples.
    EXPECT_GE(std::stoi(m[2]), 8) << r.out;
    EXPECT_GE(std::stoi(m[3]), 11) << r.out;
    EXPECT_GE(std::stoi(m[3]), std::stoi(m[2])) << r.out;
    EXPECT_LT(std::stod(m[4]), 0.01) << r.out;
  }
}

TEST_F(Experiments, FastAndPlainProgramsGiveTheSameBytes) {
  ASSERT_EQ(built_.status, 0) << built_.err;
  RunResult plain_db = run(
      {program("build_database_plain"), "--surfaces", "aaa,aab,aaj,aam", "--output", "plain20.dat"},
      w_.work);
  ASSERT_EQ(plain_db.status, 0) << plain_db.err;
  EXPECT_EQ(read_file(w_.work + "/plain20.dat"), read_file(w_.work + "/test20.dat"));
  for (int number = 0; number < 4; number++) {
    RunResult fast = run({program("classify_experiment"), std::to_string(number)}, w_.work);
    RunResult plain = run({program("classify_experiment_plain"), std::to_string(number)}, w_.work);
    EXPECT_EQ(fast.status, 0) << fast.err;
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(fast.out, plain.out);
  }
  for (const char* name : {"aaa", "aan", "aao"}) {
    RunResult fast = run({program("direction_experiment"), name}, w_.work);
    RunResult plain = run({program("direction_experiment_plain"), name}, w_.work);
    EXPECT_EQ(fast.status, 0) << fast.err;
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(fast.out, plain.out);
  }
}

TEST_F(Experiments, UsageErrors) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"1", "2"}, {"x"}, {"-1"}, {"20"}, {"4"}, {"99999999999"}, {"1x"}, {""}}) {
    std::vector<std::string> argv = {program("classify_experiment")};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = run(argv, w_.work);
    EXPECT_EQ(r.status, 2) << args.size();
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Parameter needed:\n       * Morvane surface's number in the database\n"),
              std::string::npos)
        << r.err;
  }
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"aaa", "aab"}, {std::string(30, 'a')}, {"../aaa"}, {".."}, {""}}) {
    std::vector<std::string> argv = {program("direction_experiment")};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = run(argv, w_.work);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Parameter needed:\n       * name of Morvane surface\n");
  }
}

TEST_F(Experiments, DataErrorsLeaveStandardOutputEmpty) {
  RunResult unknown = run({program("direction_experiment"), "zzz"}, w_.work);
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.out, "");
  EXPECT_EQ(unknown.err, "There is no such file: ../../../data/zzz/zzz0/zzz_45_0.pgm\n");
  // Another working directory without the bank and the database.
  std::string other = w_.root + "/run/a/c";
  mkdir(other.c_str(), 0755);
  RunResult no_bank = run({program("classify_experiment"), "0"}, other);
  EXPECT_EQ(no_bank.status, 1);
  EXPECT_EQ(no_bank.out, "");
  EXPECT_NE(no_bank.err.find("No such file \"filters.dat\"\n"), std::string::npos) << no_bank.err;
  write_file(other + "/filters.dat", bank_text(test_kernels(8, 7)));
  write_file(other + "/test20.dat", "4\naaa\nMatrix P\n");
  RunResult bad_db = run({program("classify_experiment"), "0"}, other);
  EXPECT_EQ(bad_db.status, 1);
  EXPECT_EQ(bad_db.out, "");
  EXPECT_NE(bad_db.err.find("test20.dat:"), std::string::npos) << bad_db.err;
}

TEST_F(Experiments, KernelLargerThanTheImagesIsNamedWithBothFiles) {
  std::string other = w_.root + "/run/a/big";
  mkdir(other.c_str(), 0755);
  write_bank(other + "/filters.dat", test_kernels(2, 65));
  write_file(other + "/test20.dat",
             "1\naaa\nMatrix P\n1 0 0 1 0 1\n1 0 0 1 0 1\nVector mu\n0 0\nVector sigma\n1 1\n");
  struct Line {
    std::vector<std::string> argv;
    int set;  // the image set read first
  };
  const std::vector<Line> lines = {
      {{program("classify_experiment"), "0"}, 1},
      {{program("direction_experiment"), "aaa"}, 1},
      {{program("build_database"), "--surfaces", "aaa", "--output", "new.dat"}, 0}};
  for (const Line& line : lines) {
    SCOPED_TRACE(line.argv[0]);
    expect_refusal(run(line.argv, other),
                   "filters.dat: filter 0 \"kernel 0\" of 65x65 is larger than the image "
                   "../../../data/aaa/aaa" +
                       std::to_string(line.set) + "/aaa_45_0.pgm of 64x64");
  }
}

TEST_F(Experiments, BuildDatabaseGivesTheSameBytesWithAnyNumberOfThreads) {
  ASSERT_EQ(built_.status, 0) << built_.err;
  const std::string expected = read_file(w_.work + "/test20.dat");
  for (const char* jobs : {"1", "2", "3", "7"}) {
    RunResult r = run({program("build_database"), "--surfaces", "aaa,aab,aaj,aam", "--jobs", jobs,
                       "--output", "jobs.dat"},
                      w_.work);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(w_.work + "/jobs.dat"), expected) << jobs;
    // Progress lines in surface order, as with one thread.
    std::string lines;
    for (const std::string& name : kNames) lines += "Building the database: surface " + name + "\n";
    EXPECT_NE(r.err.find(lines), std::string::npos) << r.err;
  }
  // A surface that fails in one of several threads fails the build with its
  // own message and writes nothing.
  const std::string image = w_.root + "/data/aaj/aaj0/aaj_45_90.pgm";
  const std::string whole = read_file(image);
  write_file(image, whole.substr(0, whole.size() / 2));
  RunResult r = run({program("build_database"), "--surfaces", "aaa,aab,aaj,aam", "--jobs", "3",
                     "--output", "broken.dat"},
                    w_.work);
  write_file(image, whole);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("aaj_45_90.pgm"), std::string::npos) << r.err;
  EXPECT_FALSE(std::ifstream(w_.work + "/broken.dat").good());
  EXPECT_EQ(run({program("build_database"), "--jobs", "0"}, w_.work).status, 2);
}

TEST_F(Experiments, FailedBuildLeavesTheOldDatabase) {
  ASSERT_EQ(built_.status, 0) << built_.err;
  std::string before = read_file(w_.work + "/test20.dat");
  RunResult r = run({program("build_database"), "--surfaces", "aaa,nothere"}, w_.work);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("There is no such file: ../../../data/nothere/"), std::string::npos)
      << r.err;
  EXPECT_EQ(read_file(w_.work + "/test20.dat"), before);
  RunResult bad = run({program("build_database"), "--set", "x"}, w_.work);
  EXPECT_EQ(bad.status, 2);
  RunResult help = run({program("build_database"), "--help"}, w_.work);
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: build_database"), std::string::npos);
}

TEST_F(Experiments, ExportedNormalsReadBackAndPictureTheSurface) {
  RunResult r = run({program("export_normals"), "aab"}, w_.work);
  ASSERT_EQ(r.status, 0) << r.err;
  RunResult back = run({program("probe"), "normals", w_.work + "/aab_normals.txt"});
  EXPECT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(back.out, "64 64\n");
  std::string map = read_file(w_.work + "/aab_normals.ppm");
  EXPECT_EQ(map.substr(0, 13), "P6\n64 64\n255\n");
  EXPECT_EQ(map.size(), 13u + 64 * 64 * 3);
  std::string albedo = read_file(w_.work + "/aab_albedo.pgm");
  EXPECT_EQ(albedo.substr(0, 13), "P5\n64 64\n255\n");
  EXPECT_EQ(albedo.size(), 13u + 64 * 64);
  RunResult none = run({program("export_normals")}, w_.work);
  EXPECT_EQ(none.status, 2);
}

TEST(build_database, ZeroSpreadIsRefusedByEveryProgram) {
  // A flat, evenly lit surface: the model is exact, sigma is 0 and every
  // distance to the model would be infinite or not a number.
  TempDir dir;
  Workspace w{dir.path(), dir.path() + "/run/a/b"};
  make_dirs(w.work);
  for (int set : {0, 1}) {
    const std::string folder = "data/flat/flat" + std::to_string(set);
    make_dirs(dir / folder);
    for (int tilt = 0; tilt < 360; tilt += 30)
      write_pgm(dir / (folder + "/flat_45_" + std::to_string(tilt) + ".pgm"), 16, 16,
                std::vector<unsigned char>(256, 100));
  }
  write_bank(w.work + "/filters.dat", test_kernels(2, 3));
  write_file(w.work + "/test20.dat", "old\n");
  RunResult refused = run({program("build_database"), "--surfaces", "flat"}, w.work);
  expect_refusal(refused,
                 "test20.dat: the database was not written: surface flat, filter 0 (kernel 0): "
                 "sigma 0 is written as 0.000000, so every distance to the model would be "
                 "infinite or not a number (2 such spreads in all; --allow-zero-sigma writes it "
                 "anyway)");
  EXPECT_EQ(read_file(w.work + "/test20.dat"), "old\n");

  RunResult r =
      run({program("build_database"), "--surfaces", "flat", "--allow-zero-sigma"}, w.work);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(
      r.err.find("warning: surface flat, filter 0 (kernel 0): sigma 0 is written as 0.000000"),
      std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("warning: surface flat, filter 1 (kernel 1)"), std::string::npos);
  EXPECT_EQ(read_file(w.work + "/test20.dat").substr(0, 7), "1\nflat\n");

  // Neither experiment prints a row from such a model.
  expect_refusal(run({program("classify_experiment"), "0"}, w.work),
                 "test20.dat:9: model flat, filter 0 \"kernel 0\": sigma is 0");
  expect_refusal(run({program("direction_experiment"), "flat"}, w.work),
                 "../../../data/flat/flat0: surface flat, filter 0 \"kernel 0\": sigma is 0, so "
                 "every distance to the model would be infinite or not a number");
}
