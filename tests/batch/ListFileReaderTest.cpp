#include "batch/ListFileReader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

#include "TempFolder.h"
#include "platform/Exception.h"

namespace kevrale {
namespace {

using Lines = std::vector<std::string>;

Lines ReadAll(const std::string& path) {
  ListFileReader reader(path);
  Lines lines;
  while (!reader.Eof()) lines.push_back(reader.ReadLine());
  return lines;
}

class ListFileReaderTest : public ::testing::Test {
 protected:
  Lines Read(const std::string& bytes) { return ReadAll(dir_.Write("list.txt", bytes)); }

  // The EInOutError that opening path raises.
  static EInOutError OpenError(const std::string& path) {
    try {
      ListFileReader reader(path);
    } catch (const EInOutError& e) {
      return e;
    }
    ADD_FAILURE() << path << " opened";
    return EInOutError(0, "");
  }

  test::TempFolder dir_;
};

TEST_F(ListFileReaderTest, LineBreaks) {
  EXPECT_EQ(Read(""), Lines{});
  EXPECT_EQ(Read("a.bmp"), Lines{"a.bmp"});
  EXPECT_EQ(Read("a.bmp\n"), Lines{"a.bmp"});
  EXPECT_EQ(Read("a.bmp\r\nb.bmp\nc.bmp"), (Lines{"a.bmp", "b.bmp", "c.bmp"}));
  EXPECT_EQ(Read("a\n\n"), (Lines{"a", ""}));
  EXPECT_EQ(Read("\n"), Lines{""});
  EXPECT_EQ(Read("\r\n\r\n"), (Lines{"", ""}));
  // A lone CR is dropped and joins what stands either side of it.
  EXPECT_EQ(Read("one\rtwo.bmp\n"), Lines{"onetwo.bmp"});
  EXPECT_EQ(Read("a\r\r\nb\r"), (Lines{"a", "b"}));
  EXPECT_EQ(Read("\r"), Lines{""});
  // No trimming: spaces and tabs belong to the path.
  EXPECT_EQ(Read(" a.bmp \t\n"), Lines{" a.bmp \t"});
}

TEST_F(ListFileReaderTest, CtrlZEndsTheFileOnlyWhereALineBegins) {
  EXPECT_EQ(Read("a\n\x1a"
                 "b\n"),
            Lines{"a"});
  EXPECT_EQ(Read("\x1a"
                 "a\n"),
            Lines{});
  EXPECT_EQ(Read("a\x1a"
                 "b\n\x1a"),
            Lines{"a\x1a"
                  "b"});
  // After a lone CR the line goes on, so a Ctrl-Z there is part of it.
  EXPECT_EQ(Read("a\r\x1a"
                 "b"),
            Lines{"a\x1a"
                  "b"});
}

TEST_F(ListFileReaderTest, BytesPassUnchanged) {
  const std::string nul("a\0b.bmp", 7);
  EXPECT_EQ(Read("/画像/線画.jpg\n" + nul + "\n\xff\xfe"),
            (Lines{"/画像/線画.jpg", nul, "\xff\xfe"}));
}

TEST_F(ListFileReaderTest, LinesLongerThanTheBuffer) {
  const size_t n = ListFileReader::kBufferSize;
  const std::string long_line(3 * n + 17, 'x');
  EXPECT_EQ(Read(long_line + "\nshort"), (Lines{long_line, "short"}));
  // A CR LF split across two buffer loads is still one break, and a lone CR
  // at the end of a load is still dropped.
  const std::string head(n - 1, 'a');
  EXPECT_EQ(Read(head + "\r\nb"), (Lines{head, "b"}));
  EXPECT_EQ(Read(head + "\rb\n"), Lines{head + "b"});
  // A Ctrl-Z that begins a buffer load, where a line begins.
  EXPECT_EQ(Read(std::string(n - 1, 'c') + "\n\x1a"
                                           "d"),
            Lines{std::string(n - 1, 'c')});
}

TEST_F(ListFileReaderTest, ALimitRefusesTheFirstLongerLineByItsNumber) {
  const std::string fits(100, 'f');
  const std::string list = fits + "\r\n\n" + fits + "x\nnever read";
  ListFileReader reader(dir_.Write("list.txt", list), 100);
  EXPECT_EQ(reader.ReadLine(), fits);
  EXPECT_EQ(reader.ReadLine(), "");
  try {
    reader.ReadLine();
    FAIL() << "read a line of 101 bytes";
  } catch (const EListLineTooLong& e) {
    EXPECT_EQ(e.Message(), "line 3 is longer than 100 bytes");
  }
  // Without a limit the same line is read.
  EXPECT_EQ(Read(list), (Lines{fits, "", fits + "x", "never read"}));
}

TEST_F(ListFileReaderTest, AnEndlessLineStopsAtTheLimit) {
  // /dev/zero holds one line without end; with a limit the reader stops
  // after it, without filling memory.
  if (::access("/dev/zero", R_OK) != 0) GTEST_SKIP() << "no /dev/zero";
  ListFileReader reader("/dev/zero", 64 * 1024);
  EXPECT_THROW(reader.ReadLine(), EListLineTooLong);
}

TEST_F(ListFileReaderTest, LineNumbersCountEveryBreakAnEditorShows) {
  ListFileReader reader(dir_.Write("list.txt", "a\r\nb\rc\n\nd"));
  std::vector<int64_t> numbers;
  while (!reader.Eof()) {
    reader.ReadLine();
    numbers.push_back(reader.LineNumber());
  }
  EXPECT_EQ(numbers, (std::vector<int64_t>{1, 2, 4, 5}));
}

TEST_F(ListFileReaderTest, ReadingPastTheEnd) {
  ListFileReader reader(dir_.Write("list.txt", "a\n"));
  EXPECT_EQ(reader.ReadLine(), "a");
  EXPECT_TRUE(reader.Eof());
  try {
    reader.ReadLine();
    FAIL() << "read past the end";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode, 100);
    EXPECT_EQ(e.Message(), "Read beyond end of file");
  }
}

TEST_F(ListFileReaderTest, OpenErrors) {
  dir_.Write("plain.txt", "x");
  const struct {
    std::string path;
    int code;
    const char* text;
  } cases[] = {
      {dir_.File("missing.txt"), 2, "File not found"},
      {dir_.File("no/such/folder.txt"), 2, "File not found"},
      {dir_.File("plain.txt/list.txt"), 3, "Invalid filename"},
      {"", 3, "Invalid filename"},
      {std::string("list\0.txt", 9), 3, "Invalid filename"},
      {dir_.File(std::string(300, 'n') + ".txt"), 3, "Invalid filename"},
      {"/" + std::string(5000, 'p'), 3, "Invalid filename"},
      {dir_.Path(), 5, "File access denied"},
  };
  for (const auto& c : cases) {
    const EInOutError e = OpenError(c.path);
    EXPECT_EQ(e.ErrorCode, c.code) << c.path.substr(0, 80);
    EXPECT_EQ(e.Message(), c.text) << c.path.substr(0, 80);
  }
}

}  // namespace
}  // namespace kevrale
