// RLE8, RLE4 and RLE24 data: every code, pixels that the data skips (black),
// data that ends early, and every way of running outside the picture.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BmpBuilder.h"
#include "BmpDecode.h"
#include "picture/BmpReader.h"
#include "picture/TBitmap.h"
#include "platform/Exception.h"
#include "platform/Stream.h"

namespace kevrale {
namespace {

using test::BmpSpec;
using test::BuildBmp;

constexpr int kWidth = 6;
constexpr int kHeight = 4;
constexpr int kSkipped = -1;  // a pixel that the data never paints

const std::vector<uint32_t> kPalette = {0x000080, 0x00FF00, 0xFF0000, 0x123456,
                                        0xABCDEF, 0x808080, 0xFFFFFF, 0x0F0F0F};

std::vector<uint8_t> Rle(int bits, std::vector<uint8_t> data, int width = kWidth,
                         int height = kHeight) {
  BmpSpec s;
  s.header_size = bits == 24 ? 64 : 40;  // RLE24 exists only in OS/2 2.x headers
  s.width = width;
  s.height = height;
  s.bit_count = uint16_t(bits);
  s.compression = bits == 8 ? 1 : bits == 4 ? 2 : 4;
  if (bits != 24) {
    s.palette = kPalette;
    s.colours_used = uint32_t(kPalette.size());
  }
  s.pixels = std::move(data);
  return BuildBmp(s);
}

using test::ExpectBmpRefused;
using R = BmpRefusal;

TBitmap Read(const std::vector<uint8_t>& bytes) {
  return test::ReadBmpBytes(bytes);
}

// `rows` lists palette indices from the top row down; skipped pixels are black.
void ExpectIndices(const TBitmap& b, const std::vector<std::vector<int>>& rows) {
  ASSERT_EQ(b.Height(), int(rows.size()));
  for (int y = 0; y < b.Height(); ++y) {
    ASSERT_EQ(b.Width(), int(rows[size_t(y)].size()));
    for (int x = 0; x < b.Width(); ++x) {
      const int index = rows[size_t(y)][size_t(x)];
      const uint32_t rgb = index == kSkipped ? 0 : kPalette[size_t(index)];
      EXPECT_EQ(b.Pixel(x, y), RGB(rgb >> 16 & 0xFF, rgb >> 8 & 0xFF, rgb & 0xFF))
          << "pixel (" << x << ", " << y << ")";
    }
  }
}

constexpr int S = kSkipped;

TEST(BmpRle, Rle8EveryCode) {
  const TBitmap b = Read(Rle(8, {
                                    3, 1,              // run of three 1s
                                    0, 3, 2, 3, 4, 0,  // literal 2 3 4, padded
                                    0, 0,              // end of line
                                    0, 2, 2, 0,        // skip two pixels right
                                    4, 5,              // run of four 5s
                                    0, 0,              // end of line
                                    0, 2, 1, 1,        // skip one right, one row up
                                    0, 4, 6, 7, 0, 1,  // literal, no padding
                                    0, 1,              // end of bitmap
                                }));
  EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf24bit);
  ExpectIndices(b, {
                       {S, 6, 7, 0, 1, S},
                       {S, S, S, S, S, S},
                       {S, S, 5, 5, 5, 5},
                       {1, 1, 1, 2, 3, 4},
                   });
}

TEST(BmpRle, Rle4EveryCode) {
  const TBitmap b =
      Read(Rle(4, {
                      3, 0x12,                                   // 1 2 1
                      0, 3,    0x34, 0x50,                       // literal 3 4 5: two bytes
                      0, 0,    0,    5,    0x12, 0x34, 0x50, 0,  // three bytes, padded
                      1, 0x70,                                   // a run of one
                      0, 0,    0,    2,    4,    1,              // skip four right, one up
                      2, 0x66, 0,    1,
                  }));
  ExpectIndices(b, {
                       {S, S, S, S, 6, 6},
                       {S, S, S, S, S, S},
                       {1, 2, 3, 4, 5, 7},
                       {1, 2, 1, 3, 4, 5},
                   });
}

TEST(BmpRle, Rle24InAnOs2Header) {
  const TBitmap b = Read(Rle(24,
                             {
                                 2, 0x10, 0x20, 0x30,                          // run
                                 0, 3,    1,    2,    3, 4, 5, 6, 7, 8, 9, 0,  // literal
                                 1, 0xAA, 0xBB, 0xCC,                          // run of one
                                 0, 1,
                             },
                             6, 1));
  EXPECT_EQ(b.Pixel(0, 0), RGB(0x30, 0x20, 0x10));
  EXPECT_EQ(b.Pixel(1, 0), RGB(0x30, 0x20, 0x10));
  EXPECT_EQ(b.Pixel(2, 0), RGB(3, 2, 1));
  EXPECT_EQ(b.Pixel(3, 0), RGB(6, 5, 4));
  EXPECT_EQ(b.Pixel(4, 0), RGB(9, 8, 7));
  EXPECT_EQ(b.Pixel(5, 0), RGB(0xCC, 0xBB, 0xAA));
}

// Data that ends without its end-of-bitmap mark is taken when every row is
// complete, and refused when it stops inside the picture.
TEST(BmpRle, DataEndingWithoutEndOfBitmap) {
  std::vector<uint8_t> rows;
  for (int y = 0; y < kHeight; ++y)
    for (uint8_t byte : {uint8_t(6), uint8_t(y), uint8_t(0), uint8_t(0)}) rows.push_back(byte);
  ExpectIndices(Read(Rle(8, rows)),
                {{3, 3, 3, 3, 3, 3}, {2, 2, 2, 2, 2, 2}, {1, 1, 1, 1, 1, 1}, {0, 0, 0, 0, 0, 0}});
  rows.erase(rows.end() - 2, rows.end());  // the last row ends on its last pixel
  EXPECT_NO_THROW(Read(Rle(8, rows)));
  rows.erase(rows.end() - 2, rows.end());  // the last row is missing
  ExpectBmpRefused(Rle(8, rows), R::RleEnd);
  ExpectBmpRefused(Rle(8, {3, 1}), R::RleEnd);
  ExpectBmpRefused(Rle(8, {}), R::RleEnd);
}

TEST(BmpRle, RefusesDataThatLeavesThePicture) {
  struct Case {
    std::string name;
    int bits;
    std::vector<uint8_t> data;
    BmpRefusal reason;
  };
  const std::vector<Case> cases = {
      {"a run past the row end", 8, {7, 1, 0, 1}, R::RleOutside},
      {"a run past the row end after a run", 8, {4, 1, 3, 1, 0, 1}, R::RleOutside},
      {"a literal past the row end", 8, {4, 1, 0, 3, 1, 1, 1, 0, 0, 1}, R::RleOutside},
      {"a skip past the right edge", 8, {0, 2, 7, 0, 0, 1}, R::RleOutside},
      {"a skip past the top", 8, {0, 2, 0, 5, 0, 1}, R::RleOutside},
      {"a pixel above the top row", 8, {0, 2, 0, 4, 1, 1, 0, 1}, R::RleOutside},
      {"an end of line above the top row", 8, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, R::RleOutside},
      {"a run index beyond the palette", 8, {2, 8, 0, 1}, R::PaletteIndex},
      {"a literal index beyond the palette", 8, {0, 3, 1, 9, 1, 0, 0, 1}, R::PaletteIndex},
      {"a literal cut short", 8, {0, 5, 1, 2}, R::RleEnd},
      {"a skip cut short", 8, {0, 2, 1}, R::RleEnd},
      {"an RLE4 run past the row end", 4, {7, 0x11, 0, 1}, R::RleOutside},
      {"an RLE4 literal past the row end", 4, {0, 7, 0x11, 0x11, 0x11, 0x10, 0, 1}, R::RleOutside},
      {"an RLE4 index beyond the palette", 4, {2, 0x19, 0, 1}, R::PaletteIndex},
      {"an RLE24 run cut short", 24, {2, 1, 2}, R::RleEnd},
      {"an RLE24 run past the row end", 24, {7, 1, 2, 3, 0, 1}, R::RleOutside},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectBmpRefused(Rle(c.bits, c.data), c.reason);
  }
}

TEST(BmpRle, RefusesTopDownAndMismatchedBitCounts) {
  std::vector<uint8_t> top_down = Rle(8, {0, 1});
  test::PutLe(top_down, 22, uint32_t(-kHeight), 4);
  ExpectBmpRefused(top_down, R::TopDownRle);
  std::vector<uint8_t> rle24_in_windows_header = Rle(24, {0, 1});
  test::PutLe(rle24_in_windows_header, 14, 40, 4);  // value 4 means JPEG there
  ExpectBmpRefused(rle24_in_windows_header, R::Compression);
}

// A compressed picture may be much larger than its data, up to a floor
// size; beyond that it needs data in proportion.
TEST(BmpRle, LargePicturesNeedDataInProportion) {
  const TBitmap blank = Read(Rle(8, {0, 1}, 4096, 4096));
  EXPECT_EQ(blank.Width(), 4096);
  EXPECT_EQ(blank.Pixel(4095, 4095), 0u);
  ExpectBmpRefused(Rle(8, {0, 1}, 8192, 4097), R::PixelsMissing);
  ExpectBmpRefused(Rle(4, {0, 1}, 16384, 16384), R::PixelsMissing);
}

}  // namespace
}  // namespace kevrale
