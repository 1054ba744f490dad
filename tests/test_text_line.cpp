// Tests of whole-line reading: lines of any length come back whole, a last
// line without a line break counts, and an endless line is refused with the
// file and line named.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "data_error.h"
#include "text_line.h"

namespace {

// A stream holding `text`, closed at scope exit.
struct Stream {
  explicit Stream(const std::string& text) : f(std::tmpfile()) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
  }
  ~Stream() { std::fclose(f); }
  std::FILE* f;
};

}  // namespace

TEST(LineReader, Nominal) {
  const std::string long_line(5000, 'x');  // far past any fixed buffer
  Stream s("first\n\n  \n" + long_line + "\nlast");
  LineReader reader(s.f, "f.txt");
  std::string line;
  ASSERT_TRUE(reader.next(line));
  EXPECT_EQ(line, "first\n");
  ASSERT_TRUE(reader.next_nonblank(line));  // passes over two blank lines
  EXPECT_EQ(line, long_line + "\n");
  EXPECT_EQ(reader.line_number(), 4);
  ASSERT_TRUE(reader.next(line));
  EXPECT_EQ(line, "last");  // the last line needs no line break
  EXPECT_FALSE(reader.next(line));
}

TEST(LineReader, EndlessLineIsRefusedNamingFileAndLine) {
  Stream s("ok\n" + std::string(kMaxTextLine + 1, 'y'));
  LineReader reader(s.f, "f.txt");
  std::string line;
  ASSERT_TRUE(reader.next(line));
  try {
    reader.next(line);
    FAIL() << "an endless line was accepted";
  } catch (const DataError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("f.txt:2: ", 0), 0u) << e.what();
  }
}

TEST(blank_text, OnlyTheCLocalesWhiteSpace) {
  EXPECT_TRUE(blank_text(""));
  EXPECT_TRUE(blank_text(" \t\r\n\v\f"));
  EXPECT_FALSE(blank_text(" x "));
  EXPECT_FALSE(blank_text("\xa0"));  // a no-break space in Latin-1 is not white space here
}
