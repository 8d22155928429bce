// The bitmap's pixel-format conversion: colours, alpha and row padding.
#include <gtest/gtest.h>

#include <cstring>

#include "picture/TBitmap.h"

namespace kevrale {
namespace {

// A colour that differs at every pixel.
TColor ColourAt(int x, int y) {
  return RGB(uint8_t(x * 37 + y), uint8_t(y * 91 + 5), uint8_t(x * y + 200));
}

TBitmap Painted(int width, int height, TPixelFormat format) {
  TBitmap bitmap(width, height, format);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      bitmap.SetPixel(x, y, ColourAt(x, y));
      if (format == TPixelFormat::pf32bit) bitmap.ScanLine(y)[x * 4 + 3] = uint8_t(x + 3 * y);
    }
  return bitmap;
}

// Widths whose 24-bit rows need 0 to 3 bytes of padding.
TEST(BitmapPixelFormat, To32BitKeepsEveryColourAndMakesEveryPixelOpaque) {
  for (const int width : {1, 2, 3, 4, 5}) {
    TBitmap bitmap = Painted(width, 3, TPixelFormat::pf24bit);
    bitmap.SetPixelFormat(TPixelFormat::pf32bit);
    ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf32bit);
    ASSERT_TRUE(bitmap.HasAlpha());
    ASSERT_EQ(bitmap.Width(), width);
    ASSERT_EQ(bitmap.Height(), 3);
    EXPECT_EQ(bitmap.Stride(), size_t(width) * 4);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < width; ++x) {
        EXPECT_EQ(bitmap.Pixel(x, y), ColourAt(x, y)) << width << ": " << x << ", " << y;
        EXPECT_EQ(bitmap.ScanLine(y)[x * 4 + 3], 255) << width << ": " << x << ", " << y;
      }
  }
}

TEST(BitmapPixelFormat, To24BitDropsAlphaAndZeroesThePadding) {
  for (const int width : {1, 2, 3, 4, 5}) {
    TBitmap bitmap = Painted(width, 3, TPixelFormat::pf32bit);
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
    ASSERT_FALSE(bitmap.HasAlpha());
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < width; ++x)
        EXPECT_EQ(bitmap.Pixel(x, y), ColourAt(x, y)) << width << ": " << x << ", " << y;
      for (size_t i = size_t(width) * 3; i < bitmap.Stride(); ++i)
        EXPECT_EQ(bitmap.ScanLine(y)[i], 0) << "padding of row " << y;
    }
  }
}

TEST(BitmapPixelFormat, SameFormatAndEmptyBitmapsStayAsTheyAre) {
  TBitmap bitmap = Painted(6, 4, TPixelFormat::pf32bit);
  const TBitmap before = bitmap;
  bitmap.SetPixelFormat(TPixelFormat::pf32bit);
  ASSERT_EQ(bitmap.BitsSize(), before.BitsSize());
  EXPECT_EQ(std::memcmp(bitmap.Bits(), before.Bits(), before.BitsSize()), 0);

  TBitmap empty;
  empty.SetPixelFormat(TPixelFormat::pf32bit);
  EXPECT_EQ(empty.PixelFormat(), TPixelFormat::pf32bit);
  EXPECT_EQ(empty.Width(), 0);
  EXPECT_EQ(empty.Height(), 0);
}

}  // namespace
}  // namespace kevrale
