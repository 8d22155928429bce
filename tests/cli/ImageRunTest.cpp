// kevrale-thin as a user runs it: the whole process, its files and its
// exit status.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>

#include "BmpBuilder.h"
#include "CliProcess.h"
#include "picture/TBitmap.h"

namespace kevrale {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using test::RunCli;
using test::RunCommand;
using test::RunResult;

class CliRunTest : public test::CliFolderTest {
 protected:
  // A white picture with a black square block of side `block` at (1, 1).
  std::string WriteBlock(const std::string& name, int width, int height, int block) {
    TBitmap b(width, height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        b.SetPixel(x, y, (x >= 1 && y >= 1 && x <= block && y <= block) ? clBlack : clWhite);
    b.SaveToFile(Path(name));
    return Path(name);
  }
};

TEST_F(CliRunTest, SavesBesideTheSourceUnderTheSaveName) {
  const std::string source = WriteBlock("page.bmp", 5, 5, 3);
  const RunResult r = RunCli("--surround FF0000 " + Quote(source));
  ASSERT_EQ(r.status, 0) << r.output;
  TBitmap out;
  out.LoadFromFile(Path("page_s.bmp"));
  ASSERT_EQ(out.Width(), 5);
  // A 3 x 3 block keeps its centre; the rest of it turns red.
  EXPECT_EQ(out.Pixel(2, 2), clBlack);
  EXPECT_EQ(out.Pixel(1, 1), RGB(255, 0, 0));
  EXPECT_EQ(out.Pixel(3, 3), RGB(255, 0, 0));
  EXPECT_EQ(out.Pixel(0, 0), clWhite);
}

TEST_F(CliRunTest, TargetAtPicksTheColourOfAPixel) {
  const std::string source = WriteBlock("p.bmp", 5, 5, 3);
  // Pixel (0, 0) is white: white is thinned, black becomes the surround.
  const RunResult r =
      RunCli("--target-at 0,0 --surround 000000 -o " + Quote(Path("o.bmp")) + " " + Quote(source));
  ASSERT_EQ(r.status, 0) << r.output;
  TBitmap out;
  out.LoadFromFile(Path("o.bmp"));
  EXPECT_EQ(out.Pixel(2, 2), clBlack);
  const RunResult outside = RunCli("--target-at 5,0 " + Quote(source));
  EXPECT_EQ(outside.status, 1);
  EXPECT_NE(outside.output.find("outside"), std::string::npos) << outside.output;
}

// A scan's near shades of black and a transparent surround: the 3 x 3 block
// of shades keeps its centre in its own shade; the rest of it becomes
// transparent white in a 32-bit result.
TEST_F(CliRunTest, ToleranceAndTransparentSurround) {
  TBitmap b(5, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) {
      const bool block = x >= 1 && y >= 1 && x <= 3 && y <= 3;
      b.SetPixel(x, y, block ? RGB(uint8_t(x * 3), uint8_t(y * 2), 9) : clWhite);
    }
  b.SaveToFile(Path("scan.bmp"));
  const RunResult r = RunCli("--tolerance 9 --surround transparent " + Quote(Path("scan.bmp")));
  ASSERT_EQ(r.status, 0) << r.output;
  TBitmap out;
  out.LoadFromFile(Path("scan_s.bmp"));
  ASSERT_TRUE(out.HasAlpha());
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) {
      const bool block = x >= 1 && y >= 1 && x <= 3 && y <= 3;
      const bool centre = x == 2 && y == 2;
      EXPECT_EQ(out.Pixel(x, y), block && !centre ? clWhite : b.Pixel(x, y)) << x << ", " << y;
      EXPECT_EQ(out.ScanLine(y)[x * 4 + 3], block && !centre ? 0 : 255) << x << ", " << y;
    }
  // One short of the farthest shade (9 in blue), nothing is thinned.
  const RunResult near =
      RunCli("--tolerance 8 -o " + Quote(Path("near.bmp")) + " " + Quote(Path("scan.bmp")));
  ASSERT_EQ(near.status, 0) << near.output;
  TBitmap unchanged;
  unchanged.LoadFromFile(Path("near.bmp"));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(unchanged.Pixel(x, y), b.Pixel(x, y)) << x << ", " << y;

  const RunResult bad = RunCli("--tolerance 256 " + Quote(Path("scan.bmp")));
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.output.find("not a tolerance (0 to 255): 256"), std::string::npos) << bad.output;
}

TEST_F(CliRunTest, ErrorsInTheProgramsWords) {
  const RunResult missing = RunCli(Quote(Path("none.bmp")));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.output.find("ファイル " + Path("none.bmp") + " は開けません"),
            std::string::npos);

  std::ofstream(Path("bad.bmp")) << "not a bitmap";
  const RunResult bad = RunCli(Quote(Path("bad.bmp")));
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.output.find("ビットマップイメージが不正です"), std::string::npos) << bad.output;
  EXPECT_FALSE(fs::exists(Path("bad_s.bmp")));

  std::ofstream(Path("notes.txt")) << "text";
  const RunResult unknown = RunCli(Quote(Path("notes.txt")));
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.output.find("拡張子 .txt の画像形式は処理できません"), std::string::npos);

  EXPECT_EQ(RunCli("").status, 2);
  EXPECT_EQ(RunCli("--target nope x.bmp").status, 2);
}

TEST_F(CliRunTest, MessagesNameTheirFileOnceAndNoSpecialFileIsRead) {
  const std::string small = WriteBlock("small.bmp", 40, 30, 3);
  const RunResult outside = RunCli("--target-at 300,0 " + Quote(small));
  EXPECT_EQ(outside.status, 1);
  EXPECT_EQ(outside.output,
            "kevrale-thin: " + small + ": pixel (300, 0) lies outside the picture (40 x 30)\n");

  // A FIFO is no picture, whatever its extension (x.png goes to a plug-in,
  // x.bmp to the program's own reader): refused, never opened (no writer
  // would ever come). `timeout` ends a run that waits all the same.
  for (const char* name : {"x.png", "x.bmp", "x.jpg"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(::mkfifo(Path(name).c_str(), 0600), 0);
    const RunResult r =
        RunCommand("XDG_CONFIG_HOME=/nonexistent/kevrale-tests timeout 60 " +
                   Quote(KEVRALE_BIN_DIR "/kevrale-thin") + " " + Quote(Path(name)));
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_EQ(r.output, "kevrale-thin: " + Path(name) + ": ファイル " + Path(name) +
                            " は開けません: not a regular file\n");
    EXPECT_TRUE(fs::is_fifo(Path(name)));
  }
}

TEST_F(CliRunTest, TooWideIsRefusedWithoutWriting) {
  const std::string source = WriteBlock("wide.bmp", 12501, 2, 1);
  const RunResult r = RunCli(Quote(source));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("画像の横幅が12000pixelを越えていて実行できません\n\n"),
            std::string::npos)
      << r.output;
  EXPECT_FALSE(fs::exists(Path("wide_s.bmp")));
}

// A picture that only claims to be wide is refused for its width as soon as
// the width is known, before anything decodes its pixels: a BMP header, or a
// plug-in's picture information (a 16000 x 16000 PNG of a few kilobytes).
TEST_F(CliRunTest, AClaimedWidthIsRefusedBeforeDecoding) {
  std::vector<uint8_t> header(54, 0);
  test::PutLe(header, 0, 'B' | 'M' << 8, 2);
  test::PutLe(header, 10, 54, 4);
  test::PutLe(header, 14, 40, 4);
  test::PutLe(header, 18, 16000, 4);
  test::PutLe(header, 22, 16000, 4);
  test::PutLe(header, 26, 1, 2);
  test::PutLe(header, 28, 24, 2);
  test::WriteBytes(Path("claims.bmp"), header);
  const std::string png = Path("claims.png");
  const RunResult made = RunCommand("/usr/bin/python3 -c " +
                                    Quote("from PIL import Image; Image.new('1', (16000, 16000), "
                                          "1).save('" +
                                          png + "')"));
  ASSERT_EQ(made.status, 0) << made.output;
  for (const char* name : {"claims.bmp", "claims.png"}) {
    SCOPED_TRACE(name);
    const RunResult r = RunCli(Quote(Path(name)));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("画像の横幅が12000pixelを越えていて実行できません"), std::string::npos)
        << r.output;
  }
  EXPECT_EQ(dir_.Entries().size(), 2u) << "nothing written";
}

TEST_F(CliRunTest, OneFailureDoesNotStopTheOtherImages) {
  const std::string good = WriteBlock("good.bmp", 4, 4, 2);
  const RunResult r = RunCli(Quote(Path("missing.bmp")) + " " + Quote(good));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(fs::exists(Path("good_s.bmp")));
}

TEST_F(CliRunTest, VersionAndHelp) {
  const RunResult v = RunCli("--version");
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.output, "Version 1.21\n");
  const RunResult h = RunCli("--help");
  EXPECT_EQ(h.status, 0);
  EXPECT_NE(h.output.find("usage: kevrale-thin"), std::string::npos);
}

}  // namespace
}  // namespace kevrale
