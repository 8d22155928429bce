// What some formats hold beyond one plain picture: a GIF frame placed on a
// larger screen, the first of several frames or pages, and the density.
#include <gtest/gtest.h>

#include <cstring>

#include "SpiTestSupport.h"

namespace kevrale::spitest {
namespace {

// convert with two inputs: `first` then `second`, as frames or pages.
std::vector<uint8_t> EncodeTwo(const Image& first, const Image& second, const std::string& args,
                               const std::string& out_name) {
  TempFolder folder;
  WriteBytes(folder.File("second.pam"), PamBytes(second, PamKind::kRgb));
  // The second input goes in through the arguments, after the first.
  std::string arguments = "'";
  arguments += folder.File("second.pam");
  arguments += "' ";
  arguments += args;
  return Encode(first, PamKind::kRgb, arguments, out_name);
}

Image Flat(int width, int height, Rgba colour) {
  return MakeImage(width, height, [colour](int, int) { return colour; });
}

TEST(SpiFormatDetailsTest, AGifFrameSitsOnItsScreen) {
  const Image frame = PalettePicture();
  const std::vector<uint8_t> file = Encode(frame, PamKind::kRgb, "-page 50x40+5+3", "a.gif");
  ASSERT_FALSE(file.empty());
  Plugin plugin("gif");
  const Decoded d = DecodeMemory(plugin, file);
  ASSERT_EQ(d.result, SPI_SUCCESS);
  ASSERT_TRUE(d.dib_ok);
  ASSERT_EQ(d.image.width, 50);
  ASSERT_EQ(d.image.height, 40);
  for (int y = 0; y < frame.height; ++y)
    for (int x = 0; x < frame.width; ++x)
      ASSERT_EQ(d.image.At(x + 5, y + 3), frame.At(x, y)) << x << "," << y;
  // Around the frame, one colour: the screen's background.
  const Rgba background = d.image.At(0, 0);
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 50; ++x) {
      if (x < 5 || y < 3 || x >= 5 + frame.width || y >= 3 + frame.height) {
        ASSERT_EQ(d.image.At(x, y), background) << x << "," << y;
      }
    }
  }
}

struct FirstCase {
  const char* format;
  const char* args;
  const char* out;
};

class FirstOfManyTest : public ::testing::TestWithParam<FirstCase> {};

TEST_P(FirstOfManyTest, GivesTheFirstFrameOrPage) {
  const FirstCase& c = GetParam();
  const Image first = Flat(21, 17, {200, 30, 40});
  const Image second = Flat(21, 17, {10, 220, 90});
  const std::vector<uint8_t> file = EncodeTwo(first, second, c.args, c.out);
  ASSERT_FALSE(file.empty());
  Plugin plugin(c.format);
  const Decoded d = DecodeMemory(plugin, file);
  ASSERT_EQ(d.result, SPI_SUCCESS);
  ASSERT_TRUE(d.dib_ok);
  EXPECT_EQ(Compare(first, d.image, false).max, 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, FirstOfManyTest,
                         ::testing::Values(FirstCase{"gif", "-delay 10", "a.gif"},
                                           FirstCase{"tiff", "-compress LZW", "a.tif"},
                                           FirstCase{"webp", "-delay 10 -define webp:lossless=true",
                                                     "a.webp"}),
                         [](const auto& info) { return std::string(info.param.format); });

// The file up to the middle of its first scan's data, then `tail`.
std::vector<uint8_t> CutInsideTheScan(const std::vector<uint8_t>& file,
                                      const std::vector<uint8_t>& tail) {
  for (size_t i = 2; i + 4 < file.size(); ++i) {
    if (file[i] != 0xFF || file[i + 1] != 0xDA) continue;
    const size_t data = i + 2 + (size_t(file[i + 2]) << 8 | file[i + 3]);
    std::vector<uint8_t> cut(file.begin(),
                             file.begin() + ptrdiff_t(data + (file.size() - data) / 2));
    // A marker byte at the cut would make the tail a different marker.
    while (cut.back() == 0xFF) cut.pop_back();
    cut.insert(cut.end(), tail.begin(), tail.end());
    return cut;
  }
  ADD_FAILURE() << "no start-of-scan marker";
  return {};
}

TEST(SpiFormatDetailsTest, AJpegWhoseScanDataIsMissingIsBroken) {
  Plugin plugin("jpeg");
  const std::vector<uint8_t> baseline = Sample("jpeg");
  const std::vector<uint8_t> progressive =
      Encode(SmoothPicture(), PamKind::kRgb, "-quality 95 -interlace JPEG", "p.jpg");
  ASSERT_FALSE(progressive.empty());
  ASSERT_EQ(DecodeMemory(plugin, baseline).result, SPI_SUCCESS);
  ASSERT_EQ(DecodeMemory(plugin, progressive).result, SPI_SUCCESS);
  const std::vector<uint8_t> end_of_image = {0xFF, 0xD9};
  const std::vector<uint8_t> comment_then_end = {0xFF, 0xFE, 0x00, 0x04, 'c', 'u', 0xFF, 0xD9};
  for (const auto* whole : {&baseline, &progressive}) {
    SCOPED_TRACE(whole == &baseline ? "baseline" : "progressive");
    // The scan stops at an end-of-image marker or another segment.
    for (const auto* tail : {&end_of_image, &comment_then_end}) {
      const std::vector<uint8_t> cut = CutInsideTheScan(*whole, *tail);
      EXPECT_EQ(DecodeMemory(plugin, cut).result, SPI_BROKEN_DATA);
      EXPECT_EQ(DecodeFileWithOffset(plugin, cut).result, SPI_BROKEN_DATA);
    }
    // The data simply ends.
    EXPECT_EQ(DecodeMemory(plugin, CutInsideTheScan(*whole, {})).result, SPI_BROKEN_DATA);
  }
}

struct DensityCase {
  const char* format;
  const char* out;
};

class DensityTest : public ::testing::TestWithParam<DensityCase> {};

TEST_P(DensityTest, ReportsTheDensityInDotsPerInch) {
  const std::vector<uint8_t> file = Encode(ColourPicture(), PamKind::kRgb,
                                           "-units PixelsPerInch -density 300x150", GetParam().out);
  ASSERT_FALSE(file.empty());
  Plugin plugin(GetParam().format);
  SpiPictureInfo info;
  ASSERT_EQ(plugin.PictureInfo(reinterpret_cast<const char*>(file.data()), intptr_t(file.size()),
                               SPI_INPUT_MEMORY, &info),
            SPI_SUCCESS);
  EXPECT_EQ(info.x_density, 300);
  EXPECT_EQ(info.y_density, 150);
  // The bitmap carries it as pixels per metre.
  SpiHandle hinfo = nullptr, bits = nullptr;
  ASSERT_EQ(plugin.Picture(reinterpret_cast<const char*>(file.data()), intptr_t(file.size()),
                           SPI_INPUT_MEMORY, &hinfo, &bits, nullptr, 0),
            SPI_SUCCESS);
  const auto* header = static_cast<const uint8_t*>(LocalLock(hinfo));
  uint32_t x_ppm = 0, y_ppm = 0;
  std::memcpy(&x_ppm, header + 24, 4);
  std::memcpy(&y_ppm, header + 28, 4);
  EXPECT_NEAR(x_ppm, 11811, 2);
  EXPECT_NEAR(y_ppm, 5906, 2);
  LocalUnlock(hinfo);
  LocalFree(hinfo);
  LocalFree(bits);
}

INSTANTIATE_TEST_SUITE_P(Formats, DensityTest,
                         ::testing::Values(DensityCase{"png", "PNG24:a.png"},
                                           DensityCase{"jpeg", "a.jpg"},
                                           DensityCase{"tiff", "a.tif"}),
                         [](const auto& info) { return std::string(info.param.format); });

}  // namespace
}  // namespace kevrale::spitest
