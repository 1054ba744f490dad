// The start-up call: matrix-library errors and data errors as a user meets them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "test_support.h"

TEST(run_program, MatrixLibraryErrorGoesToStandardErrorWithFailureStatus) {
  RunResult r = run({program("probe"), "singular"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("probe: matrix library: singular matrix"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
}

TEST(run_program, DataErrorIsOneLineAndStatusOne) {
  TempDir dir;
  RunResult r = run({program("probe"), "filters", dir / "absent.dat"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "No such file \"" + (dir / "absent.dat") + "\"\n");
}

TEST(run_program, UnwritableStandardOutputIsAFailure) {
  TempDir dir;
  write_file(dir / "img.pgm", std::string("P5\n1 1\n255\n") + '\x07');
  // /dev/full accepts the open but fails every write.
  std::string command = "'" + program("probe") + "' pgm '" + (dir / "img.pgm") + "' >/dev/full";
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
}
