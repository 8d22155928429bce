// kevrale-thin --list as a user runs it: the whole process, its files, its
// messages and its exit status.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "CliProcess.h"
#include "cli/Progress.h"
#include "picture/TBitmap.h"
#include "picture/TPicture.h"
#include "thinning/ThinningEngine.h"

namespace kevrale::cli {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using test::RunCli;
using test::RunResult;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class ListModeTest : public test::CliFolderTest {
 protected:
  // Black strokes of a width of their own on white.
  std::string WriteImage(const std::string& name, int seed) {
    const int w = 20 + 2 * seed, h = 16 + seed;
    TBitmap b(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const bool bar = y >= 2 && y < 5 + seed && x >= 2 && x < w - 2;
        const bool post = x >= 4 + seed && x < 8 + seed && y >= 2 && y < h - 2;
        b.SetPixel(x, y, bar || post ? clBlack : clWhite);
      }
    b.SaveToFile(Path(name));
    return Path(name);
  }

  std::string WriteList(const std::string& name, const std::string& text) {
    std::ofstream(Path(name), std::ios::binary) << text;
    return Path(name);
  }
};

TEST_F(ListModeTest, RunsEveryEntryLikeASingleRun) {
  const std::string a = WriteImage("a.bmp", 1);
  WriteImage("b.bmp", 2);
  const RunResult r = RunCli("--list " + Quote(WriteList("list.txt", "a.bmp\r\nb.bmp\n")));
  ASSERT_EQ(r.status, 0) << r.output;
  // Not a terminal: one plain line per entry.
  EXPECT_TRUE(Contains(r.output, "[1/2 ")) << r.output;
  EXPECT_TRUE(Contains(r.output, "] done " + Path("b.bmp"))) << r.output;
  EXPECT_TRUE(fs::exists(Path("b_s.bmp")));
  TPicture reference;
  reference.LoadFromFile(a);
  RunThinning(reference, clBlack, clWhite, {});
  TPicture result;
  result.LoadFromFile(Path("a_s.bmp"));
  ASSERT_EQ(result.Width(), reference.Width());
  for (int y = 0; y < reference.Height(); ++y)
    for (int x = 0; x < reference.Width(); ++x)
      ASSERT_EQ(result.Pixel(x, y), reference.Pixel(x, y)) << x << "," << y;
}

// The list mode thins every entry with the tolerance and the surround:
// each result equals a single run with the same options.
TEST_F(ListModeTest, EntriesTakeTheToleranceAndTheTransparentSurround) {
  for (const char* name : {"a.bmp", "b.bmp"}) {
    TPicture shaded;
    shaded.LoadFromFile(WriteImage(name, name[0] - 'a' + 1));
    for (int y = 0; y < shaded.Height(); ++y)
      for (int x = 0; x < shaded.Width(); ++x)
        if (shaded.Pixel(x, y) == clBlack) shaded.SetPixel(x, y, RGB(uint8_t(x % 5), 0, 4));
    shaded.SaveToFile(Path(name));
  }
  const RunResult r = RunCli("--tolerance 4 --surround transparent --list " +
                             Quote(WriteList("list.txt", "a.bmp\nb.bmp\n")));
  ASSERT_EQ(r.status, 0) << r.output;
  for (const char* name : {"a", "b"}) {
    TPicture reference;
    reference.LoadFromFile(Path(std::string(name) + ".bmp"));
    RunThinning(reference, clBlack, clWhite, {}, {.tolerance = 4, .transparent_surround = true});
    TPicture result;
    result.LoadFromFile(Path(std::string(name) + "_s.bmp"));
    const TBitmap& want = reference.Bitmap();
    const TBitmap& got = result.Bitmap();
    ASSERT_TRUE(got.HasAlpha()) << name;
    ASSERT_EQ(got.Width(), want.Width());
    ASSERT_EQ(got.Height(), want.Height());
    int clear = 0;
    for (int y = 0; y < want.Height(); ++y)
      for (int x = 0; x < want.Width(); ++x) {
        ASSERT_EQ(got.Pixel(x, y), want.Pixel(x, y)) << name << ": " << x << "," << y;
        ASSERT_EQ(got.ScanLine(y)[x * 4 + 3], want.ScanLine(y)[x * 4 + 3]) << x << "," << y;
        clear += got.ScanLine(y)[x * 4 + 3] == 0;
      }
    EXPECT_GT(clear, 10) << name;
  }
}

TEST_F(ListModeTest, StopsAtTheFirstFailure) {
  WriteImage("a.bmp", 1);
  WriteImage("c.bmp", 2);
  const RunResult r =
      RunCli("--list " + Quote(WriteList("list.txt", "a.bmp\nmissing.bmp\nc.bmp\n")));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.output, "entry 2, line 2: " + Path("missing.bmp") + ": ファイル " +
                                     Path("missing.bmp") + " は開けません"))
      << r.output;
  EXPECT_TRUE(fs::exists(Path("a_s.bmp")));
  EXPECT_FALSE(fs::exists(Path("c_s.bmp")));
}

TEST_F(ListModeTest, KeepGoingListsEveryFailureAtTheEnd) {
  WriteImage("a.bmp", 1);
  WriteImage("c.bmp", 2);
  std::ofstream(Path("bad.bmp")) << "no bitmap";
  // The lone CR joins "c" and ".bmp"; the empty third line fails.
  const std::string list = WriteList("list.txt", "bad.bmp\na.bmp\n\nc\r.bmp\nnone.bmp");
  const RunResult r = RunCli("--keep-going --list " + Quote(list));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(fs::exists(Path("a_s.bmp")));
  EXPECT_TRUE(fs::exists(Path("c_s.bmp")));
  EXPECT_TRUE(Contains(r.output, "3 of 5 entries failed:")) << r.output;
  EXPECT_TRUE(Contains(r.output,
                       "entry 1, line 1: " + Path("bad.bmp") + ": ビットマップイメージが不正です"))
      << r.output;
  EXPECT_TRUE(Contains(r.output, "entry 3, line 3: : 拡張子 . の画像形式は処理できません"))
      << r.output;
  EXPECT_TRUE(Contains(r.output, "entry 5, line 6: ")) << r.output;
}

TEST_F(ListModeTest, ListFileErrorsAndUsage) {
  const RunResult missing = RunCli("--list " + Quote(Path("none.txt")));
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(Contains(missing.output, Path("none.txt") + ": File not found")) << missing.output;
  const RunResult folder = RunCli("--list " + Quote(dir_.Path()));
  EXPECT_EQ(folder.status, 1);
  EXPECT_TRUE(Contains(folder.output, "File access denied")) << folder.output;
  const RunResult empty = RunCli("--list " + Quote(WriteList("empty.txt", "")));
  EXPECT_EQ(empty.status, 0) << empty.output;

  for (const char* bad :
       {"--list", "--list l.txt x.bmp", "--list l.txt -o o.bmp", "-j 2 x.bmp", "--keep-going x.bmp",
        "--list l.txt -j 0", "--list l.txt -j x", "--list l.txt --target-at 1,1",
        "--list l.txt --tolerance 300", "--list l.txt --surround clear"})
    EXPECT_EQ(RunCli(bad).status, 2) << bad;
}

TEST_F(ListModeTest, ParallelJobsGiveTheFilesOfASequentialRun) {
  const auto name = [](int i) {
    std::string n = "p";
    n += std::to_string(i);
    n += ".bmp";
    return n;
  };
  std::string list;
  for (int i = 0; i < 6; ++i) list += name(i) + "\n";
  for (int i = 0; i < 6; ++i) WriteImage(name(i), i);
  // p0_s.bmp is also a source: it must be read after p0.bmp is thinned.
  list += "p0_s.bmp\np3.bmp\n";
  const std::string list_path = WriteList("list.txt", list);
  ASSERT_EQ(RunCli("--list " + Quote(list_path)).status, 0);
  std::vector<std::string> sequential;
  for (const char* name :
       {"p0_s.bmp", "p1_s.bmp", "p2_s.bmp", "p3_s.bmp", "p4_s.bmp", "p5_s.bmp", "p0_s_s.bmp"}) {
    sequential.push_back(Slurp(Path(name)));
    fs::remove(Path(name));
  }
  const RunResult r = RunCli("-j 2 --list " + Quote(list_path));
  ASSERT_EQ(r.status, 0) << r.output;
  size_t i = 0;
  for (const char* name :
       {"p0_s.bmp", "p1_s.bmp", "p2_s.bmp", "p3_s.bmp", "p4_s.bmp", "p5_s.bmp", "p0_s_s.bmp"})
    EXPECT_EQ(Slurp(Path(name)), sequential[i++]) << name;
  // No temporary file is left beside the results.
  for (const auto& e : fs::directory_iterator(dir_.Path()))
    EXPECT_FALSE(e.path().filename().string().starts_with(".")) << e.path();
}

TEST(ProgressTest, BarLineFitsTheTerminal) {
  using namespace std::chrono;
  EXPECT_EQ(Progress::BarLine(3, 12, seconds(75), "/scan/p.bmp", 80),
            "[######..................] 3/12  01:15  /scan/p.bmp");
  EXPECT_EQ(Progress::ClockText(seconds(3600 + 61)), "1:01:01");
  const std::string long_path = "/very/long/folder/" + std::string(100, 'x') + "/線画.bmp";
  const std::string line = Progress::BarLine(12, 12, seconds(0), long_path, 60);
  EXPECT_TRUE(line.starts_with("[########################] 12/12  00:00  ...")) << line;
  EXPECT_TRUE(line.ends_with("xxx/線画.bmp")) << line;
  // 59 columns at most; each CJK character takes two.
  EXPECT_EQ(line.size() - 2 * 3 + 2 * 2, 59u) << line;
  // A path with a line break cannot break the line.
  EXPECT_FALSE(Contains(Progress::BarLine(0, 1, seconds(0), "a\nb", 80), "\n"));
}

}  // namespace
}  // namespace kevrale::cli
