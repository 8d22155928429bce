// kevrale-thin's SVG output and spur pruning, as a user runs them. Each SVG
// is read back by Python's XML parser (svg_paths.py), not by our code.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "CliProcess.h"
#include "picture/TBitmap.h"

namespace kevrale {
namespace {

namespace fs = std::filesystem;
using testing::Quote;
using testing::RunCli;
using testing::RunCommand;
using testing::RunResult;

using Pixels = std::set<std::pair<int, int>>;

struct SvgPath {
  std::string stroke;
  bool closed = false;
  std::vector<std::pair<double, double>> points;
};

struct SvgDocument {
  int width = -1;
  int height = -1;
  std::vector<SvgPath> paths;
};

constexpr const char* kPython = "/usr/bin/python3";

// The document as the Python reader sees it; a failure of the reader
// fails the test.
SvgDocument ReadSvg(const std::string& path) {
  SvgDocument doc;
  const RunResult r =
      RunCommand(std::string(kPython) + " " +
                 Quote(KEVRALE_SOURCE_DIR "/tests/unit/cli/svg_paths.py") + " " + Quote(path));
  EXPECT_EQ(r.status, 0) << r.output;
  std::istringstream in(r.output);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string kind;
    words >> kind;
    if (kind == "size") {
      words >> doc.width >> doc.height;
    } else if (kind == "path") {
      SvgPath p;
      std::string closed;
      words >> p.stroke >> closed;
      p.closed = closed == "closed";
      for (std::string xy; words >> xy;) {
        const size_t comma = xy.find(',');
        p.points.push_back({std::stod(xy.substr(0, comma)), std::stod(xy.substr(comma + 1))});
      }
      doc.paths.push_back(p);
    }
  }
  return doc;
}

// The pixels whose centres the paths pass through, drawn segment by
// segment; `problem` tells of a point off the pixel centres or a segment
// that is not a straight run of pixels in one of the eight directions.
Pixels PixelsOf(const SvgDocument& doc, std::string& problem) {
  Pixels pixels;
  for (const SvgPath& p : doc.paths) {
    std::vector<std::pair<int, int>> centres;
    for (const auto& [x, y] : p.points) {
      if (x - 0.5 != std::floor(x) || y - 0.5 != std::floor(y)) problem = "a point off the centres";
      centres.push_back({int(std::floor(x)), int(std::floor(y))});
    }
    if (p.closed) centres.push_back(centres.front());
    pixels.insert(centres.front());
    for (size_t i = 1; i < centres.size(); ++i) {
      const int dx = centres[i].first - centres[i - 1].first;
      const int dy = centres[i].second - centres[i - 1].second;
      if (dx != 0 && dy != 0 && std::abs(dx) != std::abs(dy)) problem = "a segment off the runs";
      const int n = std::max(std::abs(dx), std::abs(dy));
      for (int k = 1; k <= n; ++k)
        pixels.insert({centres[i - 1].first + k * ((dx > 0) - (dx < 0)),
                       centres[i - 1].second + k * ((dy > 0) - (dy < 0))});
    }
  }
  return pixels;
}

Pixels PixelsOfColour(const TBitmap& b, TColor colour) {
  Pixels pixels;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      if (b.Pixel(x, y) == colour) pixels.insert({x, y});
  return pixels;
}

constexpr TColor kRed = RGB(255, 0, 0);

class VectorOutputTest : public testing::CliFolderTest {
 protected:
  void SetUp() override {
    testing::CliFolderTest::SetUp();
    if (!fs::exists(kPython)) GTEST_SKIP() << kPython << " is missing (Debian's python3)";
  }

  // Thick strokes, a ring and a lone dot in `ink` on white, with a red
  // patch that is not ink.
  std::string WriteDrawing(const std::string& name, TColor ink = clBlack) {
    TBitmap b(90, 70);
    for (int y = 0; y < 70; ++y)
      for (int x = 0; x < 90; ++x) {
        const double r = std::hypot(x - 60.0, y - 40.0);
        const bool bar = y >= 8 && y < 13 && x >= 5 && x < 80;
        const bool slant = std::abs((x - 5) - (y - 15)) < 3 && y >= 15 && y < 65;
        const bool ring = r >= 14 && r < 18;
        const bool dot = x == 3 && y == 66;
        b.SetPixel(x, y, bar || slant || ring || dot ? ink : clWhite);
        if (x >= 80 && y >= 60) b.SetPixel(x, y, kRed);
      }
    b.SaveToFile(Path(name));
    return Path(name);
  }

  // A plus of one-pixel lines, which thinning leaves as it is: the arm up
  // from (20, 10) has 3 pixels, the others 12 and more.
  std::string WritePlus(const std::string& name) {
    TBitmap b(40, 30);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x)
        b.SetPixel(
            x, y,
            (y == 10 && x >= 4 && x <= 36) || (x == 20 && y >= 7 && y <= 25) ? clBlack : clWhite);
    b.SaveToFile(Path(name));
    return Path(name);
  }
};

TEST_F(VectorOutputTest, TheSvgPassesThroughExactlyTheThinnedPixels) {
  const std::string source = WriteDrawing("drawing.bmp");
  ASSERT_EQ(RunCli(Quote(source)).status, 0);
  TBitmap thinned;
  thinned.LoadFromFile(Path("drawing_s.bmp"));
  const Pixels skeleton = PixelsOfColour(thinned, clBlack);
  ASSERT_GT(skeleton.size(), 100u);

  // The name chooses SVG whatever the case of its extension.
  const RunResult r = RunCli("-o " + Quote(Path("lines.SVG")) + " " + Quote(source));
  ASSERT_EQ(r.status, 0) << r.output;
  const SvgDocument doc = ReadSvg(Path("lines.SVG"));
  EXPECT_EQ(doc.width, 90);
  EXPECT_EQ(doc.height, 70);
  std::string problem;
  EXPECT_EQ(PixelsOf(doc, problem), skeleton);
  EXPECT_EQ(problem, "");
  // Bar, slant, ring (one closed path) and dot at least; one colour.
  EXPECT_GE(doc.paths.size(), 4u);
  bool any_closed = false;
  for (const SvgPath& p : doc.paths) {
    EXPECT_EQ(p.stroke, "#000000");
    any_closed |= p.closed;
  }
  EXPECT_TRUE(any_closed);
}

TEST_F(VectorOutputTest, TheStrokeIsTheTargetColour) {
  const TColor blue = RGB(0x12, 0x34, 0xAB);
  const std::string source = WriteDrawing("blue.bmp", blue);
  ASSERT_EQ(
      RunCli("--target 1234ab -o " + Quote(Path("blue.bmp.svg")) + " " + Quote(source)).status, 0);
  const SvgDocument doc = ReadSvg(Path("blue.bmp.svg"));
  ASSERT_FALSE(doc.paths.empty());
  for (const SvgPath& p : doc.paths) EXPECT_EQ(p.stroke, "#1234ab");
  // --target-at takes the colour from the picture: the red patch.
  ASSERT_EQ(RunCli("--target-at 85,65 -o " + Quote(Path("red.svg")) + " " + Quote(source)).status,
            0);
  const SvgDocument red = ReadSvg(Path("red.svg"));
  ASSERT_FALSE(red.paths.empty());
  EXPECT_EQ(red.paths[0].stroke, "#ff0000");
}

TEST_F(VectorOutputTest, APictureWithoutTheTargetGivesAnEmptyDocument) {
  TBitmap white(12, 7);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 12; ++x) white.SetPixel(x, y, clWhite);
  white.SaveToFile(Path("white.bmp"));
  ASSERT_EQ(RunCli("-o " + Quote(Path("white.svg")) + " " + Quote(Path("white.bmp"))).status, 0);
  const SvgDocument doc = ReadSvg(Path("white.svg"));
  EXPECT_EQ(doc.width, 12);
  EXPECT_EQ(doc.height, 7);
  EXPECT_TRUE(doc.paths.empty());
}

TEST_F(VectorOutputTest, SimplifiedPathsKeepTheirEndsAndFewerPoints) {
  const std::string source = WriteDrawing("d.bmp");
  ASSERT_EQ(RunCli("-o " + Quote(Path("exact.svg")) + " " + Quote(source)).status, 0);
  ASSERT_EQ(RunCli("--simplify 1.5 -o " + Quote(Path("simple.svg")) + " " + Quote(source)).status,
            0);
  const SvgDocument exact = ReadSvg(Path("exact.svg"));
  const SvgDocument simple = ReadSvg(Path("simple.svg"));
  size_t exact_points = 0, simple_points = 0;
  for (const SvgPath& p : exact.paths) exact_points += p.points.size();
  for (const SvgPath& p : simple.paths) simple_points += p.points.size();
  EXPECT_EQ(simple.paths.size(), exact.paths.size());
  EXPECT_LT(simple_points, exact_points);
  // Every point kept is a pixel of the exact lines.
  std::string problem;
  const Pixels pixels = PixelsOf(exact, problem);
  for (const SvgPath& p : simple.paths)
    for (const auto& [x, y] : p.points)
      EXPECT_TRUE(pixels.count({int(std::floor(x)), int(std::floor(y))})) << x << "," << y;
}

TEST_F(VectorOutputTest, PruneCutsShortBranchesInBmpAndSvg) {
  const std::string source = WritePlus("plus.bmp");
  ASSERT_EQ(RunCli("--prune 4 --surround ff0000 " + Quote(source)).status, 0);
  TBitmap pruned;
  pruned.LoadFromFile(Path("plus_s.bmp"));
  EXPECT_EQ(PixelsOfColour(pruned, kRed), (Pixels{{20, 7}, {20, 8}, {20, 9}}));
  EXPECT_EQ(pruned.Pixel(20, 10), clBlack);  // the junction stays
  EXPECT_EQ(PixelsOfColour(pruned, clBlack).size(), 33u + 15u);
  // Three pixels are not shorter than 3.
  ASSERT_EQ(RunCli("--prune 3 -o " + Quote(Path("kept.bmp")) + " " + Quote(source)).status, 0);
  TBitmap kept;
  kept.LoadFromFile(Path("kept.bmp"));
  EXPECT_EQ(PixelsOfColour(kept, clBlack).size(), 33u + 18u);

  ASSERT_EQ(RunCli("--prune 4 -o " + Quote(Path("plus.svg")) + " " + Quote(source)).status, 0);
  std::string problem;
  EXPECT_EQ(PixelsOf(ReadSvg(Path("plus.svg")), problem), PixelsOfColour(pruned, clBlack));
}

TEST_F(VectorOutputTest, ListModeSavesSvgUnderItsOwnName) {
  WriteDrawing("a.bmp");
  WritePlus("b.bmp");
  std::ofstream(Path("list.txt")) << "a.bmp\nb.bmp\n";
  const RunResult r =
      RunCli("--format svg --prune 4 --simplify 0.5 --list " + Quote(Path("list.txt")));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_FALSE(fs::exists(Path("a_s.bmp")));
  EXPECT_EQ(ReadSvg(Path("a_s.svg")).width, 90);
  std::string problem;
  const Pixels plus = PixelsOf(ReadSvg(Path("b_s.svg")), problem);
  EXPECT_FALSE(plus.count({20, 8}));  // pruned
  EXPECT_TRUE(plus.count({20, 10}));

  // The same list as BMP, pruned alike.
  ASSERT_EQ(RunCli("--prune 4 --list " + Quote(Path("list.txt"))).status, 0);
  TBitmap b;
  b.LoadFromFile(Path("b_s.bmp"));
  EXPECT_EQ(b.Pixel(20, 8), clWhite);
  EXPECT_EQ(b.Pixel(20, 10), clBlack);
}

TEST_F(VectorOutputTest, AFailedSaveSaysWhereAndWritesNothing) {
  const std::string source = WritePlus("p.bmp");
  const std::string missing = Path("no/such/folder/p.svg");
  const RunResult r = RunCli("-o " + Quote(missing) + " " + Quote(source));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("ファイル " + missing + " を作成できません"), std::string::npos)
      << r.output;
  EXPECT_FALSE(fs::exists(missing));
}

TEST_F(VectorOutputTest, UsageErrors) {
  const std::string source = WritePlus("p.bmp");
  for (const std::string& bad : std::vector<std::string>{
           "--simplify 1 " + source,             // BMP output
           "--simplify 1 -o x.bmp " + source,    // BMP output
           "--simplify -1 -o x.svg " + source,   // negative
           "--simplify nan -o x.svg " + source,  // not a number of pixels
           "--prune -2 " + source,               // negative
           "--prune three " + source,            // not a number
           "--format gif " + source,             // no such format
           "--format svg -o x.svg " + source,    // two ways to name the format
           std::string("--format svg --list l.txt --simplify 1e999"),  // infinite
       })
    EXPECT_EQ(RunCli(bad).status, 2) << bad;
  const RunResult help = RunCli("--help");
  for (const char* option : {"--prune N", "--simplify T", "--format FORMAT"})
    EXPECT_NE(help.output.find(option), std::string::npos) << option;
}

}  // namespace
}  // namespace kevrale
