// The bundled plug-ins as the program meets them: the host finds them by a
// search of the program's folder and the picture opens a file of each
// format by its extension.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "SpiTestSupport.h"
#include "picture/TPicture.h"
#include "plugins/SPIBitmapRegistration.h"
#include "plugins/TSPIs.h"

namespace kevrale::spitest {
namespace {

TEST(SpiHostTest, ThePictureOpensEveryFormatThroughTheBundledPlugins) {
  SPIBitmapRegistration registration;  // before the host: it outlives it
  auto host = std::make_unique<TSPIs>();
  host->SearchOptions = TSPISearchOptions{};
  host->Search(std::string(KEVRALE_BIN_DIR) + "/plugins/*.spi");
  ASSERT_EQ(host->Count(), 5);

  TempFolder folder;
  const struct {
    const char* format;
    const char* name;
    int tolerance;
  } kFiles[] = {{"png", "picture.png", 0},
                {"jpeg", "photo.JPG", 12},
                {"gif", "drawing.gif", 0},
                {"tiff", "scan.tiff", 0},
                {"webp", "web.webp", 0}};
  for (const auto& file : kFiles) {
    SCOPED_TRACE(file.name);
    const std::string path = folder.File(file.name);
    WriteBytes(path, Sample(file.format));
    TPicture picture;
    picture.LoadFromFile(path);
    ASSERT_TRUE(picture.HoldsBitmap());
    const Image expected = SamplePicture(file.format);
    ASSERT_EQ(picture.Bitmap().Width(), expected.width);
    ASSERT_EQ(picture.Bitmap().Height(), expected.height);
    int worst = 0;
    for (int y = 0; y < expected.height; ++y)
      for (int x = 0; x < expected.width; ++x) {
        const TColor c = picture.Pixel(x, y);
        const Rgba& e = expected.At(x, y);
        worst = std::max({worst, std::abs(int(c & 0xFF) - e.r), std::abs(int(c >> 8 & 0xFF) - e.g),
                          std::abs(int(c >> 16 & 0xFF) - e.b)});
      }
    EXPECT_LE(worst, file.tolerance);
  }
  host.reset();
}

// A PNG with transparency comes from its plug-in as a 32-bit DIB with alpha
// in the fourth byte; the picture holds it with its alpha.
TEST(SpiHostTest, APictureKeepsTheAlphaThatItsPluginHandsOver) {
  SPIBitmapRegistration registration;
  auto host = std::make_unique<TSPIs>();
  host->SearchOptions = TSPISearchOptions{};
  host->Search(std::string(KEVRALE_BIN_DIR) + "/plugins/ifpng.spi");
  ASSERT_EQ(host->Count(), 1);
  TempFolder folder;

  const Image art = BinaryAlphaPicture();
  const std::string path = folder.File("art.png");
  WriteBytes(path, Encode(art, PamKind::kRgbAlpha, "", "PNG32:a.png"));
  TPicture picture;
  picture.LoadFromFile(path);
  const TBitmap& bitmap = picture.Bitmap();
  ASSERT_EQ(bitmap.Width(), art.width);
  ASSERT_TRUE(bitmap.HasAlpha());
  int transparent = 0;
  for (int y = 0; y < art.height; ++y)
    for (int x = 0; x < art.width; ++x) {
      const Rgba& e = art.At(x, y);
      const uint8_t* p = bitmap.ScanLine(y) + 4 * x;
      ASSERT_EQ(p[3], e.a) << x << "," << y;
      transparent += e.a == 0;
      if (e.a != 0) {
        ASSERT_EQ(bitmap.Pixel(x, y), RGB(e.r, e.g, e.b)) << x << "," << y;
      }
    }
  EXPECT_GT(transparent, 0);

  host.reset();
}

}  // namespace
}  // namespace kevrale::spitest
