// Names and messages on the terminal: nothing in a file name or a plug-in's
// text may act on the terminal, and no line names its file twice.
#include "cli/TerminalText.h"

#include <gtest/gtest.h>

#include "platform/Exception.h"

namespace kevrale::cli {
namespace {

TEST(TerminalTextTest, EveryCharacterATerminalActsOnIsShownAsAQuestionMark) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\x1b[31mb", "a?[31mb"},  // C0: ESC
      {"a\x7f"
       "b",
       "a?b"},  // DEL
      {"a\xc2\x9b"
       "31mb",
       "a?31mb"},  // U+009B, the C1 CSI
      {"a\xc2\x80\xc2\x9f"
       "b",
       "a??b"},  // the ends of the C1 range
      {"a\x9b"
       "31mb",
       "a?31mb"},  // a lone byte 0x9B: CSI to some terminals
      {"a\x80\x9f"
       "b",
       "a??b"},  // lone bytes of the C1 range
      {"a\xe2\x80\xae"
       "gpj.exe",
       "a?gpj.exe"},  // U+202E RIGHT-TO-LEFT OVERRIDE
      {"\xe2\x80\xaa\xe2\x80\xab\xe2\x80\xac\xe2\x80\xad", "????"},        // U+202A..U+202D
      {"\xe2\x81\xa6x\xe2\x81\xa7x\xe2\x81\xa8x\xe2\x81\xa9", "?x?x?x?"},  // isolates
      // What is no control stays: Japanese, U+00A0, U+2065 and U+206A
      // beside the isolates, U+202F beside the overrides, stray bytes
      // past 0x9F, four-byte characters.
      {"画像\xc2\xa0\xe2\x81\xa5\xe2\x81\xaa\xe2\x80\xaf",
       "画像\xc2\xa0\xe2\x81\xa5\xe2\x81\xaa\xe2\x80\xaf"},
      {"\xe9\xff\xf0\x9f\x98\x80", "\xe9\xff\xf0\x9f\x98\x80"},
      // A lead byte cut short leaves its C1-looking follower a lone byte.
      {"\xe2\x80", "\xe2?"},
  };
  for (const auto& [name, shown] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Printable(name), shown);
    EXPECT_EQ(ForTerminal("open " + name), "open " + shown) << "in a message too";
  }
}

TEST(TerminalTextTest, MessagesBreakLinesOnceAndNameTheirFileOnce) {
  // The program's CR, and Windows' CR LF, are one line break each; those at
  // the end go; a lone LF is no break of the program's.
  EXPECT_EQ(ForTerminal("one\rtwo"), "one\ntwo");
  EXPECT_EQ(
      ForTerminal("LoadLibrary failed with error 193 %1 is not a valid Win32 application.\r\n"),
      "LoadLibrary failed with error 193 %1 is not a valid Win32 application.");
  EXPECT_EQ(ForTerminal("a\r\nb\r\n\r\n"), "a\nb");
  EXPECT_EQ(ForTerminal("a\nb"), "a?b");
  // A reason after a message: no stray "?" where Windows ended its text.
  const Exception windows("x.spi: the plug-in could not be loaded", "error 126\r\n");
  EXPECT_EQ(ErrorText(windows), "x.spi: the plug-in could not be loaded: error 126");

  // A message that begins with its file's name is not given it again.
  EXPECT_EQ(NamedText("small.bmp", "small.bmp: pixel (300, 0) lies outside the picture (40 x 30)"),
            "small.bmp: pixel (300, 0) lies outside the picture (40 x 30)");
  EXPECT_EQ(NamedText("small.bmp", "ファイル small.bmp は開けません"),
            "small.bmp: ファイル small.bmp は開けません");
  EXPECT_EQ(NamedText("small.bmpx", "small.bmp: other"), "small.bmpx: small.bmp: other");
  EXPECT_EQ(NamedText("e\x1b.bmp", "e?.bmp: lies"), "e?.bmp: lies");
  EXPECT_EQ(WithoutLeadingName("/p/x.spi: file too short", "/p/x.spi"), "file too short");
  EXPECT_EQ(WithoutLeadingName("/p/x.spi:Susie", "/p/x.spi"), "Susie");
  EXPECT_EQ(WithoutLeadingName("/p/x.spix: y", "/p/x.spi"), "/p/x.spix: y");
}

}  // namespace
}  // namespace kevrale::cli
