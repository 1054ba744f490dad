// The start-up call: matrix-library errors and data errors as a user meets
// them, in the programs and in the test programs themselves.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "program.h"
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

// A test program handles the library's errors as the programs do (its main
// is tests/support/test_main.cpp): the test that meets one fails with status
// 3 and the library's complaint, where the library alone would exit with 0.
TEST(TestProgramDeathTest, MatrixLibraryErrorFailsTheTest) {
  EXPECT_EXIT(
      {
        MAT* zero = m_get(2, 2);
        MAT* inverse = m_get(2, 2);
        m_inverse(zero, inverse);
        std::exit(0);
      },
      testing::ExitedWithCode(kExitMatrixLib), "matrix library: singular matrix in function");
}

#ifdef __SANITIZE_ADDRESS__
// A sanitizer report must not pass for the data error (status 1) a test
// expects: ctest and scripts/run_tests give AddressSanitizer (and the leak
// checker) status 86 and UndefinedBehaviorSanitizer 87.
TEST(Sanitizers, ReportsHaveStatusesOfTheirOwn) {
  RunResult leak = run({program("probe"), "leak"});
  EXPECT_EQ(leak.status, 86) << leak.err;
  EXPECT_NE(leak.err.find("ERROR: LeakSanitizer"), std::string::npos) << leak.err;
  RunResult overflow = run({program("probe"), "overflow", "2147483647"});
  EXPECT_EQ(overflow.status, 87) << overflow.err;
  EXPECT_NE(overflow.err.find("signed integer overflow"), std::string::npos) << overflow.err;
}
#endif
