// Bad inputs as a user meets them: every reader and every command line is
// given broken data in a child process, which must end with one clear line
// on standard error naming the file, a failure status, nothing on standard
// output and no signal. The table of cases is printed with the outcomes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

enum Form { kFile, kMissing, kFolder };

struct Case {
  std::string reader;     // pgm, filters, normals, database
  std::string what;       // the kind of damage
  std::string content;    // the file
  Form form = kFile;      // or no file at all, or a folder in its place
  std::string says = "";  // what the message must say, besides the file name
};

std::string garbage(size_t n, unsigned seed) {
  std::string s(n, '\0');
  unsigned x = seed;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return s;
}

const char kBank[] =
    "Number of filters: 2\nSize: 3\na\n1 2 3\n4 5 6\n7 8 9\nb\n1 0 -1\n2 0 -2\n1 0 -1\n";

std::string model(const std::string& name) {
  return name + "\nMatrix P\n1 2 3 4 5 6\n1 2 3 4 5 6\nVector mu\n0 0\nVector sigma\n1 1\n";
}

std::vector<Case> cases() {
  const std::string raster(6, '\x05');
  const std::string huge_line(3 << 20, '7');  // longer than any line a reader takes
  return {
      {"pgm", "missing file", "", kMissing},
      {"pgm", "a folder", "", kFolder, "cannot read the file (Is a directory)"},
      {"pgm", "empty file", ""},
      {"pgm", "truncated header", "P5\n3"},
      {"pgm", "truncated raster", "P5\n3 2\n255\n\x01\x02"},
      {"pgm", "wrong magic", "P6\n3 2\n255\n" + raster},
      {"pgm", "size zero", "P5\n0 0\n255\n"},
      {"pgm", "size negative", "P5\n-3 2\n255\n" + raster},
      {"pgm", "size huge", "P5\n2147483647 2147483647\n255\n" + raster},
      {"pgm", "size not a number", "P5\nthree two\n255\n" + raster},
      {"pgm", "maximum value not a number", "P5\n3 2\nmax\n" + raster},
      {"pgm", "maximum value with a NUL byte",
       "P5\n3 2\n255" + std::string(1, '\0') + "junk\n" + raster},
      {"pgm", "endless comment line", "P5\n#" + huge_line + "\n3 2\n255\n" + raster},
      {"pgm", "binary garbage", garbage(5000, 1)},
      {"filters", "missing file", "", kMissing},
      {"filters", "a folder", "", kFolder, "cannot read the file (Is a directory)"},
      {"filters", "empty file", ""},
      {"filters", "truncated", std::string(kBank).substr(0, 40)},
      {"filters", "count zero", "Number of filters: 0\nSize: 3\n"},
      {"filters", "count negative", "Number of filters: -2\nSize: 3\n"},
      {"filters", "count huge", "Number of filters: 4000000000\nSize: 3\n"},
      {"filters", "size huge", "Number of filters: 1\nSize: 2147483647\nk\n1\n"},
      {"filters", "number not a number", "F: 1\nM: 2\nk\n1 x\n3 4\n"},
      {"filters", "number not finite", "F: 1\nM: 2\nk\n1 inf\n3 4\n"},
      {"filters", "endless line", "F: 1\nM: 2\nk\n" + huge_line + "\n"},
      {"filters", "binary garbage", garbage(5000, 2)},
      {"normals", "missing file", "", kMissing},
      {"normals", "a folder", "", kFolder, "cannot read the file (Is a directory)"},
      {"normals", "empty file", ""},
      {"normals", "truncated", "2 2\n1\n2\n3\n"},
      {"normals", "sizes zero", "0 0\n"},
      {"normals", "sizes negative", "-1 4\n1\n"},
      {"normals", "sizes huge", "100000 100000\n1\n"},
      {"normals", "value not a number", "1 1\n1\nnope\n3\n"},
      {"normals", "endless line", "1 1\n" + huge_line + "\n"},
      {"normals", "binary garbage", garbage(5000, 3)},
      {"database", "missing file", "", kMissing},
      {"database", "a folder", "", kFolder, "cannot read the file (Is a directory)"},
      {"database", "empty file", ""},
      {"database", "truncated", "1\n" + model("aaa").substr(0, 30)},
      {"database", "count not a number", "many\n" + model("aaa")},
      {"database", "count negative", "-1\n" + model("aaa")},
      {"database", "count huge", "2147483647\n" + model("aaa")},
      {"database", "fewer models than the count", "3\n" + model("aaa") + model("aab")},
      {"database", "number not a number", "1\naaa\nMatrix P\n1 2 3 x 5 6\n"},
      {"database", "name a number", "1\n" + model("5aa")},
      {"database", "endless line", "1\naaa\nMatrix P\n" + huge_line + "\n"},
      {"database", "binary garbage", garbage(5000, 4)},
  };
}

}  // namespace

TEST(BadInputs, EveryReaderGivesOneClearLine) {
  TempDir dir;
  write_file(dir / "bank.dat", kBank);
  std::string table = "\n| reader | input | status | message |\n|---|---|---|---|\n";
  for (const Case& c : cases()) {
    const std::string file = dir / ("input." + c.reader);
    std::remove(file.c_str());
    if (c.form == kFile) write_file(file, c.content);
    if (c.form == kFolder) make_dirs(file);
    std::vector<std::string> argv = {program("probe"), c.reader, file};
    if (c.reader == "database") argv.push_back(dir / "bank.dat");
    RunResult r = run(argv);
    SCOPED_TRACE(c.reader + ": " + c.what);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(file), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    std::string message = r.err.substr(0, r.err.size() - 1);
    message.replace(message.find(file), file.size(), "FILE");
    table += "| " + c.reader + " | " + c.what + " | " + std::to_string(r.status) + " | " +
             message.substr(0, 150) + " |\n";
  }
  std::printf("%s", table.c_str());
}

TEST(BadInputs, CommandLines) {
  TempDir dir;
  Workspace w = make_workspace(dir.path(), {"aaa"}, {0}, 2, 16, 2);
  const std::string long_name(5000, 'n');
  struct Line {
    std::string program;
    std::vector<std::string> args;
  };
  const std::vector<Line> lines = {
      {"classify_experiment", {}},
      {"classify_experiment", {"1", "2"}},
      {"classify_experiment", {"one"}},
      {"classify_experiment", {"-1"}},
      {"classify_experiment", {"20"}},
      {"classify_experiment", {"99999999999"}},
      {"classify_experiment", {long_name}},
      {"direction_experiment", {}},
      {"direction_experiment", {"aaa", "aab"}},
      {"direction_experiment", {long_name}},
      {"direction_experiment", {"../aaa"}},
      {"direction_experiment", {"a/b"}},
      {"direction_experiment", {".."}},
      {"build_database", {"--set", "-1"}},
      {"build_database", {"--set", "x"}},
      {"build_database", {"--surfaces", "a/b"}},
      {"build_database", {"--surfaces", ".."}},
      {"build_database", {"--surfaces", long_name}},
      {"build_database", {"--unknown"}},
      {"export_normals", {}},
      {"export_normals", {"aaa", "aab"}},
      {"export_normals", {"../aaa"}},
      {"export_normals", {long_name}},
      {"export_normals", {"aaa", "--set", "x"}},
  };
  for (const Line& line : lines) {
    std::vector<std::string> argv = {program(line.program)};
    argv.insert(argv.end(), line.args.begin(), line.args.end());
    RunResult r = run(argv, w.work);
    SCOPED_TRACE(line.program + " with " + std::to_string(line.args.size()) + " arguments");
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(r.err.empty());
  }
}
