// The streamed run against the whole-picture run: the same result file,
// byte for byte, for every BMP variant, height around the ring of rows,
// output format, thread count and band size; and a streamed save that
// fails keeps the old file.
#include "cli/StreamedRun.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "BmpBuilder.h"
#include "CliProcess.h"
#include "FileSizeLimit.h"
#include "Files.h"
#include "RunResults.h"
#include "TempFolder.h"
#include "cli/ImageRun.h"
#include "cli/RowPipeline.h"
#include "picture/TBitmap.h"
#include "thinning/ThinningEngine.h"

namespace kevrale::cli {
namespace {

namespace fs = std::filesystem;
using test::BmpSpec;
using test::BuildBmp;
using test::PackRows;
using test::ReadBytes;

const fs::path kSuite = KEVRALE_TEST_DATA_DIR "/bmpsuite/g";
const char* const kExtensions[] = {"bmp", "png", "tif"};

// The thread counts and band sizes that a streamed run is tried with: one
// thread, one row a band; the pipeline with odd bands; all three stages.
const Staging kStagings[] = {{1, 1}, {2, 7}, {3, 0}};

class StreamedRunTest : public ::testing::Test {
 protected:
  // The whole-picture run's result file, or the message it raised.
  std::string Whole(const std::string& source, const std::string& ext, const Options& options) {
    return WholeRunResult(source, dir_.File("whole." + ext), options);
  }

  // The streamed run's, which must not leave the file to the whole run.
  std::string Streamed(const std::string& source, const std::string& ext, const Options& options,
                       Staging staging) {
    return StreamedRunResult(source, dir_.File("streamed." + ext), options, staging);
  }

  // Both runs in every output format and staging give the same file.
  void ExpectSameResults(const std::string& source, const Options& options) {
    for (const char* ext : kExtensions) {
      const std::string whole = Whole(source, ext, options);
      for (const Staging& s : kStagings) {
        const std::string streamed = Streamed(source, ext, options, s);
        EXPECT_TRUE(streamed == whole)
            << ext << ", " << s.threads << " threads, bands of " << s.band_rows << ": "
            << (streamed.size() < 200 ? streamed : std::to_string(streamed.size()) + " bytes")
            << " against "
            << (whole.size() < 200 ? whole : std::to_string(whole.size()) + " bytes");
      }
    }
  }

  test::TempFolder dir_;
};

// The options a picture is thinned with in the comparisons: the default
// black on white, and a colour picked from the picture itself with a
// tolerance and a transparent surround.
std::vector<std::pair<std::string, Options>> OptionSets(int width, int height) {
  Options plain;
  Options picked;
  picked.target_at = PixelPosition{width / 2, height / 2};
  picked.thinning.tolerance = 40;
  picked.thinning.transparent_surround = true;
  return {{"black on white", plain}, {"picked colour, transparent", picked}};
}

TEST_F(StreamedRunTest, EveryGoodBmpSuiteFileGivesTheWholePictureResult) {
  if (!fs::is_directory(kSuite)) GTEST_SKIP() << "the BMP Suite corpus is not at " << kSuite;
  int streamed = 0;
  for (const auto& e : fs::directory_iterator(kSuite)) {
    if (e.path().extension() != ".bmp") continue;
    const std::string source = e.path().string();
    SCOPED_TRACE(e.path().filename().string());
    // RLE-coded pictures are left to the whole-picture run, untouched.
    if (e.path().filename().string().find("rle") != std::string::npos) {
      EXPECT_EQ(Streamed(source, "bmp", Options{}, kStagings[0]), "not streamed");
      EXPECT_FALSE(fs::exists(dir_.File("streamed.bmp")));
      continue;
    }
    TBitmap picture;
    picture.LoadFromFile(source);
    for (const auto& [what, options] : OptionSets(picture.Width(), picture.Height())) {
      SCOPED_TRACE(what);
      ExpectSameResults(source, options);
    }
    ++streamed;
  }
  EXPECT_GT(streamed, 10);
}

// Broken and questionable files: the streamed run raises the whole-picture
// run's message, or gives its result, and leaves no file when it fails.
TEST_F(StreamedRunTest, BadBmpSuiteFilesFailAsInTheWholePictureRun) {
  if (!fs::is_directory(kSuite)) GTEST_SKIP() << "the BMP Suite corpus is not at " << kSuite;
  int refused = 0;
  for (const char* folder : {"b", "q"})
    for (const auto& e : fs::directory_iterator(kSuite.parent_path() / folder)) {
      if (e.path().extension() != ".bmp") continue;
      SCOPED_TRACE(e.path().filename().string());
      const std::string whole = Whole(e.path().string(), "png", Options{});
      const std::string streamed = Streamed(e.path().string(), "png", Options{}, kStagings[2]);
      if (streamed == "not streamed") continue;
      EXPECT_TRUE(streamed == whole)
          << streamed.substr(0, 200) << " against " << whole.substr(0, 200);
      if (whole.rfind("error: ", 0) == 0) {
        ++refused;
        EXPECT_FALSE(fs::exists(dir_.File("streamed.png")));
      }
    }
  EXPECT_GT(refused, 5);
}

// A picture of `kind` with strokes 2 to 5 pixels wide in near-black shades
// on white, some of them touching the top and bottom rows.
std::vector<uint8_t> StrokePicture(const std::string& kind, int width, int height, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::vector<uint32_t>> rgb(
      static_cast<size_t>(height), std::vector<uint32_t>(static_cast<size_t>(width), 0xFFFFFF));
  for (int stroke = 0; stroke < 6; ++stroke) {
    const bool across = rng() % 2 == 0;
    const int thick = 2 + int(rng() % 4);
    const int at = int(rng() % unsigned(across ? height : width));
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        if ((across ? y : x) >= at && (across ? y : x) < at + thick)
          rgb[size_t(y)][size_t(x)] = uint32_t(rng() % 24) * 0x010101u;
  }
  BmpSpec s;
  s.width = width;
  s.height = height;
  if (kind == "24") {
    s.pixels = PackRows(width, height, 24, false, [&](int x, int y) { return rgb[y][x]; });
  } else if (kind == "32 alpha") {
    // Alpha that varies: the picture is read with its alpha channel.
    s.header_size = 108;
    s.bit_count = 32;
    s.compression = 3;
    s.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    s.pixels = PackRows(width, height, 32, false, [&](int x, int y) {
      return uint32_t(rng() % 2 ? 255 : rng() % 256) << 24 | rgb[y][x];
    });
  } else if (kind == "8 palette") {
    s.bit_count = 8;
    for (uint32_t i = 0; i < 24; ++i) s.palette.push_back(i * 0x010101u);
    s.palette.push_back(0xFFFFFF);
    s.pixels = PackRows(width, height, 8, false, [&](int x, int y) {
      return rgb[y][x] == 0xFFFFFF ? 24u : rgb[y][x] & 0xFF;
    });
  } else {  // "16 top-down": 5 bits a channel, rows stored top first
    s.bit_count = 16;
    s.height = -height;
    s.pixels = PackRows(width, height, 16, true, [&](int x, int y) {
      const uint32_t c = rgb[y][x];
      return ((c >> 19) & 31) << 10 | ((c >> 11) & 31) << 5 | ((c >> 3) & 31);
    });
  }
  return BuildBmp(s);
}

TEST_F(StreamedRunTest, HeightsAroundTheRingInEveryVariantAndFormat) {
  for (const int height : {1, 19, 20, 21, 39, 40})
    for (const char* kind : {"24", "32 alpha", "8 palette", "16 top-down"}) {
      SCOPED_TRACE(std::string(kind) + " bits, height " + std::to_string(height));
      const int width = 23 + height % 7;
      const std::string source = dir_.File("strokes.bmp");
      test::WriteBytes(source, StrokePicture(kind, width, height, unsigned(height)));
      for (const auto& [what, options] : OptionSets(width, height)) {
        SCOPED_TRACE(what);
        ExpectSameResults(source, options);
      }
    }
}

// A transparent surround turns a 24-bit result into a 32-bit one only where
// a pixel is removed; a picture whose strokes are all one pixel wide stays
// 24-bit, one with a thick stroke low down does not.
TEST_F(StreamedRunTest, ATransparentSurroundWidensTheResultOnlyWhenAPixelGoes) {
  Options options;
  options.thinning.transparent_surround = true;
  for (const int thick_at : {-10, 5, 57}) {
    SCOPED_TRACE(thick_at);
    TBitmap b(30, 60);
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 30; ++x)
        b.SetPixel(x, y, x == 4 || (y >= thick_at && y < thick_at + 3) ? clBlack : clWhite);
    const std::string source = dir_.File("lines.bmp");
    b.SaveToFile(source);
    ExpectSameResults(source, options);
    TBitmap result;
    result.LoadFromFile(dir_.File("whole.bmp"));
    EXPECT_EQ(result.HasAlpha(), thick_at >= 0);
  }
}

TEST_F(StreamedRunTest, WhatIsNotStreamedIsLeftUntouched) {
  TBitmap b(8, 8);
  const std::string source = dir_.File("p.bmp");
  b.SaveToFile(source);
  const std::string before = test::ReadText(source);
  // A result written over the source itself, under its own name or a link.
  EXPECT_FALSE(ThinStreamed(source, source, Options{}, 1));
  fs::create_symlink(source, dir_.File("link.bmp"));
  EXPECT_FALSE(ThinStreamed(source, dir_.File("link.bmp"), Options{}, 1));
  EXPECT_EQ(test::ReadText(source), before);

  // Options that need the whole picture, and sources the BMP reader does
  // not read.
  Options pruned;
  pruned.prune = 5;
  EXPECT_FALSE(StreamingAllowed(source, pruned));
  Options svg;
  svg.output = dir_.File("o.svg");
  EXPECT_FALSE(StreamingAllowed(source, svg));
  EXPECT_FALSE(StreamingAllowed(dir_.File("p.png"), Options{}));
  EXPECT_TRUE(StreamingAllowed(dir_.File("P.BMP"), Options{}));
}

// The errors that the whole-picture run raises, raised the same way before
// anything is written: a pixel outside the picture, a picture too wide.
TEST_F(StreamedRunTest, RefusalsAreTheWholePictureRunsAndWriteNothing) {
  const std::string source = dir_.File("p.bmp");
  TBitmap(6, 4).SaveToFile(source);
  Options outside;
  outside.target_at = PixelPosition{6, 0};
  EXPECT_EQ(Streamed(source, "png", outside, kStagings[2]), Whole(source, "png", outside));
  EXPECT_NE(Whole(source, "png", outside).find("outside"), std::string::npos);

  BmpSpec wide;
  wide.width = kMaxThinningWidth + 1;
  wide.height = 2;
  wide.bit_count = 1;
  wide.palette = {0, 0xFFFFFF};
  wide.pixels = PackRows(wide.width, 2, 1, false, [](int, int) { return 1u; });
  const std::string wide_source = dir_.File("wide.bmp");
  test::WriteBytes(wide_source, BuildBmp(wide));
  const std::string refused = Streamed(wide_source, "bmp", Options{}, kStagings[2]);
  EXPECT_EQ(refused, Whole(wide_source, "bmp", Options{}));
  EXPECT_NE(refused.rfind("error: ", 0), std::string::npos) << refused;
  EXPECT_FALSE(fs::exists(dir_.File("streamed.bmp")));
}

// kevrale-thin itself, on one image and on a list run two at a time, writes
// what the whole-picture run writes.
TEST_F(StreamedRunTest, TheProgramAndItsListModeGiveTheWholePictureResults) {
  const std::string a = dir_.File("a.bmp"), b = dir_.File("b.bmp");
  test::WriteBytes(a, StrokePicture("24", 300, 90, 1));
  test::WriteBytes(b, StrokePicture("32 alpha", 200, 120, 2));
  const test::RunResult single =
      test::RunCli("-o " + test::Quote(dir_.File("single.png")) + " " + test::Quote(a));
  ASSERT_EQ(single.status, 0) << single.output;
  EXPECT_TRUE(test::ReadText(dir_.File("single.png")) == Whole(a, "png", Options{}));

  test::WriteText(dir_.File("list.txt"), "a.bmp\nb.bmp\n");
  const test::RunResult list =
      test::RunCli("-j 2 --format tif --list " + test::Quote(dir_.File("list.txt")));
  ASSERT_EQ(list.status, 0) << list.output;
  EXPECT_TRUE(test::ReadText(dir_.File("a_s.tif")) == Whole(a, "tif", Options{}));
  EXPECT_TRUE(test::ReadText(dir_.File("b_s.tif")) == Whole(b, "tif", Options{}));
}

using test::FileSizeLimit;

std::vector<std::string> EntriesOf(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  return names;
}

TEST_F(StreamedRunTest, ASaveThatFailsHalfWayKeepsTheOldFileAndLeavesNoOther) {
  const std::string source = dir_.File("big.bmp");
  test::WriteBytes(source, StrokePicture("24", 400, 300, 9));
  for (const char* ext : kExtensions)
    for (const Staging& s : kStagings) {
      const std::string what = std::string(ext) + ", " + std::to_string(s.threads) + " threads";
      SCOPED_TRACE(what);
      // Room for the header and some rows, not all of them.
      const size_t full_size = Whole(source, ext, Options{}).size();
      const std::string folder = dir_.Sub(std::string(ext) + std::to_string(s.threads));
      const std::string out = folder + "/result." + ext;
      test::WriteText(out, "the old result");
      bool failed = false;
      {
        const FileSizeLimit limit(full_size / 2);
        try {
          ThinStreamed(source, out, Options{}, s.threads, s.band_rows);
        } catch (const std::exception&) {
          failed = true;
        }
      }
      EXPECT_TRUE(failed);
      EXPECT_TRUE(test::ReadText(out) == "the old result");
      EXPECT_EQ(EntriesOf(folder), std::vector<std::string>{"result." + std::string(ext)});
    }
}

// The pipeline on its own: a stage that fails stops the others, whatever
// the thread count, and the run raises that stage's error.
TEST(RowPipeline, AFailingStageStopsTheRunWithItsError) {
  const int width = 9, height = 200;
  for (const int threads : {1, 2, 3})
    for (const bool reading : {true, false}) {
      SCOPED_TRACE(std::to_string(threads) + (reading ? " threads, reading" : " threads, writing"));
      int written_past = 0;
      RowPipeline rows(
          width, height, TPixelFormat::pf24bit, threads, 10,
          [&](int y0, TBitmap& band) {
            std::fill_n(band.Bits(), band.BitsSize(), uint8_t(0));
            if (reading && y0 == 100) throw std::runtime_error("read failed");
          },
          [&](int y0, const TBitmap&) {
            if (!reading && y0 == 50) throw std::runtime_error("write failed");
            if (y0 > 50) ++written_past;
          });
      try {
        rows.Run(
            [&] { ThinRows(rows, width, height, clBlack, clWhite, ThinningOptions{}, false); });
        ADD_FAILURE() << "the run went through";
      } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), reading ? "read failed" : "write failed");
      }
      if (!reading) {
        EXPECT_EQ(written_past, 0);
      }
    }
}

}  // namespace
}  // namespace kevrale::cli
