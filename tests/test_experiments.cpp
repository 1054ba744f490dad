// The two experiment programs and the database builder, run as a user runs
// them in a small workspace of noisy renders of four clearly different
// surfaces.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

#include "csv.h"
#include "manifest.h"
#include "statistics.h"
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
  // The experiment's names, for scripts, in class order.
  RunResult names = run({program("build_database"), "--list-surfaces"}, w_.work);
  EXPECT_EQ(names.status, 0);
  EXPECT_EQ(names.out.substr(0, 8), "aaa\naab\n");
  EXPECT_EQ(std::count(names.out.begin(), names.out.end(), '\n'), 20);
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
                 "anyway, for inspection: classify_images and classify_experiment refuse to read "
                 "such a database)");
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

namespace {

// The fields of each line of a CSV text without quoted fields.
std::vector<std::vector<std::string>> csv_lines(const std::string& text) {
  std::vector<std::vector<std::string>> lines;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::stringstream parts(line);
    for (std::string field; std::getline(parts, field, ',');) fields.push_back(field);
    if (!line.empty() && line.back() == ',') fields.push_back("");
    lines.push_back(fields);
  }
  return lines;
}

// "<mean><separator><sd>" of the values as the experiment programs print it.
std::string mean_sd(const std::vector<double>& values, const char* format) {
  VEC* v = v_get(static_cast<unsigned>(values.size()));
  for (size_t k = 0; k < values.size(); k++) v->ve[k] = values[k];
  double mean, sd;
  statistics(v, &mean, &sd);
  v_free(v);
  char text[64];
  std::snprintf(text, sizeof text, format, mean, sd);
  return text;
}

// The manifest of the fixture's workspace, lights as slant and tilt or as
// the vectors they make.
std::string workspace_manifest(const std::vector<std::string>& names, bool vectors) {
  std::string text = vectors ? "surface,set,image,x,y,z\n" : "surface,set,image,slant,tilt\n";
  for (const std::string& name : names)
    for (int q = 0; q < 4; q++)
      for (int tilt = 0; tilt < 360; tilt += 30) {
        text += name + "," + std::to_string(q) + ",data/" + name + "/" + name + std::to_string(q) +
                "/" + name + "_45_" + std::to_string(tilt) + ".pgm,";
        if (vectors) {
          double L[3];
          light_of_angles(45, tilt, L);
          char xyz[128];
          std::snprintf(xyz, sizeof xyz, "%.17g,%.17g,%.17g\n", L[0], L[1], L[2]);
          text += xyz;
        } else {
          text += "45," + std::to_string(tilt) + "\n";
        }
      }
  return text;
}

}  // namespace

TEST_F(Experiments, PerImageResultsAggregateToTheProgramsRows) {
  ASSERT_EQ(built_.status, 0) << built_.err;
  std::vector<std::string> names = kNames;
  names.insert(names.end(), kDirectional.begin(), kDirectional.end());
  write_file(w_.root + "/manifest.csv", workspace_manifest(names, false));
  write_file(w_.root + "/vectors.csv", workspace_manifest(names, true));
  const std::string manifest = w_.root + "/manifest.csv", vectors = w_.root + "/vectors.csv";

  // The models of the manifest are those of the classic build, byte for
  // byte, with the lights given either way.
  for (const std::string& m : {manifest, vectors}) {
    RunResult db = run({program("build_database"), "--manifest", m, "--output", "m.dat"}, w_.work);
    ASSERT_EQ(db.status, 0) << db.err;
    const std::string classic = read_file(w_.work + "/test20.dat");
    const std::string mine = read_file(w_.work + "/m.dat");
    EXPECT_EQ(mine.substr(0, 2), "6\n");
    EXPECT_EQ(mine.substr(2, classic.size() - 2), classic.substr(2));
  }

  auto classify = [&](const std::string& m, const std::string& jobs) {
    return run({program("classify_images"), "--manifest", m, "--database", "test20.dat", "--sets",
                "1,2,3", "--jobs", jobs},
               w_.work);
  };
  auto estimate = [&](const std::string& m, const std::string& jobs) {
    return run({program("estimate_light"), "--manifest=" + m, "--model-set", "0", "--test-set=1",
                "--jobs", jobs},
               w_.work);
  };
  const RunResult classified = classify(manifest, "1"), estimated = estimate(manifest, "1");
  ASSERT_EQ(classified.status, 0) << classified.err;
  ASSERT_EQ(estimated.status, 0) << estimated.err;
  // The same bytes on any number of threads.
  EXPECT_EQ(classify(manifest, "3").out, classified.out);
  EXPECT_EQ(estimate(manifest, "3").out, estimated.out);

  // The programs' rows, for the rows summarize_results makes of the per-image results.
  std::string classification_rows, direction_rows;
  const auto rows = csv_lines(classified.out);
  ASSERT_EQ(rows.size(), 1 + names.size() * 36);
  EXPECT_EQ(classified.out.substr(0, classified.out.find('\n')),
            "surface,set,image,predicted,nearer,ratio");
  for (size_t n = 0; n < names.size(); n++) {
    int correct = 0, top3 = 0;
    std::vector<double> ratios;
    for (size_t k = 1 + 36 * n; k < 1 + 36 * (n + 1); k++) {
      ASSERT_EQ(rows[k].size(), 6u);
      EXPECT_EQ(rows[k][0], names[n]);
      if (n >= kNames.size()) {  // not in the database: classified, but no measures
        EXPECT_EQ(rows[k][4] + rows[k][5], "");
        continue;
      }
      correct += rows[k][3] == names[n];
      top3 += std::stoi(rows[k][4]) <= 2;
      ratios.push_back(std::strtod(rows[k][5].c_str(), nullptr));
    }
    if (n >= kNames.size()) continue;
    char row[128];
    std::snprintf(row, sizeof row, "%s&%.2lf&%.2lf&", names[n].c_str(), correct / 36.0,
                  top3 / 36.0);
    RunResult program_row = run({program("classify_experiment"), std::to_string(n)}, w_.work);
    EXPECT_EQ(row + mean_sd(ratios, "%0.3lf \\ %0.3lf\\\\\n"), program_row.out);
    classification_rows += program_row.out;
  }

  const auto lights = csv_lines(estimated.out);
  ASSERT_EQ(lights.size(), 1 + names.size() * 12);
  for (size_t n = 0; n < names.size(); n++) {
    int hits = 0, with_twin = 0;
    std::vector<double> better, ratios;
    for (size_t k = 1 + 12 * n; k < 1 + 12 * (n + 1); k++) {
      ASSERT_EQ(lights[k].size(), 14u);
      EXPECT_EQ(lights[k][3], "45");
      const double error = std::stod(lights[k][10]), twin = std::stod(lights[k][11]);
      hits += error < 15.0;
      with_twin += error < 15.0 || twin < 15.0;
      better.push_back(std::strtod(lights[k][12].c_str(), nullptr));
      ratios.push_back(std::strtod(lights[k][13].c_str(), nullptr));
    }
    const std::string row = names[n] + "&" + std::to_string(hits) + "~/~" +
                            std::to_string(with_twin) + "&" + mean_sd(better, "%.3lf~/~%.3lf") +
                            "&" + mean_sd(ratios, "%.3lf~/~%.3lf") + "\\\\\n";
    const std::string program_row = run({program("direction_experiment"), names[n]}, w_.work).out;
    EXPECT_EQ(row, program_row);
    direction_rows += program_row;
  }

  // summarize_results gives the programs' rows byte for byte, those of the
  // surfaces with a model only (the last two are labelled).
  write_file(w_.root + "/classes.csv", classified.out);
  write_file(w_.root + "/lights.csv", estimated.out);
  const RunResult summarized_classes = run(
      {program("summarize_results"), "rows", "--kind", "classification", w_.root + "/classes.csv"});
  const RunResult summarized_lights =
      run({program("summarize_results"), "rows", "--kind", "direction", w_.root + "/lights.csv"});
  EXPECT_EQ(summarized_classes.status, 0) << summarized_classes.err;
  EXPECT_EQ(summarized_classes.out, classification_rows);
  EXPECT_EQ(summarized_lights.status, 0) << summarized_lights.err;
  EXPECT_EQ(summarized_lights.out, direction_rows);

  // Lights given as the vectors the angles make: the same results in every
  // column but the true slant and tilt, which are computed from the vector.
  auto without_angles = [](const std::string& text) {
    std::string out;
    for (const auto& fields : csv_lines(text)) {
      for (size_t c = 0; c < fields.size(); c++)
        if (c != 3 && c != 4) out += fields[c] + ",";
      out += "\n";
    }
    return out;
  };
  EXPECT_EQ(classify(vectors, "2").out, classified.out);
  const RunResult from_vectors = estimate(vectors, "2");
  EXPECT_EQ(without_angles(from_vectors.out), without_angles(estimated.out));
  const auto vector_lights = csv_lines(from_vectors.out);
  ASSERT_EQ(vector_lights.size(), lights.size());
  for (size_t k = 1; k < lights.size(); k++) {
    EXPECT_NEAR(std::stod(vector_lights[k][3]), 45, 1e-12);
    EXPECT_NEAR(std::stod(vector_lights[k][4]), std::stod(lights[k][4]), 1e-12);
  }
}

TEST(ManifestCommands, OtherNamesCountsAndLights) {
  // Three surfaces with names of their own, eight lights at slant 50, in a
  // manifest whose first line is of the last surface's test set; one
  // surface is in the database under another name.
  TempDir dir;
  make_dirs(dir / "photos");
  write_bank(dir / "filters.dat", test_kernels(8, 7));
  const std::vector<std::string> names = {"Z-3", "brick wall", "gravel, \"fine\""};
  const std::vector<int> classes = {2, 4, 5};
  std::string manifest = "image,tilt,slant,set,surface\n";
  for (int q : {1, 0})
    for (size_t n = 0; n < names.size(); n++)
      for (int tilt = 0; tilt < 360; tilt += 45) {
        const std::string file = "photos/" + std::to_string(n) + "_" + std::to_string(q) + "_" +
                                 std::to_string(tilt) + ".pgm";
        write_pgm(dir / file, 48, 48,
                  render(test_surface(classes[n], 10 * q + 3), 48, 50, tilt, 2, tilt + q));
        manifest += file + "," + std::to_string(tilt) + ",50," + std::to_string(q) + "," +
                    csv_field(names[n]) + "\n";
      }
  write_file(dir / "m.csv", manifest);

  RunResult db = run({program("build_database"), "--manifest", "m.csv", "--set", "0"}, dir.path());
  ASSERT_EQ(db.status, 0) << db.err;
  const std::string models = read_file(dir / "test20.dat");
  EXPECT_EQ(models.substr(0, models.find("Matrix")), "3\nZ-3\n");
  EXPECT_NE(models.find("\nbrick wall\n"), std::string::npos);

  RunResult classified = run({program("classify_images"), "--manifest", "m.csv", "--database",
                              "test20.dat", "--sets", "1", "--output", "classes.csv"},
                             dir.path());
  ASSERT_EQ(classified.status, 0) << classified.err;
  EXPECT_EQ(classified.out, "");
  const std::string classes_csv = read_file(dir / "classes.csv");
  EXPECT_EQ(std::count(classes_csv.begin(), classes_csv.end(), '\n'), 1 + 24);
  EXPECT_NE(classes_csv.find("\n\"gravel, \"\"fine\"\"\",1,photos/2_1_45.pgm,\"gravel, "
                             "\"\"fine\"\"\",0,0\n"),
            std::string::npos)
      << classes_csv;
  for (size_t n = 0; n < names.size(); n++)
    for (int tilt = 0; tilt < 360; tilt += 45) {
      const std::string name = csv_field(names[n]);
      EXPECT_NE(classes_csv.find(name + ",1,photos/" + std::to_string(n) + "_1_" +
                                 std::to_string(tilt) + ".pgm," + name + ",0,"),
                std::string::npos)
          << names[n] << " " << tilt;
    }

  RunResult estimated =
      run({program("estimate_light"), "--manifest", "m.csv", "--model-set", "0", "--test-set", "1"},
          dir.path());
  ASSERT_EQ(estimated.status, 0) << estimated.err;
  std::stringstream lines(estimated.out);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line,
            "surface,set,image,slant,tilt,est_x,est_y,est_z,est_slant,est_tilt,error,twin_error,"
            "better_share,ratio");
  int rows = 0, near = 0;
  while (std::getline(lines, line)) {
    ++rows;
    const size_t image = line.find("photos/");
    ASSERT_NE(image, std::string::npos) << line;
    std::vector<double> v;
    std::stringstream fields(line.substr(line.find(',', image) + 1));
    for (std::string f; std::getline(fields, f, ',');) v.push_back(std::stod(f));
    ASSERT_EQ(v.size(), 11u) << line;
    EXPECT_EQ(v[0], 50);
    EXPECT_EQ(std::fmod(v[1], 45), 0);
    near += v[7] < 20 || v[8] < 20;
  }
  EXPECT_EQ(rows, 24);
  EXPECT_GE(near, 18) << estimated.out;

  // A space of the eight lights at slant 50 alone: every estimate is one of
  // them, and the share of better ones a multiple of 1/8.
  RunResult eight = run({program("estimate_light"), "--manifest", "m.csv", "--model-set", "0",
                         "--test-set", "1", "--space", "8,40,41,1,1,2,1"},
                        dir.path());
  ASSERT_EQ(eight.status, 0) << eight.err;
  std::stringstream estimates(eight.out);
  std::getline(estimates, line);
  while (std::getline(estimates, line)) {
    std::stringstream fields(line.substr(line.find(',', line.find("photos/")) + 1));
    std::vector<double> v;
    for (std::string f; std::getline(fields, f, ',');) v.push_back(std::stod(f));
    ASSERT_EQ(v.size(), 11u) << line;
    EXPECT_NEAR(v[5], 50, 1e-9) << line;
    EXPECT_NEAR(std::remainder(v[6], 45), 0, 1e-9) << line;
    EXPECT_EQ(v[9] * 8, std::round(v[9] * 8)) << line;
  }
}

TEST(Manifest, LastRecordNeedsNoLineBreak) {
  // The last image is kept when its line ends with no line break, after
  // lines ending with LF or CR LF, with a number or a quoted name last.
  TempDir dir;
  for (const std::string eol : {"\n", "\r\n"})
    for (bool image_last : {false, true}) {
      SCOPED_TRACE((eol == "\n" ? "LF, " : "CR LF, ") +
                   std::string(image_last ? "image last" : "tilt last"));
      const std::string text = image_last ? "surface,set,slant,tilt,image" + eol +
                                                "s,0,45,0,a.pgm" + eol + "s,1,30,90,\"b, c.pgm\""
                                          : "surface,set,image,slant,tilt" + eol +
                                                "s,0,a.pgm,45,0" + eol + "s,1,\"b, c.pgm\",30,90";
      write_file(dir / "m.csv", text);
      const Manifest m(dir / "m.csv");
      EXPECT_EQ(m.images.size(), 2u);
      if (m.images.size() != 2) continue;
      const ManifestImage& last = m.images[1];
      EXPECT_EQ(last.set, 1u);
      EXPECT_EQ(last.image, "b, c.pgm");
      EXPECT_EQ(last.slant, 30);
      EXPECT_EQ(last.tilt, 90);
      EXPECT_EQ(last.line, 3);
    }
}

TEST(Manifest, LightVectorsInEveryQuadrantGiveTheirSlantAndTilt) {
  // Light vectors made here from known angles, of lengths other than 1, in
  // each quadrant of the image plane and on its axes: the slant
  // atan2(hypot(x, y), z) and the tilt atan2(y, x), taken into [0, 360),
  // come back in degrees, and the vector is kept as given.
  const double pi = std::acos(-1.0);
  const struct {
    double slant, tilt, length;
  } lights[] = {{20, 30, 2.5}, {30, 120, 1}, {50, 210, 0.4}, {80, 300, 1.7}, {45, 0, 1},
                {60, 90, 3},   {10, 180, 1}, {35, 270, 0.9}, {0, 0, 2}};
  std::string text = "surface,set,image,x,y,z\n";
  std::vector<std::vector<double>> vectors;
  for (const auto& l : lights) {
    const double s = l.slant * pi / 180, t = l.tilt * pi / 180;
    vectors.push_back({l.length * std::cos(t) * std::sin(s), l.length * std::sin(t) * std::sin(s),
                       l.length * std::cos(s)});
    char line[160];
    std::snprintf(line, sizeof line, "s,0,%zu.pgm,%.17g,%.17g,%.17g\n", vectors.size(),
                  vectors.back()[0], vectors.back()[1], vectors.back()[2]);
    text += line;
  }
  TempDir dir;
  write_file(dir / "m.csv", text);
  const Manifest m(dir / "m.csv");
  EXPECT_FALSE(m.angles);
  ASSERT_EQ(m.images.size(), vectors.size());
  for (size_t k = 0; k < vectors.size(); k++) {
    SCOPED_TRACE("slant " + csv_number(lights[k].slant) + ", tilt " + csv_number(lights[k].tilt));
    EXPECT_NEAR(m.images[k].slant, lights[k].slant, 1e-12);
    EXPECT_NEAR(m.images[k].tilt, lights[k].tilt, 1e-12);
    for (int c = 0; c < 3; c++) EXPECT_EQ(m.images[k].light[c], vectors[k][c]);
  }
}

namespace {

// Fields of CSV text, record by record.
std::vector<std::vector<std::string>> csv_records(const std::string& text) {
  std::vector<std::vector<std::string>> records;
  FILE* f = fmemopen(const_cast<char*>(text.data()), text.size() + (text.empty() ? 1 : 0), "rb");
  CsvReader reader(f, "text");
  for (std::vector<std::string> fields; reader.next(fields);) records.push_back(fields);
  std::fclose(f);
  return records;
}

// Column `c` of every record but the header.
std::vector<std::string> column(const std::string& text, size_t c) {
  std::vector<std::string> values;
  const auto records = csv_records(text);
  for (size_t k = 1; k < records.size(); k++) values.push_back(records[k].at(c));
  return values;
}

// The text without column `c`.
std::string without_column(const std::string& text, size_t c) {
  std::string out;
  for (auto fields : csv_records(text)) {
    fields.erase(fields.begin() + static_cast<long>(c));
    append_csv_record(out, fields);
  }
  return out;
}

}  // namespace

TEST_F(Experiments, MasksFramesAndBanksOfTheManifestCommands) {
  // Two sets of three surfaces, lights as vectors, and variants of that
  // manifest: a mask of all ones, a mask without a border of b pixels, the
  // images cropped by b instead, and y pointing up the picture.
  const std::string root = w_.root;
  const int b = 4;
  std::vector<unsigned char> ones(64 * 64, 255), border(64 * 64, 0);
  for (int i = b; i < 64 - b; i++)
    for (int j = b; j < 64 - b; j++) border[i * 64 + j] = 1;
  write_pgm(root + "/ones.pgm", 64, 64, ones);
  write_pgm(root + "/border.pgm", 64, 64, border);
  make_dirs(root + "/cropped");
  std::string plain, all_ones, masked, cropped, up;
  int row = 0;
  for (const auto& fields : csv_records(workspace_manifest({"aaa", "aan", "aao"}, true))) {
    const bool header = row++ == 0;
    if (!header && std::stoi(fields[1]) > 1) continue;
    auto with = [&](std::string& out, const std::string& mask) {
      auto f = fields;
      f.push_back(header ? "mask" : mask);
      append_csv_record(out, f);
    };
    append_csv_record(plain, fields);
    with(all_ones, "ones.pgm");
    with(masked, "border.pgm");
    auto f = fields;
    if (!header) {
      const GreyImage image = read_grey_image(root + "/" + f[2]);
      std::vector<unsigned char> inner;
      for (int i = b; i < 64 - b; i++)
        for (int j = b; j < 64 - b; j++)
          inner.push_back(static_cast<unsigned char>(image.pixels[i * 64 + j]));
      f[2] = "cropped/" + std::to_string(row) + ".pgm";
      write_pgm(root + "/" + f[2], 64 - 2 * b, 64 - 2 * b, inner);
    }
    append_csv_record(cropped, f);
    f = fields;
    if (!header) f[4] = csv_number(0.0 - std::stod(f[4]));
    append_csv_record(up, f);
  }
  for (const auto& m : std::vector<std::pair<std::string, std::string>>{{"plain", plain},
                                                                        {"ones", all_ones},
                                                                        {"masked", masked},
                                                                        {"cropped", cropped},
                                                                        {"up", up}})
    write_file(root + "/" + m.first + ".csv", m.second);

  struct Outputs {
    std::string database, classes, lights;
  };
  auto outputs = [&](const std::string& manifest, std::vector<std::string> extra,
                     const std::string& builder = "build_database") {
    const std::string m = root + "/" + manifest + ".csv", db = manifest + ".dat";
    std::vector<std::string> build = {program(builder), "--manifest", m, "--output", db};
    std::vector<std::string> classify = {
        program("classify_images"), "--manifest", m, "--database", db, "--sets", "1"};
    std::vector<std::string> estimate = {
        program("estimate_light"), "--manifest", m, "--model-set", "0", "--test-set", "1"};
    for (auto* argv : {&build, &classify, &estimate})
      argv->insert(argv->end(), extra.begin(), extra.end());
    const RunResult built = run(build, w_.work);
    EXPECT_EQ(built.status, 0) << built.err;
    const RunResult classes = run(classify, w_.work), lights = run(estimate, w_.work);
    EXPECT_EQ(classes.status, 0) << classes.err;
    EXPECT_EQ(lights.status, 0) << lights.err;
    return Outputs{read_file(w_.work + "/" + db), classes.out, lights.out};
  };
  const Outputs base = outputs("plain", {});
  ASSERT_FALSE(base.lights.empty());

  // A mask of all ones changes no byte.
  const Outputs ones_out = outputs("ones", {});
  EXPECT_EQ(ones_out.database, base.database);
  EXPECT_EQ(ones_out.classes, base.classes);
  EXPECT_EQ(ones_out.lights, base.lights);

  // A mask without a border of b pixels counts what the images cropped by b
  // hold: the same models and results (the image column aside), from the
  // fast and the plain kernels alike.
  const Outputs inner = outputs("masked", {}), crop = outputs("cropped", {});
  EXPECT_NE(inner.database, base.database);
  EXPECT_EQ(inner.database, crop.database);
  EXPECT_EQ(without_column(inner.classes, 2), without_column(crop.classes, 2));
  EXPECT_EQ(without_column(inner.lights, 2), without_column(crop.lights, 2));
  EXPECT_EQ(outputs("masked", {}, "build_database_plain").database, inner.database);

  // y up: the same models and measures; lights written back in that frame.
  const Outputs upward = outputs("up", {"--y-up"});
  EXPECT_EQ(upward.database, base.database);
  EXPECT_EQ(upward.classes, base.classes);
  for (size_t c : {0, 1, 2, 3, 5, 7, 8, 10, 11, 12, 13})
    EXPECT_EQ(column(upward.lights, c), column(base.lights, c)) << "column " << c;
  const auto y = column(base.lights, 6), y_up = column(upward.lights, 6);
  const auto tilt = column(base.lights, 4), tilt_up = column(upward.lights, 4);
  const auto est = column(base.lights, 9), est_up = column(upward.lights, 9);
  ASSERT_EQ(y.size(), y_up.size());
  for (size_t k = 0; k < y.size(); k++) {
    EXPECT_EQ(std::stod(y_up[k]), 0.0 - std::stod(y[k]));
    EXPECT_NEAR(std::remainder(std::stod(tilt_up[k]) + std::stod(tilt[k]), 360.0), 0, 1e-9);
    EXPECT_NEAR(std::remainder(std::stod(est_up[k]) + std::stod(est[k]), 360.0), 0, 1e-9);
  }

  // --bank default: the kernels of the file generate_filters writes.
  ASSERT_EQ(run({program("generate_filters"), "--output", "default.dat"}, w_.work).status, 0);
  const Outputs named = outputs("plain", {"--bank", "default"});
  const Outputs file = outputs("plain", {"--filters", "default.dat"});
  EXPECT_EQ(named.database, file.database);
  EXPECT_EQ(named.classes, file.classes);
  EXPECT_EQ(named.lights, file.lights);
  EXPECT_NE(named.database, base.database);
}

TEST_F(Experiments, SpaceAutoSamplesTheSlantsOfTheManifestsLights) {
  // Lights at slants 6 to 39 (as a real rig's), or all at 45 but one at 10.
  std::string low = "surface,set,image,slant,tilt\n", one = low;
  int k = 0;
  for (int q = 0; q < 2; q++)
    for (int tilt = 0; tilt < 360; tilt += 30, k++) {
      const std::string image =
          "data/aan/aan" + std::to_string(q) + "/aan_45_" + std::to_string(tilt) + ".pgm,";
      low += "aan," + std::to_string(q) + "," + image + std::to_string(6 + 3 * (k % 12)) + "," +
             std::to_string(tilt) + "\n";
      one += "aan," + std::to_string(q) + "," + image + (k == 15 ? "10," : "45,") +
             std::to_string(tilt) + "\n";
    }
  write_file(w_.root + "/low.csv", low);
  write_file(w_.root + "/one.csv", one);
  write_file(w_.root + "/plain.csv", workspace_manifest({"aan"}, false));
  auto estimate = [&](const std::string& manifest, const std::string& space) {
    std::vector<std::string> argv = {program("estimate_light"),
                                     "--manifest",
                                     w_.root + "/" + manifest,
                                     "--model-set",
                                     "0",
                                     "--test-set",
                                     "1"};
    if (!space.empty()) argv.insert(argv.end(), {"--space", space});
    const RunResult r = run(argv, w_.work);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.err;
  };
  const std::string warning = "estimate_light: warning: ";
  // The shipped layout's lights lie within the default space.
  EXPECT_EQ(estimate("plain.csv", "").find(warning), std::string::npos);
  // Slants 6, 9, ..., 39 in each set: 6 to 24, 14 of the 24 lights, lie
  // outside the default's 26 to 60; auto samples slants 1 to 44 and covers
  // them all.
  EXPECT_NE(estimate("low.csv", "")
                .find(warning + "14 of the 24 lights lie outside the slants the light "
                                "space samples, 26 to 60 degrees (--space "
                                "120,30,65,35,0.8,1.3,5); --space auto"),
            std::string::npos);
  const std::string automatic = estimate("low.csv", "auto");
  EXPECT_EQ(automatic.find(warning), std::string::npos) << automatic;
  EXPECT_NE(automatic.find("space 120,46,89,43,0.8,1.3,5, 25800 light vectors"), std::string::npos)
      << automatic;
  // One light at slant 10 is enough.
  EXPECT_NE(estimate("one.csv", "").find(warning + "1 of the 24 lights lies outside"),
            std::string::npos);
}

TEST(ManifestCommands, JpegImagesGetOneNotePerRun) {
  // JPEG files are almost always sRGB-encoded: a run that reads them
  // without --srgb says so once on standard error, however many it reads
  // and in however many threads, and a run with --srgb does not.
  TempDir dir;
  const HeightField h = test_surface(2, 1);
  std::string manifest = "surface,set,image,slant,tilt\n";
  for (int set : {0, 1})
    for (int tilt : {0, 90, 180, 270}) {
      const std::string name =
          std::to_string(set) + "_" + std::to_string(tilt) + (set ? ".jpg" : ".pgm");
      const std::vector<unsigned char> picture = render(h, 16, 45, tilt, 2, set);
      if (set)
        write_jpeg(dir / name, 16, 1, false, picture);
      else
        write_pgm(dir / name, 16, 16, picture);
      manifest += "s," + std::to_string(set) + "," + name + ",45," + std::to_string(tilt) + "\n";
    }
  write_file(dir / "m.csv", manifest);
  write_bank(dir / "filters.dat", test_kernels(2, 3));
  RunResult db = run({program("build_database"), "--manifest", "m.csv", "--set", "0"}, dir.path());
  ASSERT_EQ(db.status, 0) << db.err;
  EXPECT_EQ(db.err.find("note:"), std::string::npos) << db.err;
  for (bool srgb : {false, true}) {
    std::vector<std::string> argv = {program("classify_images"),
                                     "--manifest",
                                     "m.csv",
                                     "--database",
                                     "test20.dat",
                                     "--sets",
                                     "1",
                                     "--jobs",
                                     "2"};
    if (srgb) argv.push_back("--srgb");
    const RunResult r = run(argv, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    size_t notes = 0;
    for (size_t at = r.err.find("classify_images: note: "); at != std::string::npos;
         at = r.err.find("classify_images: note: ", at + 1))
      ++notes;
    EXPECT_EQ(notes, srgb ? 0u : 1u) << r.err;
    if (!srgb) {
      EXPECT_NE(r.err.find(".jpg\" is a JPEG file, whose 8-bit values are almost always "
                           "sRGB-encoded; --srgb undoes that curve (see docs/own_data.md)\n"),
                std::string::npos)
          << r.err;
    }
  }
}
