// The main of the test programs that use the matrix library. The library's
// own handling of an error prints to standard output and exits with status
// 0, which would end a test program early as a pass; here, as in the
// programs, an error ends it with one line on standard error and status 3, so
// the test that met it fails.
#include <gtest/gtest.h>

#include "program.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  handle_matrix_library_errors(argc > 0 ? argv[0] : "test");
  return RUN_ALL_TESTS();
}
