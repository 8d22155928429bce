// TSPIGraphic: the facts it derives from a plug-in's DIB, the BMP it
// writes, and the picture it renders.
#include <gtest/gtest.h>

#include <cstring>

#include "DecodingSupport.h"
#include "picture/TBitmap.h"
#include "platform/Exception.h"
#include "plugins/TSPIGraphic.h"

namespace kevrale {
namespace {

using test::Pixels;
using test::TestHost;

uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}

// A 7 x 3 picture of `count` colours whose channels are 0 or 255, which
// every bit count of the test decoders holds exactly.
Pixels Picture(int count) {
  static const TColor kColours[] = {RGB(0, 0, 0),     RGB(255, 255, 255), RGB(255, 0, 0),
                                    RGB(0, 255, 0),   RGB(0, 0, 255),     RGB(255, 255, 0),
                                    RGB(0, 255, 255), RGB(255, 0, 255)};
  return test::MakePixels(7, 3,
                          [count](int x, int y) { return kColours[(x * 3 + y * 5) % count]; });
}

class SPIGraphicTest : public ::testing::Test {
 protected:
  std::string Write(const Pixels& pixels, const std::string& name = "a.kvt") {
    const std::string path = folder_.File(name);
    test::WriteBytes(path, test::KvtBytes(pixels));
    return path;
  }
  std::vector<uint8_t> Saved(const TSPIGraphic& graphic) {
    TMemoryStream stream;
    graphic.SaveToStream(stream);
    return stream.Data();
  }

  test::TempFolder folder_;
};

TEST_F(SPIGraphicTest, AnEightBitDibWithColoursUsedZeroIsWrittenWithAFullTable) {
  TestHost host({"kvt_pal8"});
  TSPIGraphic graphic;
  graphic.LoadFromFile(Write(test::FourColours()));
  EXPECT_EQ(graphic.ColorCount(), 256u);
  EXPECT_EQ(graphic.InfoSize(), 1064u);
  EXPECT_EQ(graphic.ImageSize(), 2u * 4u);
  EXPECT_FALSE(graphic.IsFourBit());

  const std::vector<uint8_t> bmp = Saved(graphic);
  ASSERT_EQ(bmp.size(), 14u + 1064u + 8u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(Get32(bmp, 2), bmp.size());
  EXPECT_EQ(Get32(bmp, 6), 0u) << "reserved words";
  EXPECT_EQ(Get32(bmp, 10), 14u + 1064u);
  const auto* info = static_cast<const uint8_t*>(graphic.Source()->LockInfo());
  const auto* bits = static_cast<const uint8_t*>(graphic.Source()->LockBits());
  EXPECT_EQ(std::memcmp(bmp.data() + 14, info, 1064), 0) << "the info block as returned";
  EXPECT_EQ(std::memcmp(bmp.data() + 14 + 1064, bits, 8), 0);

  // The palette: the table's colours in order, the unused entries black.
  const TPalette& palette = graphic.Palette();
  ASSERT_EQ(palette.size(), 256u);
  EXPECT_EQ(palette[0], (TPaletteEntry{255, 0, 0, 0}));
  EXPECT_EQ(palette[1], (TPaletteEntry{0, 255, 0, 0}));
  EXPECT_EQ(palette[2], (TPaletteEntry{0, 0, 255, 0}));
  EXPECT_EQ(palette[3], (TPaletteEntry{255, 255, 255, 0}));
  EXPECT_EQ(palette[4], (TPaletteEntry{0, 0, 0, 0}));
}

TEST_F(SPIGraphicTest, AShortColourTableGivesItsOwnSize) {
  TestHost host({"kvt_pal8_exact"});
  TSPIGraphic graphic;
  graphic.LoadFromFile(Write(test::FourColours()));
  EXPECT_EQ(graphic.ColorCount(), 4u);
  EXPECT_EQ(graphic.InfoSize(), 56u);
  EXPECT_EQ(Get32(Saved(graphic), 10), 14u + 56u);
  EXPECT_EQ(graphic.Palette().size(), 4u);
}

TEST_F(SPIGraphicTest, ATwentyFourBitDibHasNoTableAndItsPixelsAt54) {
  TestHost host({"kvt_basic"});
  TSPIGraphic graphic;
  graphic.LoadFromFile(Write(test::FourColours()));
  EXPECT_EQ(graphic.Width(), 3);
  EXPECT_EQ(graphic.Height(), 2);
  EXPECT_EQ(graphic.ColorCount(), 0u);
  EXPECT_EQ(graphic.InfoSize(), 40u);
  EXPECT_EQ(graphic.ImageSize(), 2u * 12u);
  EXPECT_TRUE(graphic.Palette().empty());
  const std::vector<uint8_t> bmp = Saved(graphic);
  EXPECT_EQ(bmp.size(), 14u + 40u + 24u);
  EXPECT_EQ(Get32(bmp, 10), 54u);
}

TEST_F(SPIGraphicTest, ATopDownDibReportsANegativeHeightAndDrawsUpright) {
  TestHost host({"kvt_topdown"});
  TSPIGraphic graphic;
  graphic.LoadFromFile(Write(test::FourColours()));
  EXPECT_EQ(graphic.Width(), 3);
  EXPECT_EQ(graphic.Height(), -2);
  EXPECT_EQ(graphic.ImageSize(), 2u * 12u);
  EXPECT_EQ(test::PixelsOf(graphic.Render()), test::FourColours());
  const auto bitmap = graphic.ConvertTo(&TBitmap::Class);
  EXPECT_EQ(test::PixelsOf(static_cast<const TBitmap&>(*bitmap)), test::FourColours());
}

// Rendering the DIB gives the same picture as reading its BMP form, and
// the picture that the plug-in decoded.
struct RenderCase {
  const char* decoder;
  int colours;
};

class SPIGraphicRenderTest : public SPIGraphicTest,
                             public ::testing::WithParamInterface<RenderCase> {};

TEST_P(SPIGraphicRenderTest, RenderAndTheBmpFormGiveThePicture) {
  TestHost host({GetParam().decoder});
  const Pixels picture = Picture(GetParam().colours);
  TSPIGraphic graphic;
  graphic.LoadFromFile(Write(picture));
  const Pixels rendered = test::PixelsOf(graphic.Render());
  EXPECT_EQ(rendered, picture);
  for (uint32_t argb : graphic.Render().pixels) ASSERT_EQ(argb >> 24, 0xFFu) << "opaque";
  const auto bitmap = graphic.ConvertTo(&TBitmap::Class);
  EXPECT_EQ(test::PixelsOf(static_cast<const TBitmap&>(*bitmap)), picture);
  // The fourth bytes of 32-bit pixels are all 0 here: "unused", not alpha.
  EXPECT_FALSE(static_cast<const TBitmap&>(*bitmap).HasAlpha());
  EXPECT_FALSE(graphic.Empty()) << "ConvertTo keeps the image";
}

INSTANTIATE_TEST_SUITE_P(BitCounts, SPIGraphicRenderTest,
                         ::testing::Values(RenderCase{"kvt_pal1", 2}, RenderCase{"kvt_pal4", 8},
                                           RenderCase{"kvt_pal4_topdown", 8},
                                           RenderCase{"kvt_pal8", 8},
                                           RenderCase{"kvt_pal8_exact", 8},
                                           RenderCase{"kvt_rgb16", 8}, RenderCase{"kvt_basic", 8},
                                           RenderCase{"kvt_rgb32", 8},
                                           RenderCase{"kvt_topdown", 8}));

TEST_F(SPIGraphicTest, SixteenBitPixelsWidenLikeTheBmpReader) {
  TestHost host({"kvt_rgb16"});
  const Pixels picture = test::MakePixels(4, 1, [](int x, int) {
    return RGB(uint8_t(x * 70 + 10), uint8_t(255 - x * 60), uint8_t(x * 33));
  });
  TSPIGraphic graphic;
  graphic.LoadFromFile(Write(picture));
  const auto bitmap = graphic.ConvertTo(&TBitmap::Class);
  EXPECT_EQ(test::PixelsOf(graphic.Render()), test::PixelsOf(static_cast<const TBitmap&>(*bitmap)));
}

// Rows that a plug-in of this process stored as the bitmap stores them (24
// bits, bottom-up) become the bitmap's rows where they lie; the block goes
// with the bitmap. Other rows are decoded, and the plug-in's block freed at
// once.
TEST_F(SPIGraphicTest, ConvertToAndFreeEmptiesTheGraphicAndTakesOverRowsItCan) {
  for (const bool top_down : {false, true}) {
    SCOPED_TRACE(top_down ? "top-down" : "bottom-up");
    TestHost host({top_down ? "kvt_topdown" : "kvt_basic"});
    TSPIGraphic graphic;
    graphic.LoadFromFile(Write(test::FourColours()));
    const SpiHandle bits = graphic.Source()->BitsHandle();
    const void* rows = graphic.Source()->LockBits();
    // Dirty padding, which the bitmap must not keep.
    static_cast<uint8_t*>(graphic.Source()->LockBits())[9] = 0xEE;
    auto bitmap = graphic.ConvertToAndFree(&TBitmap::Class);
    EXPECT_TRUE(graphic.Empty());
    EXPECT_EQ(graphic.Source(), nullptr);
    auto& converted = static_cast<TBitmap&>(*bitmap);
    EXPECT_EQ(test::PixelsOf(converted), test::FourColours());
    EXPECT_EQ(converted.Bits() == rows, !top_down) << "taken over where it lies";
    for (int y = 0; y < converted.Height(); ++y)
      for (size_t i = 9; i < converted.Stride(); ++i) EXPECT_EQ(converted.ScanLine(y)[i], 0);
    converted.SetPixel(0, 0, clWhite);  // the rows are the bitmap's own
    EXPECT_EQ(converted.Pixel(0, 0), clWhite);
    EXPECT_EQ(LocalSize(bits) != 0, !top_down) << "the block lives as long as the bitmap";
    bitmap.reset();
    EXPECT_EQ(LocalSize(bits), 0u) << "the plug-in's bits are freed";
  }
}

TEST_F(SPIGraphicTest, AnEmptyGraphicHasNoSizeAndDrawsNothing) {
  TSPIGraphic graphic;
  EXPECT_TRUE(graphic.Empty());
  EXPECT_EQ(graphic.Width(), 0);
  EXPECT_EQ(graphic.Height(), 0);
  EXPECT_TRUE(graphic.Palette().empty());
  EXPECT_FALSE(graphic.IsFourBit());
  const ArgbImage image = graphic.Render();
  EXPECT_EQ(image.width, 0);
  EXPECT_TRUE(image.pixels.empty());
  TMemoryStream stream;
  EXPECT_THROW(graphic.SaveToStream(stream), EInvalidGraphic);
  EXPECT_EQ(stream.Size(), 0);
}

TEST_F(SPIGraphicTest, NothingToDecodeLeavesItEmptyWithTheMessage) {
  TestHost host({"kvt_basic"});
  TSPIGraphic graphic;
  graphic.LoadFromFile(Write(test::FourColours()));
  test::WriteBytes(folder_.File("junk.kvt"), std::vector<uint8_t>(64, 'j'));
  try {
    graphic.LoadFromFile(folder_.File("junk.kvt"));
    FAIL() << "decoded junk";
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "Susie Plugins could not decode");
  }
  EXPECT_TRUE(graphic.Empty());
  EXPECT_EQ(graphic.Width(), 0);
}

TEST_F(SPIGraphicTest, LoadsFromStreamsWithAndWithoutAName) {
  TestHost host({"kvt_basic"});
  TMemoryStream stream(test::KvtBytes(test::FourColours()));
  TSPIGraphic graphic;
  graphic.LoadFromStream(stream);
  EXPECT_EQ(test::PixelsOf(graphic.Render()), test::FourColours());
  EXPECT_EQ(graphic.Source()->SourceName(), "");
  graphic.LoadFromStreamWithName(stream, "named.kvt");
  EXPECT_EQ(graphic.Source()->SourceName(), "named.kvt");
  EXPECT_EQ(graphic.Width(), 3);
}

// The plug-in's rows go straight into the bitmap, and give byte for byte
// what reading the DIB's BMP form gives: format, rows, padding and the
// fourth bytes of 32-bit pixels (alpha where they vary).
TEST_F(SPIGraphicTest, TheRowsGoStraightIntoTheBitmapAsTheBmpFormReadsBack) {
  for (const char* decoder :
       {"kvt_pal1", "kvt_pal4", "kvt_pal4_topdown", "kvt_pal8", "kvt_pal8_exact", "kvt_rgb16",
        "kvt_basic", "kvt_rgb32", "kvt_rgba32", "kvt_topdown"}) {
    SCOPED_TRACE(decoder);
    TestHost host({decoder});
    TSPIGraphic graphic;
    graphic.LoadFromFile(Write(Picture(decoder == std::string("kvt_pal1") ? 2 : 8)));
    TBitmap through_bmp;
    TMemoryStream form(Saved(graphic));
    through_bmp.LoadFromStream(form);
    TBitmap direct(1, 1);
    graphic.DecodeInto(direct);
    EXPECT_FALSE(graphic.Empty()) << "DecodeInto keeps the image";
    ASSERT_EQ(direct.PixelFormat(), through_bmp.PixelFormat());
    ASSERT_EQ(direct.Width(), through_bmp.Width());
    ASSERT_EQ(direct.Height(), through_bmp.Height());
    EXPECT_EQ(std::memcmp(direct.Bits(), through_bmp.Bits(), direct.BitsSize()), 0);
  }
  TSPIGraphic empty;
  TBitmap kept(2, 1);
  kept.SetPixel(1, 0, clWhite);
  EXPECT_THROW(empty.DecodeInto(kept), EInvalidGraphic);
  EXPECT_EQ(kept.Pixel(1, 0), clWhite) << "a failed decode leaves the bitmap as it was";
}

}  // namespace
}  // namespace kevrale
