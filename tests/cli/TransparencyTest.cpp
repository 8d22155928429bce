// Transparent line art as users have it: a PNG whose transparent pixels
// store the line colour, thinned by kevrale-thin and saved as PNG and as
// BMP; Python's PIL reads the results back, alpha included.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "PilReader.h"

namespace kevrale {
namespace {

using test::Quote;
using test::RunCli;
using test::RunCommand;
using test::RunResult;

// 60 x 40: a black bar 6 pixels thick across the middle on a transparent
// background whose pixels store black too, and one opaque white pixel.
constexpr const char* kMakeArt = R"(
import sys
from PIL import Image
im = Image.new('RGBA', (60, 40), (0, 0, 0, 0))
for y in range(17, 23):
    for x in range(5, 55):
        im.putpixel((x, y), (0, 0, 0, 255))
im.putpixel((1, 1), (255, 255, 255, 255))
im.save(sys.argv[1])
)";

// PIL's RRGGBBAA pixels of one file, row by row.
std::vector<std::string> PixelsOf(const std::string& out, size_t file) {
  std::istringstream lines(out);
  std::string header, pixels;
  for (size_t i = 0; i <= file; ++i) {
    std::getline(lines, header);
    std::getline(lines, pixels);
  }
  EXPECT_EQ(header, "RGBA 60 40") << "file " << file;
  std::vector<std::string> result;
  std::istringstream words(pixels);
  for (std::string w; words >> w;) result.push_back(w);
  return result;
}

class TransparencyTest : public test::CliFolderTest {};

TEST_F(TransparencyTest, TransparentPixelsAreNeverTheLineAndKeepTheirAlpha) {
  const std::string art = Path("art.png");
  const RunResult made = RunCommand("/usr/bin/python3 -c " + Quote(kMakeArt) + " " + Quote(art));
  if (made.output.find("No module named 'PIL'") != std::string::npos)
    GTEST_SKIP() << "PIL is not installed for /usr/bin/python3 (Debian's python3-pil)";
  ASSERT_EQ(made.status, 0) << made.output;

  for (const char* out : {"thin.png", "thin.bmp"}) {
    const RunResult r = RunCli("-o " + Quote(Path(out)) + " " + Quote(art));
    ASSERT_EQ(r.status, 0) << r.output;
  }
  std::string missing;
  const std::string out = pil::Describe({art, Path("thin.png"), Path("thin.bmp")}, missing);
  if (!missing.empty()) GTEST_SKIP() << missing;
  const std::vector<std::string> before = PixelsOf(out, 0);
  const std::vector<std::string> png = PixelsOf(out, 1);
  const std::vector<std::string> bmp = PixelsOf(out, 2);
  ASSERT_EQ(before.size(), 60u * 40u);
  ASSERT_EQ(png.size(), before.size());
  EXPECT_EQ(bmp, png) << "the BMP and the PNG hold different pixels";

  int line = 0, removed = 0;
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i] == "00000000") {
      EXPECT_EQ(png[i], "00000000") << "a transparent pixel changed at " << i;
    } else if (before[i] == "000000ff") {
      // The bar: its centre line stays black, the rest turns white, opaque.
      if (png[i] == "000000ff")
        ++line;
      else if (png[i] == "ffffffff")
        ++removed;
      else
        ADD_FAILURE() << "pixel " << i << " of the bar became " << png[i];
    } else {
      EXPECT_EQ(png[i], before[i]) << "pixel " << i;
    }
  }
  // One line 46 to 50 pixels long is left of the 300 pixels of the bar.
  EXPECT_GE(line, 40);
  EXPECT_LE(line, 50);
  EXPECT_EQ(line + removed, 300);
}

}  // namespace
}  // namespace kevrale
