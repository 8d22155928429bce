// Every bundled plug-in decodes files that ImageMagick wrote from known
// pixels: through memory input and through file input at an offset, to
// the same bitmap, with the pixels the encoder was given (exactly for the
// lossless kinds, within a bound for the lossy ones), the bit count that
// the source's kind calls for, a matching GetPictureInfo and progress from
// 0 to the total.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "SpiTestSupport.h"

namespace kevrale::spitest {
namespace {

// What the encoder must have written, so that each case really tests the
// kind it names.
using FileCheck = void (*)(const std::vector<uint8_t>& file);

struct DecodeCase {
  const char* name;
  const char* format;
  Image (*picture)();
  PamKind kind;
  const char* args;    // for convert, before the output
  const char* output;  // the output's name, with a format prefix when needed
  int bits;            // of the bitmap
  uint32_t colors;     // biClrUsed
  int max_error;       // 0: exact
  double mean_error;
  bool alpha;
  FileCheck check;
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
  *os << c.name;
}

// PNG: bit depth, colour type and interlace method of the IHDR chunk.
template <int Depth, int ColorType, int Interlace>
void PngHeader(const std::vector<uint8_t>& file) {
  ASSERT_GT(file.size(), 29u);
  EXPECT_EQ(file[24], Depth) << "bit depth";
  EXPECT_EQ(file[25], ColorType) << "colour type";
  EXPECT_EQ(file[28], Interlace) << "interlace";
}

// JPEG: the frame marker (0xC0 baseline, 0xC2 progressive) and the number
// of components.
template <int Marker, int Components>
void JpegFrame(const std::vector<uint8_t>& file) {
  for (size_t i = 2; i + 9 < file.size(); ++i) {
    if (file[i] == 0xFF && file[i + 1] >= 0xC0 && file[i + 1] <= 0xC3) {
      EXPECT_EQ(file[i + 1], Marker) << "frame marker";
      EXPECT_EQ(file[i + 9], Components) << "components";
      return;
    }
  }
  ADD_FAILURE() << "no frame marker";
}

// GIF: whether the first frame is interlaced and has a transparent colour.
template <bool Interlaced, bool Transparent>
void GifFrame(const std::vector<uint8_t>& file) {
  bool transparent = false;
  size_t i = 13 + ((file[10] & 0x80) ? 3u << ((file[10] & 7) + 1) : 0u);
  while (i < file.size() && file[i] == 0x21) {
    if (file[i + 1] == 0xF9) transparent = (file[i + 3] & 1) != 0;
    i += 2;
    while (i < file.size() && file[i] != 0) i += file[i] + 1u;
    ++i;
  }
  ASSERT_LT(i + 9, file.size());
  ASSERT_EQ(file[i], 0x2C) << "image descriptor";
  EXPECT_EQ((file[i + 9] & 0x40) != 0, Interlaced) << "interlace";
  EXPECT_EQ(transparent, Transparent) << "transparency";
}

// WebP: the chunk after the RIFF header ("VP8 " lossy, "VP8L" lossless,
// "VP8X" extended).
template <char Last>
void WebpChunk(const std::vector<uint8_t>& file) {
  ASSERT_GT(file.size(), 16u);
  EXPECT_EQ(std::string(file.begin() + 12, file.begin() + 15), "VP8");
  EXPECT_EQ(file[15], Last);
}

Image Grey4() {
  return GreyLevelsPicture(4);
}
Image SmoothGrey() {
  Image image = SmoothPicture();
  for (Rgba& p : image.pixels) p.g = p.b = p.r;
  return image;
}

const char* const kPal8 = "-define png:bit-depth=8 -define png:color-type=3";
const char* const kPal4 = "-define png:bit-depth=4 -define png:color-type=3";

const DecodeCase kCases[] = {
    // PNG
    {"PngGrey8", "png", GreyPicture, PamKind::kGrey,
     "-define png:color-type=0 -define png:bit-depth=8", "a.png", 8, 256, 0, 0, false,
     PngHeader<8, 0, 0>},
    {"PngGrey1", "png", BilevelPicture, PamKind::kGrey,
     "-define png:color-type=0 -define png:bit-depth=1", "a.png", 1, 2, 0, 0, false,
     PngHeader<1, 0, 0>},
    {"PngGrey2", "png", Grey4, PamKind::kGrey, "-define png:color-type=0 -define png:bit-depth=2",
     "a.png", 8, 4, 0, 0, false, PngHeader<2, 0, 0>},
    {"PngGrey16", "png", GreyPicture, PamKind::kGrey,
     "-depth 16 -define png:color-type=0 -define png:bit-depth=16", "a.png", 8, 256, 0, 0, false,
     PngHeader<16, 0, 0>},
    {"PngPalette8", "png", PalettePicture, PamKind::kRgb, kPal8, "a.png", 8, 12, 0, 0, false,
     PngHeader<8, 3, 0>},
    {"PngPalette4", "png", PalettePicture, PamKind::kRgb, kPal4, "a.png", 4, 12, 0, 0, false,
     PngHeader<4, 3, 0>},
    {"PngPaletteTransparent", "png", BinaryAlphaPicture, PamKind::kRgbAlpha, "", "PNG8:a.png", 32,
     0, 0, 0, true, PngHeader<8, 3, 0>},
    {"PngRgb8", "png", ColourPicture, PamKind::kRgb, "", "PNG24:a.png", 24, 0, 0, 0, false,
     PngHeader<8, 2, 0>},
    {"PngRgba8", "png", AlphaPicture, PamKind::kRgbAlpha, "", "PNG32:a.png", 32, 0, 0, 0, true,
     PngHeader<8, 6, 0>},
    {"PngGreyAlpha", "png", GreyAlphaPicture, PamKind::kGreyAlpha, "-define png:color-type=4",
     "a.png", 32, 0, 0, 0, true, PngHeader<8, 4, 0>},
    {"PngRgb16", "png", ColourPicture, PamKind::kRgb, "-depth 16", "PNG48:a.png", 24, 0, 0, 0,
     false, PngHeader<16, 2, 0>},
    {"PngRgba16", "png", AlphaPicture, PamKind::kRgbAlpha, "-depth 16", "PNG64:a.png", 32, 0, 0, 0,
     true, PngHeader<16, 6, 0>},
    {"PngInterlacedRgb", "png", ColourPicture, PamKind::kRgb, "-interlace PNG", "PNG24:a.png", 24,
     0, 0, 0, false, PngHeader<8, 2, 1>},
    {"PngInterlacedPalette4", "png", PalettePicture, PamKind::kRgb,
     "-interlace PNG -define png:bit-depth=4 -define png:color-type=3", "a.png", 4, 12, 0, 0, false,
     PngHeader<4, 3, 1>},
    // JPEG
    {"JpegBaseline", "jpeg", SmoothPicture, PamKind::kRgb, "-quality 95", "a.jpg", 24, 0, 12, 2.0,
     false, JpegFrame<0xC0, 3>},
    {"JpegProgressive", "jpeg", SmoothPicture, PamKind::kRgb, "-quality 95 -interlace JPEG",
     "a.jpg", 24, 0, 12, 2.0, false, JpegFrame<0xC2, 3>},
    {"JpegGrey", "jpeg", SmoothGrey, PamKind::kGrey, "-quality 95 -type Grayscale", "a.jpg", 8, 256,
     6, 1.5, false, JpegFrame<0xC0, 1>},
    {"JpegCmyk", "jpeg", SmoothPicture, PamKind::kRgb, "-quality 95 -colorspace CMYK", "a.jpg", 24,
     0, 16, 3.0, false, JpegFrame<0xC0, 4>},
    // GIF
    {"GifPalette", "gif", PalettePicture, PamKind::kRgb, "", "a.gif", 8, 0, 0, 0, false,
     GifFrame<false, false>},
    {"GifInterlaced", "gif", PalettePicture, PamKind::kRgb, "-interlace GIF", "a.gif", 8, 0, 0, 0,
     false, GifFrame<true, false>},
    {"GifTransparent", "gif", BinaryAlphaPicture, PamKind::kRgbAlpha, "", "a.gif", 32, 0, 0, 0,
     true, GifFrame<false, true>},
    // TIFF
    {"TiffBilevelG4", "tiff", BilevelPicture, PamKind::kGrey, "-type Bilevel -compress Group4",
     "a.tif", 1, 2, 0, 0, false, nullptr},
    {"TiffBilevelTiled", "tiff", BilevelPicture, PamKind::kGrey,
     "-type Bilevel -depth 1 -define tiff:tile-geometry=16x16", "a.tif", 1, 2, 0, 0, false,
     nullptr},
    {"TiffGreyLzw", "tiff", GreyPicture, PamKind::kGrey, "-compress LZW", "a.tif", 8, 256, 0, 0,
     false, nullptr},
    {"TiffPalette", "tiff", PalettePicture, PamKind::kRgb, "-type Palette -compress LZW", "a.tif",
     4, 16, 0, 0, false, nullptr},
    {"TiffRgbLzw", "tiff", ColourPicture, PamKind::kRgb, "-compress LZW", "a.tif", 24, 0, 0, 0,
     false, nullptr},
    {"TiffRgbTiled", "tiff", ColourPicture, PamKind::kRgb,
     "-compress LZW -define tiff:tile-geometry=16x16", "a.tif", 24, 0, 0, 0, false, nullptr},
    {"TiffRgba", "tiff", AlphaPicture, PamKind::kRgbAlpha, "-compress LZW", "a.tif", 32, 0, 0, 0,
     true, nullptr},
    {"TiffRgb16", "tiff", ColourPicture, PamKind::kRgb, "-depth 16", "a.tif", 24, 0, 0, 0, false,
     nullptr},
    {"TiffCmyk", "tiff", SmoothPicture, PamKind::kRgb, "-colorspace CMYK", "a.tif", 24, 0, 2, 1.0,
     false, nullptr},
    {"TiffJpeg", "tiff", SmoothPicture, PamKind::kRgb, "-compress JPEG -quality 95", "a.tif", 24, 0,
     12, 2.0, false, nullptr},
    // WebP
    {"WebpLossless", "webp", ColourPicture, PamKind::kRgb, "-define webp:lossless=true", "a.webp",
     24, 0, 0, 0, false, WebpChunk<'L'>},
    {"WebpLosslessAlpha", "webp", AlphaPicture, PamKind::kRgbAlpha,
     "-define webp:lossless=true -define webp:exact=true", "a.webp", 32, 0, 0, 0, true, nullptr},
    {"WebpLossy", "webp", SmoothPicture, PamKind::kRgb, "-quality 90", "a.webp", 24, 0, 24, 3.0,
     false, WebpChunk<' '>},
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, GivesTheEncodersPixels) {
  const DecodeCase& c = GetParam();
  const Image picture = c.picture();
  const std::vector<uint8_t> file = Encode(picture, c.kind, c.args, c.output);
  ASSERT_FALSE(file.empty());
  if (c.check != nullptr) c.check(file);

  Plugin plugin(c.format);
  ASSERT_TRUE(plugin.Loaded());
  EXPECT_TRUE(plugin.Supports(file));

  const Decoded memory = DecodeMemory(plugin, file);
  ASSERT_EQ(memory.result, SPI_SUCCESS);
  ASSERT_TRUE(memory.dib_ok) << "the host's DIB check refuses it";
  EXPECT_EQ(memory.bits, c.bits);
  if (c.colors != 0) {
    EXPECT_EQ(memory.colors, c.colors);
  }
  const Difference d = Compare(picture, memory.image, c.alpha);
  EXPECT_LE(d.max, c.max_error);
  EXPECT_LE(d.mean, c.mean_error + 1e-9);
  if (c.max_error == 0) {
    EXPECT_EQ(d.max, 0);
  }

  // The same bitmap, byte for byte, from a file in which the picture starts
  // at byte 128.
  const Decoded from_file = DecodeFileWithOffset(plugin, file);
  ASSERT_EQ(from_file.result, SPI_SUCCESS);
  EXPECT_EQ(from_file.raw, memory.raw);

  // Progress from 0 to the total, never backwards.
  ASSERT_GE(memory.progress.size(), 2u);
  EXPECT_EQ(memory.progress.front(), 0);
  EXPECT_EQ(memory.progress.back(), memory.progress_total);
  EXPECT_TRUE(std::is_sorted(memory.progress.begin(), memory.progress.end()));
  EXPECT_LE(memory.progress.size(), 110u) << "a report for every few rows at most";

  SpiPictureInfo info;
  std::memset(&info, 0x55, sizeof info);
  ASSERT_EQ(plugin.PictureInfo(reinterpret_cast<const char*>(file.data()), intptr_t(file.size()),
                               SPI_INPUT_MEMORY, &info),
            SPI_SUCCESS);
  EXPECT_EQ(info.left, 0);
  EXPECT_EQ(info.top, 0);
  EXPECT_EQ(info.width, picture.width);
  EXPECT_EQ(info.height, picture.height);
  EXPECT_EQ(int(info.colorDepth), c.bits);
  const SpiHandle text = info.hInfo;  // a copy: the packed field is misaligned
  EXPECT_EQ(text, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Formats, DecodeTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kevrale::spitest
