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
using test::Quote;
using test::RunCli;
using test::RunCommand;
using test::RunResult;

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
      RunCommand(std::string(kPython) + " " + Quote(KEVRALE_SOURCE_DIR "/tests/cli/svg_paths.py") +
                 " " + Quote(path));
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

constexpr TColor kBlue = RGB(0x12, 0x34, 0xAB);

class VectorOutputTest : public test::CliFolderTest {
 protected:
  void SetUp() override {
    test::CliFolderTest::SetUp();
    if (!fs::exists(kPython)) GTEST_SKIP() << kPython << " is missing (Debian's python3)";
  }

  // Thick strokes, a ring and a lone dot in `ink` on white.
  std::string WriteDrawing(const std::string& name, TColor ink) {
    TBitmap b(90, 70);
    for (int y = 0; y < 70; ++y)
      for (int x = 0; x < 90; ++x) {
        const double r = std::hypot(x - 60.0, y - 40.0);
        const bool bar = y >= 8 && y < 13 && x >= 5 && x < 80;
        const bool slant = std::abs((x - 5) - (y - 15)) < 3 && y >= 15 && y < 65;
        b.SetPixel(x, y,
                   bar || slant || (r >= 14 && r < 18) || (x == 3 && y == 66) ? ink : clWhite);
      }
    b.SaveToFile(Path(name));
    return Path(name);
  }

  // A plus of one-pixel lines, which thinning leaves as it is: the arm up
  // from (20, 10) has 3 pixels, the others 15 and more.
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
  const std::string source = WriteDrawing("drawing.bmp", kBlue);
  ASSERT_EQ(RunCli("--target 1234ab " + Quote(source)).status, 0);
  TBitmap thinned;
  thinned.LoadFromFile(Path("drawing_s.bmp"));
  const Pixels skeleton = PixelsOfColour(thinned, kBlue);
  ASSERT_GT(skeleton.size(), 100u);

  // The name chooses SVG whatever the case of its extension; the colour
  // picked from a pixel of the bar is the one traced and stroked.
  const RunResult r =
      RunCli("--target-at 10,10 -o " + Quote(Path("lines.SVG")) + " " + Quote(source));
  ASSERT_EQ(r.status, 0) << r.output;
  const SvgDocument doc = ReadSvg(Path("lines.SVG"));
  EXPECT_EQ(doc.width, 90);
  EXPECT_EQ(doc.height, 70);
  std::string problem;
  EXPECT_EQ(PixelsOf(doc, problem), skeleton);
  EXPECT_EQ(problem, "");
  bool any_closed = false;  // the ring
  for (const SvgPath& p : doc.paths) {
    EXPECT_EQ(p.stroke, "#1234ab");
    any_closed |= p.closed;
  }
  EXPECT_TRUE(any_closed);

  // Without the target colour: an empty document of the picture's size.
  ASSERT_EQ(RunCli("-o " + Quote(Path("none.svg")) + " " + Quote(source)).status, 0);
  const SvgDocument none = ReadSvg(Path("none.svg"));
  EXPECT_EQ(none.width, 90);
  EXPECT_TRUE(none.paths.empty());
}

TEST_F(VectorOutputTest, PruneCutsShortBranchesInBmpAndSvg) {
  const std::string source = WritePlus("plus.bmp");
  ASSERT_EQ(RunCli("--prune 4 --surround ff0000 " + Quote(source)).status, 0);
  TBitmap pruned;
  pruned.LoadFromFile(Path("plus_s.bmp"));
  EXPECT_EQ(PixelsOfColour(pruned, RGB(255, 0, 0)), (Pixels{{20, 7}, {20, 8}, {20, 9}}));
  EXPECT_EQ(pruned.Pixel(20, 10), clBlack);  // the junction stays

  ASSERT_EQ(RunCli("--prune 4 -o " + Quote(Path("plus.svg")) + " " + Quote(source)).status, 0);
  std::string problem;
  EXPECT_EQ(PixelsOf(ReadSvg(Path("plus.svg")), problem), PixelsOfColour(pruned, clBlack));
}

TEST_F(VectorOutputTest, ListModeSavesSvgUnderItsOwnName) {
  WriteDrawing("a.bmp", clBlack);
  WritePlus("b.bmp");
  std::ofstream(Path("list.txt")) << "a.bmp\nb.bmp\n";
  const RunResult r =
      RunCli("--format svg --prune 4 --simplify 0.5 --list " + Quote(Path("list.txt")));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_FALSE(fs::exists(Path("a_s.bmp")));
  EXPECT_FALSE(ReadSvg(Path("a_s.svg")).paths.empty());
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
}

}  // namespace
}  // namespace kevrale
