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
#include "Files.h"
#include "PilReader.h"
#include "cli/Progress.h"
#include "picture/TBitmap.h"
#include "picture/TPicture.h"
#include "platform/Sanitizers.h"
#include "thinning/ThinningEngine.h"

namespace kevrale::cli {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using test::RunCli;
using test::RunResult;

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
  EXPECT_TRUE(test::Contains(r.output, "[1/2 ")) << r.output;
  EXPECT_TRUE(test::Contains(r.output, "] done " + Path("b.bmp"))) << r.output;
  EXPECT_TRUE(fs::exists(Path("b_s.bmp")));
  TPicture reference;
  reference.LoadFromFile(a);
  EXPECT_EQ(RunThinning(reference, clBlack, clWhite), ThinningResult::Thinned);
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
    EXPECT_EQ(
        RunThinning(reference, clBlack, clWhite, {.tolerance = 4, .transparent_surround = true}),
        ThinningResult::Thinned);
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
  EXPECT_TRUE(test::Contains(r.output, "entry 2, line 2: " + Path("missing.bmp") + ": ファイル " +
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
  EXPECT_TRUE(test::Contains(r.output, "3 of 5 entries failed:")) << r.output;
  EXPECT_TRUE(test::Contains(
      r.output, "entry 1, line 1: " + Path("bad.bmp") + ": ビットマップイメージが不正です"))
      << r.output;
  // An empty line fails, and says so with its number.
  EXPECT_TRUE(test::Contains(r.output, "kevrale-thin: entry 3: line 3 is empty\n")) << r.output;
  EXPECT_TRUE(test::Contains(r.output, "failed (line 3 is empty)\n")) << r.output;
  EXPECT_TRUE(test::Contains(r.output, "entry 5, line 6: ")) << r.output;
}

TEST_F(ListModeTest, ListFileErrorsAndUsage) {
  const RunResult missing = RunCli("--list " + Quote(Path("none.txt")));
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(test::Contains(missing.output, Path("none.txt") + ": File not found"))
      << missing.output;
  const RunResult folder = RunCli("--list " + Quote(dir_.Path()));
  EXPECT_EQ(folder.status, 1);
  EXPECT_TRUE(test::Contains(folder.output, "File access denied")) << folder.output;
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
    sequential.push_back(test::ReadText(Path(name)));
    fs::remove(Path(name));
  }
  const RunResult r = RunCli("-j 2 --list " + Quote(list_path));
  ASSERT_EQ(r.status, 0) << r.output;
  size_t i = 0;
  for (const char* name :
       {"p0_s.bmp", "p1_s.bmp", "p2_s.bmp", "p3_s.bmp", "p4_s.bmp", "p5_s.bmp", "p0_s_s.bmp"})
    EXPECT_EQ(test::ReadText(Path(name)), sequential[i++]) << name;
  // No temporary file is left beside the results.
  for (const auto& e : fs::directory_iterator(dir_.Path()))
    EXPECT_FALSE(e.path().filename().string().starts_with(".")) << e.path();
}

TEST_F(ListModeTest, ATooWideEntryFailsAndWritesNothing) {
  TBitmap wide(12501, 2);
  wide.SaveToFile(Path("wide.bmp"));
  WriteImage("fine.bmp", 1);
  const std::string list = WriteList("list.txt", "wide.bmp\nfine.bmp\n");
  const RunResult r = RunCli("--keep-going --list " + Quote(list));
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(fs::exists(Path("wide_s.bmp")));
  EXPECT_TRUE(fs::exists(Path("fine_s.bmp")));
  EXPECT_TRUE(test::Contains(r.output, "1 of 2 entries failed:")) << r.output;
  EXPECT_TRUE(test::Contains(r.output, "entry 1, line 1: " + Path("wide.bmp") +
                                           ": 画像の横幅が12000pixelを越えていて実行できません"))
      << r.output;
  // Without --keep-going the run stops there.
  fs::remove(Path("fine_s.bmp"));
  EXPECT_EQ(RunCli("--list " + Quote(list)).status, 1);
  EXPECT_FALSE(fs::exists(Path("fine_s.bmp")));
}

TEST_F(ListModeTest, OneOutputNamedTwoWaysIsWrittenInListOrder) {
  // Entry 1 (a.bmp) takes long, entry 2 (a.png) is quick; both save to
  // a_s.bmp, so entry 2's result must be the one that stays however its
  // name is written.
  TBitmap slow(1200, 1200);
  for (int y = 0; y < 1200; ++y)
    for (int x = 0; x < 1200; ++x) slow.SetPixel(x, y, (x / 40 + y / 40) % 2 ? clBlack : clWhite);
  slow.SaveToFile(Path("a.bmp"));
  WriteImage("quick.bmp", 2);
  TPicture quick;
  quick.LoadFromFile(Path("quick.bmp"));
  quick.SaveToFile(Path("a.png"));
  EXPECT_EQ(RunThinning(quick, clBlack, clWhite), ThinningResult::Thinned);
  quick.SaveToFile(Path("expected.bmp"));
  const std::string expected = test::ReadText(Path("expected.bmp"));
  fs::create_symlink(dir_.Path(), dir_.File("link"));
  // The list is named relatively from its folder, so entry 1's output is
  // the relative name "a_s.bmp".
  for (const std::string& second : {Path("a.png"), std::string("link/./a.png")}) {
    SCOPED_TRACE(second);
    WriteList("list.txt", "a.bmp\n" + second + "\n");
    fs::remove(Path("a_s.bmp"));
    const RunResult r = test::RunCommand(
        "cd " + Quote(dir_.Path()) + " && XDG_CONFIG_HOME=/nonexistent/kevrale-tests " +
        Quote(KEVRALE_BIN_DIR "/kevrale-thin") + " -j 2 --list list.txt");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(test::ReadText(Path("a_s.bmp")) == expected) << "entry 1's result was written last";
  }
}

TEST_F(ListModeTest, AnEndlessLineIsRefusedWithinBoundedMemory) {
  // The limit: the sanitizers reserve far more address space than they use,
  // so under them the resident size is bounded instead.
  const std::string limit = kReservesShadowMemory
                                ? "ASAN_OPTIONS=${ASAN_OPTIONS}:hard_rss_limit_mb=400 "
                                  "TSAN_OPTIONS=${TSAN_OPTIONS}:hard_rss_limit_mb=400 "
                                : "ulimit -v 1000000 && ";
  const RunResult r =
      test::RunCommand(limit + "XDG_CONFIG_HOME=/nonexistent/kevrale-tests timeout 60 " +
                       Quote(KEVRALE_BIN_DIR "/kevrale-thin") + " --list /dev/zero");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(
      test::Contains(r.output, "kevrale-thin: /dev/zero: line 1 is longer than 65536 bytes"))
      << r.output;
  // A long line that is not endless: its number is named.
  const std::string list =
      WriteList("long.txt", "a.bmp\n\n" + std::string(70000, 'x') + ".bmp\nb.bmp\n");
  const RunResult long_line = RunCli("--list " + Quote(list));
  EXPECT_EQ(long_line.status, 1);
  EXPECT_TRUE(test::Contains(long_line.output, list + ": line 3 is longer than 65536 bytes"))
      << long_line.output;
}

TEST_F(ListModeTest, AListWithoutEndStartsAtOnceWithinBoundedMemory) {
  // Five million entries from a pipe (`yes a.bmp`, bounded): held all at
  // once they would take far more than the limit. The first result must
  // come before the list is read through; then an interrupt ends the run.
  const std::string limit = kReservesShadowMemory
                                ? "export ASAN_OPTIONS=${ASAN_OPTIONS}:hard_rss_limit_mb=400 "
                                  "TSAN_OPTIONS=${TSAN_OPTIONS}:hard_rss_limit_mb=400; "
                                : "ulimit -v 1000000; ";
  WriteImage("a.bmp", 1);
  const std::string script =
      limit + "yes " + Quote(Path("a.bmp")) +
      " | head -n 5000000 | XDG_CONFIG_HOME=/nonexistent/kevrale-tests " +
      Quote(KEVRALE_BIN_DIR "/kevrale-thin") + " -j 2 --list /dev/stdin 2>" +
      Quote(Path("err.txt")) + " & pid=$!; i=0; while [ ! -e " + Quote(Path("a_s.bmp")) +
      " ] && [ $i -lt 1200 ]; do sleep 0.1; i=$((i+1)); done; kill -INT $pid; wait $pid; "
      "echo status=$?";
  const RunResult r = test::RunCommand("timeout 300 sh -c " + Quote(script));
  const std::string err = test::ReadText(Path("err.txt"));
  EXPECT_TRUE(test::Contains(r.output, "status=130")) << r.output << err;
  EXPECT_TRUE(fs::exists(Path("a_s.bmp"))) << err;
  EXPECT_TRUE(test::Contains(err, "[1/? ")) << "the total of a pipe is not known\n" << err;
  EXPECT_TRUE(test::Contains(err, "entries read done\n")) << err;
}

TEST_F(ListModeTest, ControlCharactersOfNamesNeverReachTheTerminal) {
  // (A lone CR would not survive the list reader; the single run has one.)
  const std::string evil = "e\x1b]0;owned\x07\x1b[2Kvil.bmp";
  const std::string shown = "e?]0;owned??[2Kvil.bmp";
  std::ofstream(Path(evil)) << "no bitmap";
  const std::string list = WriteList("list.txt", evil + "\n");
  for (const char* mode : {"--list ", "--keep-going --list "}) {
    SCOPED_TRACE(mode);
    const RunResult r = RunCli(mode + Quote(list));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output.find('\x1b'), std::string::npos) << r.output;
    EXPECT_TRUE(test::Contains(r.output, "failed " + Path(shown))) << r.output;
    EXPECT_TRUE(
        test::Contains(r.output, "line 1: " + Path(shown) + ": ビットマップイメージが不正です"))
        << r.output;
  }
  // A name inside a message.
  WriteImage("a.bmp", 1);
  const std::string output = Path("missing/\r\x1b[1A" + evil);
  const RunResult r = RunCli(Quote(Path("a.bmp")) + " -o " + Quote(output));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(
      test::Contains(r.output, "ファイル " + Path("missing/??[1A" + shown) + " を作成できません"))
      << r.output;
  EXPECT_EQ(r.output.find('\x1b'), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find('\r'), std::string::npos) << r.output;
}

TEST_F(ListModeTest, FormatSetsTheExtensionOfEverySaveName) {
  WriteImage("a.bmp", 1);
  WriteImage("b.bmp", 2);
  const std::string list = WriteList("list.txt", "a.bmp\nb.bmp\n");
  ASSERT_EQ(RunCli("--list " + Quote(list)).status, 0);
  for (const char* format : {"png", "tif"}) {
    SCOPED_TRACE(format);
    const RunResult r = RunCli("--format " + std::string(format) + " --list " + Quote(list));
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string a = Path("a_s." + std::string(format));
    EXPECT_TRUE(test::ReadText(a).starts_with(format == std::string("png") ? "\x89PNG" : "II*"));
    std::string missing;
    const std::string bmp = pil::Describe({Path("a_s.bmp"), Path("b_s.bmp")}, missing);
    if (!missing.empty()) GTEST_SKIP() << missing;
    EXPECT_EQ(pil::Describe({a, Path("b_s." + std::string(format))}, missing), bmp);
  }
  EXPECT_EQ(RunCli("--format gif --list " + Quote(list)).status, 2);
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
  EXPECT_FALSE(test::Contains(Progress::BarLine(0, 1, seconds(0), "a\nb", 80), "\n"));
}

}  // namespace
}  // namespace kevrale::cli
