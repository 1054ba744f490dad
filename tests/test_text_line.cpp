// Tests of whole-line reading: lines of any length come back whole, a last
// line without a line break counts, and an endless line is refused with the
// file and line named. CSV records (csv.h) likewise: the last one needs no
// line break.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "csv.h"
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

TEST(CsvReader, LastRecordNeedsNoLineBreak) {
  // Records with LF or CR LF line breaks, the last one with its break or
  // without: it is kept either way, plain, quoted or ending in an empty field.
  using Records = std::vector<std::vector<std::string>>;
  const struct {
    const char* what;
    std::string text;
    Records records;
  } cases[] = {
      {"LF", "a,b\n1,2\n", {{"a", "b"}, {"1", "2"}}},
      {"LF, no last break", "a,b\n1,2", {{"a", "b"}, {"1", "2"}}},
      {"CR LF", "a,b\r\n1,2\r\n", {{"a", "b"}, {"1", "2"}}},
      {"CR LF, no last break", "a,b\r\n1,2", {{"a", "b"}, {"1", "2"}}},
      {"one record, no break", "a,b", {{"a", "b"}}},
      {"quoted last field, no last break", "a,b\r\n1,\"2,\r\n3\"", {{"a", "b"}, {"1", "2,\r\n3"}}},
      {"empty last field, no last break", "a,b\n1,", {{"a", "b"}, {"1", ""}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Stream s(c.text);
    CsvReader reader(s.f, "m.csv");
    Records read;
    std::vector<long> lines, expected_lines;
    for (std::vector<std::string> fields; read.size() <= c.records.size() && reader.next(fields);) {
      read.push_back(fields);
      lines.push_back(reader.line());
      expected_lines.push_back(static_cast<long>(lines.size()));  // one line each
    }
    EXPECT_EQ(read, c.records);
    EXPECT_EQ(lines, expected_lines);
  }
}
