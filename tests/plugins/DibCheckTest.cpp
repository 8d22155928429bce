#include "plugins/DibCheck.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <optional>
#include <vector>

namespace kevrale {
namespace {

// An info block: a BITMAPINFOHEADER and `table` colour-table entries.
struct Dib {
  std::vector<uint8_t> info;
  std::vector<uint8_t> bits;

  Dib(int32_t width, int32_t height, uint16_t bit_count, uint32_t colours_used = 0,
      size_t table = 0) {
    info.assign(40 + 4 * table, 0);
    Put32(0, 40);
    Put32(4, uint32_t(width));
    Put32(8, uint32_t(height));
    Put16(12, 1);
    Put16(14, bit_count);
    Put32(32, colours_used);
    const int64_t rows = height < 0 ? -int64_t(height) : height;
    const int64_t stride = (int64_t(width) * bit_count + 31) / 32 * 4;
    if (width > 0 && stride * rows < (int64_t(1) << 24)) bits.assign(size_t(stride * rows), 0);
  }
  void Put16(size_t at, uint16_t v) {
    info[at] = uint8_t(v);
    info[at + 1] = uint8_t(v >> 8);
  }
  void Put32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) info[at + size_t(i)] = uint8_t(v >> (8 * i));
  }
  std::optional<DibLayout> Check() const {
    return CheckDib(info.data(), info.size(), bits.data(), bits.size());
  }
};

TEST(DibCheckTest, AcceptsEveryUncompressedBitCount) {
  const struct {
    uint16_t bits;
    size_t table;
    uint32_t colours, stride;
  } cases[] = {{1, 2, 2, 4},   {4, 16, 16, 4}, {8, 256, 256, 8},
               {16, 0, 0, 12}, {24, 0, 0, 16}, {32, 0, 0, 20}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bits);
    const Dib dib(5, 3, c.bits, 0, c.table);
    const auto layout = dib.Check();
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->ColorCount, c.colours);
    EXPECT_EQ(layout->InfoSize, 40 + 4 * c.colours);
    EXPECT_EQ(layout->Stride, c.stride);
    EXPECT_EQ(layout->ImageSize, 3 * c.stride);
  }
}

TEST(DibCheckTest, TopDownRowsUseTheAbsoluteHeight) {
  const auto layout = Dib(2, -3, 24).Check();
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->Height, -3);
  EXPECT_EQ(layout->ImageSize, 3u * 8u);
}

TEST(DibCheckTest, RefusesHeadersItCannotTrust) {
  Dib dib(4, 4, 24);
  ASSERT_TRUE(dib.Check());

  Dib v5 = dib;
  v5.Put32(0, 124);
  EXPECT_FALSE(v5.Check()) << "another header size";
  Dib planes = dib;
  planes.Put16(12, 0);
  EXPECT_FALSE(planes.Check());
  Dib rle = Dib(4, 4, 8, 0, 256);
  rle.Put32(16, 1);
  EXPECT_FALSE(rle.Check()) << "RLE8";
  Dib bitfields = Dib(4, 4, 16);
  bitfields.Put32(16, 3);
  EXPECT_FALSE(bitfields.Check()) << "BI_BITFIELDS";
  for (uint16_t bits : {0, 2, 7, 48}) EXPECT_FALSE(Dib(4, 4, bits, 0, 256).Check()) << bits;

  EXPECT_FALSE(CheckDib(dib.info.data(), 39, dib.bits.data(), dib.bits.size()));
  EXPECT_FALSE(CheckDib(nullptr, 40, dib.bits.data(), dib.bits.size()));
  EXPECT_FALSE(CheckDib(dib.info.data(), 40, nullptr, dib.bits.size()));
}

TEST(DibCheckTest, RefusesAbsurdSizes) {
  EXPECT_FALSE(Dib(0, 4, 24).Check());
  EXPECT_FALSE(Dib(-4, 4, 24).Check());
  EXPECT_FALSE(Dib(4, 0, 24).Check());
  EXPECT_FALSE(Dib(4, INT_MIN, 24).Check());
  EXPECT_FALSE(Dib(kMaxDibSide + 1, 1, 1, 0, 2).Check());
  EXPECT_FALSE(Dib(1, -(kMaxDibSide + 1), 1, 0, 2).Check());
  // Each side inside its bound, the pixel count beyond a bitmap's.
  Dib huge(65536, 1, 1, 0, 2);
  huge.Put32(8, 8192);
  std::vector<uint8_t> bits(size_t(8192) * 8192, 0);
  EXPECT_FALSE(CheckDib(huge.info.data(), huge.info.size(), bits.data(), bits.size()));
  // The same header with a side that fits is fine.
  huge.Put32(8, 4096);
  EXPECT_TRUE(CheckDib(huge.info.data(), huge.info.size(), bits.data(), bits.size()));
}

TEST(DibCheckTest, TheRowsMustLieInsideTheBitsBlock) {
  Dib dib(3, 3, 24);  // stride 12
  ASSERT_EQ(dib.bits.size(), 36u);
  EXPECT_FALSE(CheckDib(dib.info.data(), dib.info.size(), dib.bits.data(), 35));
  // A larger block than needed is fine.
  dib.bits.resize(100);
  EXPECT_TRUE(dib.Check());
  // A header that claims far more than the block holds.
  dib.Put32(4, 60000);
  dib.Put32(8, 60000);
  EXPECT_FALSE(dib.Check());
}

TEST(DibCheckTest, TheColourTableMustFitTheBitCountAndTheInfoBlock) {
  EXPECT_FALSE(Dib(4, 4, 8, 257, 257).Check()) << "more colours than 8 bits index";
  EXPECT_FALSE(Dib(4, 4, 4, 17, 17).Check());
  EXPECT_FALSE(Dib(4, 4, 8, 0, 255).Check()) << "the default 256 entries end outside";
  EXPECT_FALSE(Dib(4, 4, 8, 0, 0).Check()) << "no table at all";
  EXPECT_FALSE(Dib(4, 4, 24, 10, 9).Check()) << "an optional table that ends outside";
  const auto short_table = Dib(4, 4, 8, 3, 3).Check();
  ASSERT_TRUE(short_table);
  EXPECT_EQ(short_table->ColorCount, 3u);
  EXPECT_EQ(short_table->InfoSize, 52u);
  const auto optional_table = Dib(4, 4, 24, 2, 2).Check();
  ASSERT_TRUE(optional_table);
  EXPECT_EQ(optional_table->InfoSize, 48u);
}

TEST(DibCheckTest, PixelsMustNotIndexPastAShortTable) {
  Dib dib(5, 2, 4, 3, 3);  // stride 4; entries 0 .. 2
  ASSERT_TRUE(dib.Check());
  dib.bits[0] = 0x21;  // pixels 2 and 1
  dib.bits[2] = 0x20;  // pixel 4 is 2, the low nibble is padding
  dib.bits[3] = 0xFF;  // padding only
  EXPECT_TRUE(dib.Check());
  dib.bits[6] = 0x30;  // second row, pixel 4 is 3
  EXPECT_FALSE(dib.Check());

  Dib one(9, 1, 1, 1, 1);  // only colour 0
  one.bits[1] = 0x7F;      // pixel 8 is 0, the rest is padding
  EXPECT_TRUE(one.Check());
  one.bits[1] = 0x80;
  EXPECT_FALSE(one.Check());
}

}  // namespace
}  // namespace kevrale
