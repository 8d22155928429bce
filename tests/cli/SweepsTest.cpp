// --sweeps on the command line: what it accepts, the streamed run against
// the whole-picture run for every number of sweeps, and pruning, SVG and
// list mode after the last sweep.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "BmpBuilder.h"
#include "CliProcess.h"
#include "Files.h"
#include "TempFolder.h"
#include "cli/ImageRun.h"
#include "cli/Options.h"
#include "cli/StreamedRun.h"
#include "picture/TBitmap.h"
#include "thinning/ThinningEngine.h"

namespace kevrale::cli {
namespace {

using test::BmpSpec;
using test::PackRows;

TEST(CliSweepsOptions, NumbersFromOneAndAllAreSweepCountsAndNothingElse) {
  EXPECT_EQ(ParseOptions({"a.bmp"}).thinning.sweeps, 1);
  EXPECT_EQ(ParseOptions({"--sweeps", "3", "a.bmp"}).thinning.sweeps, 3);
  EXPECT_EQ(ParseOptions({"--sweeps", "1000", "a.bmp"}).thinning.sweeps, 1000);
  EXPECT_EQ(ParseOptions({"--sweeps", "all", "a.bmp"}).thinning.sweeps, kSweepsAll);
  EXPECT_EQ(ParseOptions({"--list", "l.txt", "--sweeps", "all", "-j", "2"}).thinning.sweeps,
            kSweepsAll);
  for (const char* bad : {"0", "-1", "x", "", "1001", "2.5", "ALL", "3x", "99999999999"})
    EXPECT_THROW(ParseOptions({"--sweeps", bad, "a.bmp"}), UsageError) << bad;
  EXPECT_THROW(ParseOptions({"a.bmp", "--sweeps"}), UsageError);
}

// Shapes wider than one sweep thins, drawn in dark shades (0..23 in every
// channel) on white: bars 40 and 80 pixels thick and a disc.
std::vector<uint8_t> ThickPicture(bool alpha, int width, int height, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::vector<uint32_t>> rgb(size_t(height), std::vector<uint32_t>(size_t(width), 0));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const double dx = x - width * 0.6, dy = y - height * 0.7;
      const bool ink = (y >= 5 && y < 45 && x > 3) || (x >= 10 && x < 90 && y > height / 3) ||
                       dx * dx + dy * dy < 45.0 * 45.0;
      rgb[size_t(y)][size_t(x)] = ink ? uint32_t(rng() % 24) * 0x010101u : 0xFFFFFFu;
    }
  BmpSpec s;
  s.width = width;
  s.height = height;
  if (!alpha) {
    s.pixels = PackRows(width, height, 24, false, [&](int x, int y) { return rgb[y][x]; });
  } else {
    // Some see-through pixels among the ink, which never count as the line.
    s.header_size = 108;
    s.bit_count = 32;
    s.compression = 3;
    s.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    s.pixels = PackRows(width, height, 32, false, [&](int x, int y) {
      return uint32_t(rng() % 9 == 0 ? 0 : 255) << 24 | rgb[y][x];
    });
  }
  return test::BuildBmp(s);
}

class CliSweepsTest : public test::CliFolderTest {
 protected:
  std::string Whole(const std::string& source, const Options& options) {
    const std::string out = Path("whole.bmp");
    ThinWholePicture(source, out, options);
    return test::ReadText(out);
  }
  std::string Streamed(const std::string& source, const Options& options, int threads,
                       int band_rows) {
    const std::string out = Path("streamed.bmp");
    EXPECT_TRUE(ThinStreamed(source, out, options, threads, band_rows));
    return test::ReadText(out);
  }
  // kevrale-thin with `args`; its status must be 0.
  void Run(const std::string& args) {
    const test::RunResult r = test::RunCli(args);
    EXPECT_EQ(r.status, 0) << args << ": " << r.output;
  }
};

TEST_F(CliSweepsTest, UsageErrorsExitWithStatusTwo) {
  for (const char* bad : {"0", "-1", "x"}) {
    const test::RunResult r = test::RunCli(std::string("--sweeps ") + bad + " a.bmp");
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_TRUE(test::Contains(r.output, "not a number of sweeps")) << r.output;
  }
}

// Chained sweeps (on the tall picture) and sweeps in two readings (all, and
// three sweeps on the short picture), with the tolerance and a transparent
// surround, give the file that the whole-picture run gives.
TEST_F(CliSweepsTest, TheStreamedRunGivesTheWholePictureResultForEverySweepCount) {
  const std::string source = Path("thick.bmp");
  for (const bool alpha : {false, true})
    for (const int height : {100, 3 * kRowsPerChainedSweep + 40}) {
      test::WriteBytes(source, ThickPicture(alpha, 130, height, unsigned(height)));
      Options plain;
      Options shades;
      shades.target_at = PixelPosition{20, 20};
      shades.thinning.tolerance = 30;
      shades.thinning.transparent_surround = true;
      for (Options options : {plain, shades})
        for (const int sweeps : {1, 2, 3, kSweepsAll}) {
          options.thinning.sweeps = sweeps;
          SCOPED_TRACE(std::string(alpha ? "32-bit" : "24-bit") + ", height " +
                       std::to_string(height) + ", tolerance " +
                       std::to_string(options.thinning.tolerance) + ", sweeps " +
                       std::to_string(sweeps));
          const std::string whole = Whole(source, options);
          EXPECT_TRUE(Streamed(source, options, 1, 1) == whole);
          EXPECT_TRUE(Streamed(source, options, 3, 7) == whole);
        }
    }
}

// `all` leaves no thick core: no 2 x 2 block of the line colour, where one
// sweep leaves many.
TEST_F(CliSweepsTest, AllLeavesLinesOnePixelWide) {
  const std::string source = Path("thick.bmp");
  test::WriteBytes(source, ThickPicture(false, 160, 300, 5));
  Run("--tolerance 30 -o " + test::Quote(Path("one.bmp")) + " " + test::Quote(source));
  Run("--tolerance 30 --sweeps all -o " + test::Quote(Path("all.bmp")) + " " + test::Quote(source));
  const auto blocks = [](const std::string& path) {
    TBitmap b;
    b.LoadFromFile(path);
    const auto ink = [&b](int x, int y) { return b.Pixel(x, y) != clWhite; };
    int n = 0;
    for (int y = 0; y + 1 < b.Height(); ++y)
      for (int x = 0; x + 1 < b.Width(); ++x)
        n += ink(x, y) && ink(x + 1, y) && ink(x, y + 1) && ink(x + 1, y + 1);
    return n;
  };
  EXPECT_GT(blocks(Path("one.bmp")), 100);
  EXPECT_EQ(blocks(Path("all.bmp")), 0);
}

// Pruning and tracing work on the result of the last sweep: on a picture
// that `all` has thinned, one more run changes nothing, so pruning or
// tracing that picture gives what --sweeps all with them gives.
TEST_F(CliSweepsTest, PruneAndSvgComeAfterTheLastSweep) {
  const std::string source = Path("thick.bmp");
  test::WriteBytes(source, ThickPicture(false, 160, 300, 9));
  const std::string src = test::Quote(source);
  const std::string all = test::Quote(Path("all.bmp"));
  const std::string run = "--tolerance 30 ";
  Run(run + "--sweeps all -o " + all + " " + src);
  Run(run + "--sweeps all --prune 30 -o " + test::Quote(Path("pruned.bmp")) + " " + src);
  Run(run + "--prune 30 -o " + test::Quote(Path("pruned-after.bmp")) + " " + all);
  EXPECT_TRUE(test::ReadText(Path("pruned.bmp")) == test::ReadText(Path("pruned-after.bmp")));
  EXPECT_FALSE(test::ReadText(Path("pruned.bmp")) == test::ReadText(Path("all.bmp")));

  Run(run + "--sweeps all -o " + test::Quote(Path("all.svg")) + " " + src);
  Run(run + "-o " + test::Quote(Path("traced-after.svg")) + " " + all);
  Run(run + "-o " + test::Quote(Path("one.svg")) + " " + src);
  EXPECT_TRUE(test::ReadText(Path("all.svg")) == test::ReadText(Path("traced-after.svg")));
  EXPECT_FALSE(test::ReadText(Path("all.svg")) == test::ReadText(Path("one.svg")));
  // One sweep leaves the thick cores as many short paths.
  EXPECT_LT(test::ReadText(Path("all.svg")).size() * 3, test::ReadText(Path("one.svg")).size());
}

TEST_F(CliSweepsTest, ListModeWithJobsGivesEachImagesOwnResult) {
  std::string list;
  for (int i = 0; i < 3; ++i) {
    const std::string name = "p" + std::to_string(i) + ".bmp";
    test::WriteBytes(Path(name), ThickPicture(i == 1, 120 + 10 * i, 150, unsigned(i)));
    list += name + "\n";
    Run("--sweeps 2 -o " + test::Quote(Path("single" + std::to_string(i) + ".bmp")) + " " +
        test::Quote(Path(name)));
  }
  test::WriteText(Path("list.txt"), list);
  Run("--list " + test::Quote(Path("list.txt")) + " --sweeps 2 -j 2");
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(test::ReadText(Path("p" + std::to_string(i) + "_s.bmp")) ==
                test::ReadText(Path("single" + std::to_string(i) + ".bmp")))
        << i;
}

}  // namespace
}  // namespace kevrale::cli
