#include "batch/BatchRun.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "TempFolder.h"
#include "batch/SaveName.h"
#include "picture/TBitmap.h"
#include "picture/TPicture.h"
#include "platform/Exception.h"
#include "platform/Stream.h"

namespace kevrale {
namespace {

namespace fs = std::filesystem;

constexpr TColor kTarget = 0x000000FF;    // red line work ...
constexpr TColor kSurround = 0x0000FF00;  // ... on green
constexpr TColor kOther = 0x00FF0000;     // blue, never touched

class BatchRunTest : public ::testing::Test {
 protected:
  // A drawing of its own for every seed: thick red strokes and a blue mark
  // on green, so outputs of different sources differ.
  std::string WriteImage(const std::string& name, int seed) {
    const int w = 24 + seed * 3, h = 18 + seed * 2;
    TBitmap b(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        TColor c = kSurround;
        if (y >= 3 && y < 3 + 4 + seed && x >= 2 && x < w - 2) c = kTarget;
        if (x >= 5 + seed && x < 10 + seed && y >= 2 && y < h - 2) c = kTarget;
        if (x == w - 1 && y == seed) c = kOther;
        b.SetPixel(x, y, c);
      }
    const std::string path = dir_.File(name);
    b.SaveToFile(path);
    return path;
  }

  std::string WriteList(const std::string& bytes) { return dir_.Write("list.txt", bytes); }

  void Run(const std::string& list) {
    RunBatch(list, picture_, kTarget, kSurround, [this] { ++too_wide_; });
  }

  // The message of the exception that the batch raises.
  template <typename E>
  std::string RunFailing(const std::string& list) {
    try {
      Run(list);
    } catch (const E& e) {
      return e.Message();
    }
    ADD_FAILURE() << "the batch did not fail";
    return "";
  }

  // Every pixel of `output` equals a single run on `source`.
  void ExpectSingleRunResult(const std::string& source, const std::string& output) {
    ASSERT_TRUE(fs::exists(output)) << output;
    TPicture reference;
    reference.LoadFromFile(source);
    EXPECT_EQ(RunThinning(reference, kTarget, kSurround), ThinningResult::Thinned);
    TPicture result;
    result.LoadFromFile(output);
    ASSERT_EQ(result.Width(), reference.Width()) << output;
    ASSERT_EQ(result.Height(), reference.Height()) << output;
    int differing = 0;
    for (int y = 0; y < reference.Height(); ++y)
      for (int x = 0; x < reference.Width(); ++x)
        differing += (result.Pixel(x, y) & 0xFFFFFF) != (reference.Pixel(x, y) & 0xFFFFFF);
    EXPECT_EQ(differing, 0) << output;
  }

  static std::vector<uint8_t> Bytes(const std::string& path) {
    TMemoryStream m;
    m.LoadFromFile(path);
    return m.Data();
  }

  test::TempFolder dir_;
  TPicture picture_;
  int too_wide_ = 0;  // entries reported too wide to thin
};

TEST_F(BatchRunTest, EveryEntryMatchesASingleRun) {
  std::vector<std::string> sources;
  for (int i = 0; i < 4; ++i) sources.push_back(WriteImage("page" + std::to_string(i) + ".bmp", i));
  const std::vector<uint8_t> before = Bytes(sources[2]);
  std::string list;
  for (const auto& s : sources) list += s + "\r\n";
  Run(WriteList(list));
  for (const auto& s : sources) ExpectSingleRunResult(s, SaveNameFor(s));
  // The sources stay as they were; the picture holds the last result.
  EXPECT_EQ(Bytes(sources[2]), before);
  TPicture last;
  last.LoadFromFile(SaveNameFor(sources[3]));
  EXPECT_EQ(picture_.Width(), last.Width());
  EXPECT_EQ(picture_.Pixel(7, 5), last.Pixel(7, 5));
  EXPECT_EQ(too_wide_, 0);
}

// The options reach every entry: near shades of the line colour are
// thinned too, and the removed pixels of each result are transparent.
TEST_F(BatchRunTest, EveryEntryIsThinnedWithTheOptions) {
  const ThinningOptions options{.tolerance = 6, .transparent_surround = true};
  std::vector<std::string> sources;
  for (int i = 0; i < 3; ++i) {
    TPicture shaded;
    shaded.LoadFromFile(WriteImage("scan" + std::to_string(i) + ".bmp", i));
    for (int y = 0; y < shaded.Height(); ++y)
      for (int x = 0; x < shaded.Width(); ++x)
        if (shaded.Pixel(x, y) == kTarget)
          shaded.SetPixel(x, y, RGB(uint8_t(250 + x % 6), 0, uint8_t(y % 5)));
    sources.push_back(dir_.File("scan" + std::to_string(i) + ".bmp"));
    shaded.SaveToFile(sources.back());
  }
  RunBatch(WriteList(sources[0] + "\n" + sources[1] + "\n" + sources[2]), picture_, kTarget,
           kSurround, {}, options);
  for (const std::string& source : sources) {
    TPicture expected;
    expected.LoadFromFile(source);
    EXPECT_EQ(RunThinning(expected, kTarget, kSurround, options), ThinningResult::Thinned);
    TPicture result;
    result.LoadFromFile(SaveNameFor(source));
    const TBitmap& want = expected.Bitmap();
    const TBitmap& got = result.Bitmap();
    ASSERT_TRUE(want.HasAlpha()) << source;
    ASSERT_TRUE(got.HasAlpha()) << source;
    ASSERT_EQ(got.Width(), want.Width());
    ASSERT_EQ(got.Height(), want.Height());
    int clear = 0;
    for (int y = 0; y < want.Height(); ++y) {
      ASSERT_EQ(std::memcmp(got.ScanLine(y), want.ScanLine(y), size_t(want.Width()) * 4), 0)
          << source << ", row " << y;
      for (int x = 0; x < want.Width(); ++x) clear += got.ScanLine(y)[x * 4 + 3] == 0;
    }
    EXPECT_GT(clear, 20) << source;
  }
}

TEST_F(BatchRunTest, EmptyListTouchesNothing) {
  const std::string list = WriteList("");
  Run(list);
  EXPECT_EQ(picture_.Graphic(), nullptr);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator()), 1);
  // A Ctrl-Z at the start is an empty list as well.
  Run(WriteList("\x1a" + dir_.File("none.bmp") + "\n"));
  EXPECT_EQ(picture_.Graphic(), nullptr);
}

// An entry too wide to thin is reported, saved unchanged, and the batch
// goes on with the next one.
TEST_F(BatchRunTest, ATooWideEntryIsReportedSavedUnchangedAndTheBatchGoesOn) {
  TBitmap wide(kMaxThinningWidth + 1, 3);
  for (int x = 0; x < wide.Width(); ++x)
    for (int y = 0; y < 3; ++y) wide.SetPixel(x, y, kTarget);
  const std::string w = dir_.File("wide.bmp");
  wide.SaveToFile(w);
  const std::string a = WriteImage("a.bmp", 1);
  int saved_at_report = -1;
  RunBatch(WriteList(w + "\n" + a + "\n"), picture_, kTarget, kSurround, [&] {
    ++too_wide_;
    saved_at_report = fs::exists(dir_.File("wide_s.bmp")) ? 1 : 0;
  });
  EXPECT_EQ(too_wide_, 1);
  EXPECT_EQ(saved_at_report, 0) << "reported before the entry is saved";
  EXPECT_EQ(Bytes(dir_.File("wide_s.bmp")), Bytes(w));
  ExpectSingleRunResult(a, dir_.File("a_s.bmp"));
}

// The text the front ends show for it.
TEST(BatchRunText, TheWidthMessageIsTheOneUsersKnow) {
  EXPECT_STREQ(kThinningWidthMessage,
               "画像の横幅が12000pixelを越えていて実行できません\r\r"
               "横長の画像なら、\uFF19\uFF10\u00B0回転してから実行してください\r\r"
               "縦長なら縮小して実行してください");
}

TEST_F(BatchRunTest, LineBreakAtTheEndMakesNoEntry) {
  const std::string a = WriteImage("a.bmp", 1);
  Run(WriteList(a + "\n"));
  ExpectSingleRunResult(a, dir_.File("a_s.bmp"));
}

TEST_F(BatchRunTest, TwoBreaksAtTheEndStopAtTheEmptyEntry) {
  const std::string a = WriteImage("a.bmp", 1);
  const std::string b = WriteImage("b.bmp", 2);
  EXPECT_EQ(RunFailing<EInvalidGraphic>(WriteList(a + "\n" + b + "\n\n")),
            "拡張子 . の画像形式は処理できません");
  ExpectSingleRunResult(a, dir_.File("a_s.bmp"));
  ExpectSingleRunResult(b, dir_.File("b_s.bmp"));
  EXPECT_FALSE(fs::exists(dir_.File("_s.bmp")));
}

TEST_F(BatchRunTest, TrailingSpaceIsPartOfTheExtension) {
  const std::string a = WriteImage("a.bmp", 1);
  EXPECT_EQ(RunFailing<EInvalidGraphic>(WriteList(a + " \n")),
            "拡張子 .bmp  の画像形式は処理できません");
  EXPECT_FALSE(fs::exists(dir_.File("a_s.bmp")));
}

TEST_F(BatchRunTest, LoneCarriageReturnJoinsTwoLines) {
  const std::string joined = WriteImage("ab.bmp", 2);
  Run(WriteList(dir_.File("a") + "\r" + "b.bmp\n"));
  ExpectSingleRunResult(joined, dir_.File("ab_s.bmp"));
}

TEST_F(BatchRunTest, SameImageTwiceIsLoadedFromItsSourceBothTimes) {
  const std::string a = WriteImage("a.bmp", 3);
  Run(WriteList(a + "\n" + a + "\n"));
  ExpectSingleRunResult(a, dir_.File("a_s.bmp"));
}

TEST_F(BatchRunTest, FirstFailureStopsTheBatch) {
  const std::string a = WriteImage("a.bmp", 1);
  const std::string c = WriteImage("c.bmp", 2);
  const std::string missing = dir_.File("missing.bmp");
  EXPECT_EQ(RunFailing<EFOpenError>(WriteList(a + "\n" + missing + "\n" + c + "\n")),
            "ファイル " + missing + " は開けません");
  ExpectSingleRunResult(a, dir_.File("a_s.bmp"));
  EXPECT_FALSE(fs::exists(dir_.File("missing_s.bmp")));
  EXPECT_FALSE(fs::exists(dir_.File("c_s.bmp")));
}

TEST_F(BatchRunTest, FailingEntryLeavesAnEarlierResultOfItsNameAlone) {
  const std::string bad = dir_.Write("bad.bmp", "BM this is no bitmap");
  const std::string old_result = dir_.Write("bad_s.bmp", "earlier result");
  EXPECT_EQ(RunFailing<EInvalidGraphic>(WriteList(bad)), "ビットマップイメージが不正です");
  EXPECT_EQ(Bytes(old_result), std::vector<uint8_t>({'e', 'a', 'r', 'l', 'i', 'e', 'r', ' ', 'r',
                                                     'e', 's', 'u', 'l', 't'}));
}

TEST_F(BatchRunTest, RelativeEntriesResolveAgainstTheListFolder) {
  fs::create_directories(dir_.File("lists/sub"));
  const std::string near = WriteImage("lists/sub/near.bmp", 1);
  const std::string up = WriteImage("up.bmp", 2);
  const std::string absolute = WriteImage("abs.bmp", 3);
  const std::string list =
      dir_.Write("lists/list.txt", "sub/near.bmp\n../up.bmp\n" + absolute + "\n");
  const fs::path cwd = fs::current_path();
  Run(list);
  EXPECT_EQ(fs::current_path(), cwd);
  ExpectSingleRunResult(near, dir_.File("lists/sub/near_s.bmp"));
  ExpectSingleRunResult(up, dir_.File("up_s.bmp"));
  ExpectSingleRunResult(absolute, dir_.File("abs_s.bmp"));

  EXPECT_EQ(ResolveEntry("/l/list.txt", "a.bmp"), "/l/a.bmp");
  EXPECT_EQ(ResolveEntry("/l/list.txt", "/x/a.bmp"), "/x/a.bmp");
  EXPECT_EQ(ResolveEntry("list.txt", "a.bmp"), "a.bmp");
  EXPECT_EQ(ResolveEntry("rel/list.txt", "a.bmp"), "rel/a.bmp");
  EXPECT_EQ(ResolveEntry("/l/list.txt", ""), "");
}

TEST_F(BatchRunTest, VeryLongLineNamingARealFile) {
  const std::string a = WriteImage("a.bmp", 2);
  std::string entry;
  while (entry.size() < 3000) entry += "./";
  Run(WriteList(entry + "a.bmp\n"));
  ExpectSingleRunResult(a, dir_.File("a_s.bmp"));
}

TEST_F(BatchRunTest, EntryWithANulByteNamesNoFile) {
  // "a" followed by a NUL would reach the system as "a": the source would be
  // read and then overwritten by its own result.
  const std::string a = WriteImage("a", 1);
  const std::vector<uint8_t> before = Bytes(a);
  try {
    Run(WriteList(a + std::string("\0.bmp\n", 6)));
    FAIL() << "the batch did not fail";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode, 3);
    EXPECT_EQ(e.Message(), "Invalid filename");
  }
  EXPECT_EQ(Bytes(a), before);
}

TEST_F(BatchRunTest, ListFileErrors) {
  fs::create_directories(dir_.File("folder"));
  const struct {
    std::string list;
    int code;
    const char* text;
  } cases[] = {
      {dir_.File("missing.txt"), 2, "File not found"},
      {"", 3, "Invalid filename"},
      {dir_.File("folder"), 5, "File access denied"},
  };
  for (const auto& c : cases) {
    try {
      Run(c.list);
      ADD_FAILURE() << c.list << " ran";
    } catch (const EInOutError& e) {
      EXPECT_EQ(e.ErrorCode, c.code) << c.list;
      EXPECT_EQ(e.Message(), c.text) << c.list;
    }
  }
}

TEST_F(BatchRunTest, ListFileIsClosedOnEveryPath) {
  const std::string a = WriteImage("a.bmp", 1);
  const std::string ok = dir_.Write("ok.txt", a + "\n");
  const std::string failing = dir_.Write("failing.txt", a + "\n" + dir_.File("none.bmp"));
  const auto open_files = [] {
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
  };
  const auto before = open_files();
  for (int i = 0; i < 3; ++i) {
    Run(ok);
    EXPECT_THROW(Run(failing), EFOpenError);
  }
  EXPECT_EQ(open_files(), before);
}

}  // namespace
}  // namespace kevrale
