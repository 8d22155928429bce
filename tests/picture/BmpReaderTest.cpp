// The BMP reader on files built field by field: every header kind, bit
// count and storage order decodes to the pixels it holds; every way of
// lying about the content is refused with the format's message.
#include <climits>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BmpBuilder.h"
#include "BmpDecode.h"
#include "TempFolder.h"
#include "picture/BmpReader.h"
#include "picture/DibLayout.h"
#include "picture/TBitmap.h"
#include "platform/Exception.h"
#include "platform/Stream.h"

namespace kevrale {
namespace {

using test::BmpSpec;
using test::BuildBmp;
using test::PackRows;

constexpr const char* kInvalid = "ビットマップイメージが不正です";

using test::ExpectBmpRefused;
using R = BmpRefusal;

TBitmap Read(const std::vector<uint8_t>& bytes) {
  return test::ReadBmpBytes(bytes);
}

std::vector<uint32_t> TestPalette(int count) {
  std::vector<uint32_t> p;
  for (int i = 0; i < count; ++i) p.push_back(uint32_t(i * 0x3B1F07 + 0x102030) & 0xFFFFFF);
  return p;
}

// Checks every pixel (0x00RRGGBB) and, for pf32bit, every alpha value.
void ExpectPixels(const TBitmap& b, int width, int height,
                  const std::function<uint32_t(int, int)>& argb) {
  ASSERT_EQ(b.Width(), width);
  ASSERT_EQ(b.Height(), height);
  int bad = 0;
  for (int y = 0; y < height && bad < 3; ++y)
    for (int x = 0; x < width && bad < 3; ++x) {
      const uint32_t want = argb(x, y);
      const uint8_t* p = b.ScanLine(y) + size_t(x) * size_t(b.BytesPerPixel());
      const uint32_t got = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0] |
                           (b.HasAlpha() ? uint32_t(p[3]) << 24 : 0xFF000000u);
      if (got != (want | (b.HasAlpha() ? 0 : 0xFF000000u))) {
        ++bad;
        ADD_FAILURE() << "pixel (" << x << ", " << y << "): " << std::hex << got << " != " << want;
      }
    }
}

uint32_t Pattern(int x, int y) {
  return uint32_t(x * 0x1F3D5B + y * 0x07A9C1) & 0xFFFFFF;
}

// Every header kind with every bit count it allows, bottom-up and top-down.
TEST(BmpReader, PaletteImagesOfEveryHeaderAndBitCount) {
  for (uint32_t header : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u}) {
    for (int bits : {1, 2, 4, 8}) {
      if (header == 12 && bits == 2) continue;
      for (bool top_down : {false, true}) {
        if (header == 12 && top_down) continue;  // 16-bit unsigned height
        SCOPED_TRACE("header " + std::to_string(header) + ", " + std::to_string(bits) + " bits" +
                     (top_down ? ", top-down" : ""));
        const int width = 13, height = 5;  // 13: every kind of row padding
        const int colours = std::min(1 << bits, 20);
        BmpSpec s;
        s.header_size = header;
        s.width = width;
        s.height = top_down ? -height : height;
        s.bit_count = uint16_t(bits);
        s.palette = TestPalette(colours);
        if (header != 12) s.colours_used = uint32_t(colours);
        auto index = [&](int x, int y) { return uint32_t(x * 3 + y * 7) % uint32_t(colours); };
        s.pixels = PackRows(width, height, bits, top_down, index);
        const TBitmap b = Read(BuildBmp(s));
        EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf24bit);
        ExpectPixels(b, width, height, [&](int x, int y) { return s.palette[index(x, y)]; });
      }
    }
  }
}

TEST(BmpReader, TrueColourImagesOfEveryHeader) {
  for (uint32_t header : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u}) {
    for (int bits : {16, 24, 32}) {
      if (header == 12 && bits != 24) continue;
      for (bool top_down : {false, true}) {
        if (header == 12 && top_down) continue;
        SCOPED_TRACE("header " + std::to_string(header) + ", " + std::to_string(bits) + " bits" +
                     (top_down ? ", top-down" : ""));
        const int width = 7, height = 4;
        BmpSpec s;
        s.header_size = header;
        s.width = width;
        s.height = top_down ? -height : height;
        s.bit_count = uint16_t(bits);
        std::function<uint32_t(int, int)> stored = Pattern;
        std::function<uint32_t(int, int)> shown = Pattern;
        if (bits == 16) {
          // The default 16-bit layout: 5 bits each, widened to 8 bits.
          stored = [](int x, int y) { return uint32_t(x * 1111 + y * 4321) & 0x7FFF; };
          shown = [&](int x, int y) {
            const uint32_t v = stored(x, y);
            auto w = [](uint32_t c) { return (c * 255 + 15) / 31; };
            return w(v >> 10 & 31) << 16 | w(v >> 5 & 31) << 8 | w(v & 31);
          };
        }
        s.pixels = PackRows(width, height, bits, top_down, stored);
        const TBitmap b = Read(BuildBmp(s));
        EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf24bit);
        ExpectPixels(b, width, height, shown);
      }
    }
  }
}

TEST(BmpReader, BitfieldsAndAlpha) {
  struct Case {
    std::string name;
    uint32_t header;
    uint32_t compression;
    int bits;
    std::vector<uint32_t> masks;
    TPixelFormat format;
  };
  const std::vector<Case> cases = {
      {"565 after a 40-byte header", 40, 3, 16, {0xF800, 0x07E0, 0x001F}, TPixelFormat::pf24bit},
      {"4444 in a V5 header", 124, 3, 16, {0x0F00, 0x00F0, 0x000F, 0xF000}, TPixelFormat::pf32bit},
      {"1555 alpha bit-fields after a 40-byte header",
       40,
       6,
       16,
       {0x7C00, 0x03E0, 0x001F, 0x8000},
       TPixelFormat::pf32bit},
      {"BGRA in a V5 header",
       124,
       3,
       32,
       {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000},
       TPixelFormat::pf32bit},
      {"BGRA in a V4 header",
       108,
       3,
       32,
       {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000},
       TPixelFormat::pf32bit},
      {"ARGB in a 56-byte header",
       56,
       3,
       32,
       {0x0000FF00, 0x00FF0000, 0xFF000000, 0x000000FF},
       TPixelFormat::pf32bit},
      {"alpha bit-fields after a 40-byte header",
       40,
       6,
       32,
       {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000},
       TPixelFormat::pf32bit},
      {"10-10-10-2",
       124,
       3,
       32,
       {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000},
       TPixelFormat::pf32bit},
      {"XBGR without alpha in a 52-byte header",
       52,
       3,
       32,
       {0xFF000000, 0x00FF0000, 0x0000FF00},
       TPixelFormat::pf24bit},
      // Without an alpha mask, a fourth byte that is not 0 in every pixel
      // is alpha.
      {"V5 bit-fields with an empty alpha mask",
       124,
       3,
       32,
       {0x00FF0000, 0x0000FF00, 0x000000FF, 0},
       TPixelFormat::pf32bit},
      // Masks in a large header do not apply to BI_RGB data; its fourth
      // byte is alpha by the same rule.
      {"BI_RGB in a V5 header with an alpha mask",
       124,
       0,
       32,
       {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000},
       TPixelFormat::pf32bit},
  };
  for (const Case& c : cases) {
    for (bool top_down : {false, true}) {
      SCOPED_TRACE(c.name + (top_down ? ", top-down" : ""));
      const int width = 5, height = 3;
      BmpSpec s;
      s.header_size = c.header;
      s.width = width;
      s.height = top_down ? -height : height;
      s.bit_count = uint16_t(c.bits);
      s.compression = c.compression;
      s.masks = c.masks;
      auto stored = [&](int x, int y) {
        const uint32_t v = uint32_t(x * 0x9E3779B1u + y * 0x85EBCA77u);
        return c.bits == 16 ? v >> 16 : v;
      };
      s.pixels = PackRows(width, height, c.bits, top_down, stored);
      const TBitmap b = Read(BuildBmp(s));
      EXPECT_EQ(b.PixelFormat(), c.format);
      const bool rgb = c.compression == 0;
      std::vector<uint32_t> masks =
          rgb ? std::vector<uint32_t>{0x00FF0000, 0x0000FF00, 0x000000FF, 0} : c.masks;
      masks.resize(4);
      // 32 bits whose colours leave the top byte free: that byte is alpha.
      if (c.bits == 32 && masks[3] == 0 && c.format == TPixelFormat::pf32bit) masks[3] = 0xFF000000;
      ExpectPixels(b, width, height, [&](int x, int y) {
        // The channel value scaled to 0..255 with rounding, from first principles.
        auto channel = [&](size_t i) -> uint32_t {
          const uint32_t m = i < masks.size() ? masks[i] : 0;
          if (m == 0) return i == 3 ? 0xFF : 0;
          int shift = 0;
          while (!((m >> shift) & 1)) ++shift;
          const uint64_t max = uint64_t(m >> shift);
          const uint64_t v = (stored(x, y) & m) >> shift;
          return uint32_t((v * 255 + max / 2) / max);
        };
        const uint32_t a = c.format == TPixelFormat::pf32bit ? channel(3) << 24 : 0;
        return a | channel(0) << 16 | channel(1) << 8 | channel(2);
      });
    }
  }
}

// A 32-bit picture without an alpha mask carries alpha in its fourth byte
// unless that byte is the same 0 or 255 in every pixel; with alpha, every
// value is kept, 0 and 255 included.
TEST(BmpReader, TheFourthByteOfThirtyTwoBitsIsAlphaWhenItIsUsed) {
  const int width = 6, height = 3;
  const struct {
    const char* name;
    std::function<uint32_t(int, int)> alpha;
    TPixelFormat format;
  } cases[] = {
      {"all 0", [](int, int) { return 0u; }, TPixelFormat::pf24bit},
      {"all 255", [](int, int) { return 255u; }, TPixelFormat::pf24bit},
      {"all 128", [](int, int) { return 128u; }, TPixelFormat::pf32bit},
      {"0 but one pixel", [](int x, int y) { return x == 5 && y == 2 ? 255u : 0u; },
       TPixelFormat::pf32bit},
      {"a ramp", [](int x, int y) { return uint32_t(x * 50 + y); }, TPixelFormat::pf32bit},
  };
  for (uint32_t compression : {0u, 3u}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (compression == 0 ? ", BI_RGB" : ", bit-fields"));
      BmpSpec s;
      s.header_size = 40;
      s.width = width;
      s.height = height;
      s.bit_count = 32;
      s.compression = compression;
      if (compression == 3) s.masks = {0x00FF0000, 0x0000FF00, 0x000000FF};
      s.pixels = PackRows(width, height, 32, false,
                          [&](int x, int y) { return Pattern(x, y) | c.alpha(x, y) << 24; });
      const TBitmap b = Read(BuildBmp(s));
      EXPECT_EQ(b.PixelFormat(), c.format);
      ExpectPixels(b, width, height, [&](int x, int y) {
        return Pattern(x, y) | (c.format == TPixelFormat::pf32bit ? c.alpha(x, y) << 24 : 0);
      });
    }
  }
}

// The padding at the end of each stored row is never taken into the bitmap.
TEST(BmpReader, RowPaddingIsZeroWhateverTheFileHolds) {
  for (int bits : {8, 24}) {
    for (bool top_down : {false, true}) {
      BmpSpec s;
      s.width = 3;
      s.height = top_down ? -2 : 2;
      s.bit_count = uint16_t(bits);
      if (bits == 8) {
        s.palette = TestPalette(4);
        s.pixels = {1, 2, 3, 0xEE, 0, 1, 2, 0xEE};
      } else {
        s.pixels = PackRows(3, 2, 24, top_down, Pattern);
        for (size_t i = 9; i < 12; ++i) s.pixels[i] = s.pixels[i + 12] = 0xEE;
      }
      const TBitmap b = Read(BuildBmp(s));
      ASSERT_EQ(b.Stride(), 12u);
      for (int y = 0; y < 2; ++y)
        for (size_t i = 9; i < 12; ++i) EXPECT_EQ(b.ScanLine(y)[i], 0) << "row " << y;
    }
  }
}

// A checked DIB in memory decodes to exactly the bitmap that its BMP form
// (14-byte file header, the 40-byte header and table, the rows) reads
// back as, padding zeroed and the fourth bytes judged as alpha the same
// way, without that form being written.
TEST(BmpReader, ADibInMemoryGivesWhatItsBmpFormGives) {
  struct Case {
    int bits;
    int colours;     // entries of the colour table (0 for none)
    uint8_t fourth;  // the fourth bytes of 32-bit pixels, or 0xFF: they vary
  };
  const Case cases[] = {{1, 2, 0},  {4, 16, 0}, {4, 5, 0},  {8, 256, 0},   {8, 9, 0},
                        {16, 0, 0}, {24, 0, 0}, {32, 0, 0}, {32, 0, 0x80}, {32, 0, 0xFF}};
  for (const Case& c : cases)
    for (const bool top_down : {false, true})
      for (const int width : {1, 5, 33}) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits, " + std::to_string(c.colours) +
                     " colours, width " + std::to_string(width) + (top_down ? ", top-down" : ""));
        const int height = 4;
        BmpSpec s;
        s.width = width;
        s.height = top_down ? -height : height;
        s.bit_count = uint16_t(c.bits);
        s.colours_used = uint32_t(c.colours);
        s.palette = TestPalette(c.colours);
        s.pixels = PackRows(width, height, c.bits, top_down, [&](int x, int y) {
          if (c.bits <= 8) return uint32_t(x * 3 + y) % uint32_t(c.colours);
          const uint32_t fourth = c.fourth == 0xFF ? uint32_t(x * 40 + y) : c.fourth;
          return fourth << 24 | Pattern(x, y);
        });
        // Dirty padding, which neither road may pass on.
        const size_t stride = (size_t(width) * size_t(c.bits) + 31) / 32 * 4;
        if (stride * 8 > size_t(width) * size_t(c.bits))
          for (int row = 0; row < height; ++row) s.pixels[size_t(row + 1) * stride - 1] |= 0x01;
        const std::vector<uint8_t> file = BuildBmp(s);
        const TBitmap expected = Read(file);

        DibLayout layout;
        layout.Width = width;
        layout.Height = s.height;
        layout.BitCount = uint16_t(c.bits);
        layout.ColorCount = uint32_t(c.colours);
        layout.InfoSize = 40 + 4 * layout.ColorCount;
        layout.Stride = uint32_t(stride);
        layout.ImageSize = uint32_t(s.pixels.size());
        layout.Palette = s.palette;
        TBitmap decoded(2, 2);
        ReadDib(layout, s.pixels.data(), decoded);
        ASSERT_EQ(decoded.PixelFormat(), expected.PixelFormat());
        ASSERT_EQ(decoded.Width(), expected.Width());
        ASSERT_EQ(decoded.Height(), expected.Height());
        EXPECT_TRUE(
            std::equal(decoded.Bits(), decoded.Bits() + decoded.BitsSize(), expected.Bits()));
      }
}

// The unused bytes between the palette and pixels of pal8offs and the
// missing palette entries of an OS/2 file are found through bfOffBits.
TEST(BmpReader, PixelOffsetDecidesWherePaletteEndsAndPixelsBegin) {
  BmpSpec s;
  s.width = 4;
  s.height = 1;
  s.bit_count = 8;
  s.palette = TestPalette(3);
  s.colours_used = 3;
  s.gap = 9;
  s.pixels = {2, 1, 0, 2};
  ExpectPixels(Read(BuildBmp(s)), 4, 1, [&](int x, int) { return s.palette[s.pixels[x]]; });

  // A core header whose palette is cut short by the pixel offset.
  BmpSpec core;
  core.header_size = 12;
  core.width = 4;
  core.height = 1;
  core.bit_count = 8;
  core.palette = TestPalette(3);
  core.pixels = {2, 1, 0, 2};
  ExpectPixels(Read(BuildBmp(core)), 4, 1,
               [&](int x, int) { return core.palette[core.pixels[x]]; });
  core.pixels = {2, 1, 3, 2};  // index 3 is beyond the three entries
  ExpectBmpRefused(BuildBmp(core), R::PaletteIndex);
}

// A BMP inside a larger stream: offsets count from where it starts.
TEST(BmpReader, ReadsFromTheCurrentStreamPosition) {
  BmpSpec s;
  s.width = 2;
  s.height = 2;
  s.pixels = PackRows(2, 2, 24, false, Pattern);
  std::vector<uint8_t> bytes(37, 0x55);
  const std::vector<uint8_t> bmp = BuildBmp(s);
  bytes.insert(bytes.end(), bmp.begin(), bmp.end());
  TBorrowedMemoryStream stream(bytes.data(), bytes.size());
  stream.SetPosition(37);
  TBitmap b;
  ReadBmp(stream, b);
  ExpectPixels(b, 2, 2, Pattern);
}

TEST(BmpReader, EmptyPicturesDecode) {
  for (auto [w, h] : {std::pair{0, 0}, std::pair{0, 3}, std::pair{4, 0}}) {
    BmpSpec s;
    s.width = w;
    s.height = h;
    const TBitmap b = Read(BuildBmp(s));
    EXPECT_EQ(b.Width(), w);
    EXPECT_EQ(b.Height(), h);
  }
}

// Rows longer than the reader's buffer go through it in pieces.
TEST(BmpReader, RowsLongerThanTheBuffer) {
  struct Case {
    int bits;
    int width;
  };
  for (const Case c : {Case{4, 2'200'001}, Case{32, 300'001}, Case{16, 600'003}}) {
    SCOPED_TRACE(std::to_string(c.bits) + " bits");
    BmpSpec s;
    s.width = c.width;
    s.height = -2;
    s.bit_count = uint16_t(c.bits);
    if (c.bits == 4) s.palette = TestPalette(16);
    auto stored = [&](int x, int y) {
      return c.bits == 4 ? uint32_t(x + y) % 16
                         : (uint32_t(x) * 7919u + uint32_t(y) * 104729u) & 0x7FFF;
    };
    s.pixels = PackRows(c.width, 2, c.bits, true, stored);
    const TBitmap b = Read(BuildBmp(s));
    ASSERT_EQ(b.Width(), c.width);
    // Spot checks around the piece boundaries and at the ends.
    for (int y = 0; y < 2; ++y)
      for (int x : {0, 1, 262143, 262144, 524287, 524288, 2097151, 2097152, c.width - 1}) {
        if (x >= c.width) continue;
        uint32_t want;
        if (c.bits == 4) {
          want = s.palette[stored(x, y)];
        } else if (c.bits == 32) {
          want = stored(x, y) & 0xFFFFFF;
        } else {
          const uint32_t v = stored(x, y);
          auto w = [](uint32_t ch) { return (ch * 255 + 15) / 31; };
          want = w(v >> 10 & 31) << 16 | w(v >> 5 & 31) << 8 | w(v & 31);
        }
        EXPECT_EQ(b.Pixel(x, y), RGB(want >> 16 & 0xFF, want >> 8 & 0xFF, want & 0xFF))
            << "x " << x << ", y " << y;
      }
  }
}

// A valid 24-bit file of 4 x 3 pixels to break field by field.
BmpSpec Base24() {
  BmpSpec s;
  s.width = 4;
  s.height = 3;
  s.pixels = PackRows(4, 3, 24, false, Pattern);
  return s;
}

BmpSpec Base8() {
  BmpSpec s;
  s.width = 4;
  s.height = 3;
  s.bit_count = 8;
  s.palette = TestPalette(6);
  s.colours_used = 6;
  s.pixels = PackRows(4, 3, 8, false, [](int x, int y) { return uint32_t(x + y); });
  return s;
}

std::vector<uint8_t> With(std::vector<uint8_t> bytes, size_t at, uint32_t value, int size = 4) {
  test::PutLe(bytes, at, value, size);
  return bytes;
}

TEST(BmpReader, RefusesBrokenHeaders) {
  ASSERT_NO_THROW(Read(BuildBmp(Base24())));
  ASSERT_NO_THROW(Read(BuildBmp(Base8())));
  const std::vector<uint8_t> good = BuildBmp(Base24());
  struct Case {
    std::string name;
    std::vector<uint8_t> bytes;
    BmpRefusal reason;
  };
  std::vector<Case> cases = {
      {"an empty stream", {}, R::Truncated},
      {"only a file header", {good.begin(), good.begin() + 14}, R::Truncated},
      {"a header cut short", {good.begin(), good.begin() + 30}, R::Truncated},
      {"not BM", With(good, 0, 'B' | 'A' << 8, 2), R::Signature},
      {"header size 66", With(good, 14, 66), R::HeaderSize},
      {"header size 0", With(good, 14, 0), R::HeaderSize},
      {"header size beyond the file", With(good, 14, 0xFFFFFFF0u), R::HeaderSize},
      {"zero planes", With(good, 26, 0, 2), R::Planes},
      {"a negative width", With(good, 18, uint32_t(-4)), R::Width},
      {"height INT_MIN", With(good, 22, uint32_t(INT_MIN)), R::Height},
      {"bit count 0", With(good, 28, 0, 2), R::BitCount},
      {"bit count 30000", With(good, 28, 30000, 2), R::BitCount},
      {"bit count 64", With(good, 28, 64, 2), R::BitCount},
      {"an unknown compression", With(good, 30, 7), R::Compression},
      {"an embedded JPEG", With(good, 30, 4), R::Compression},
      {"an embedded PNG", With(good, 30, 5), R::Compression},
      {"RLE8 with 24 bits", With(good, 30, 1), R::BitCount},
      {"RLE4 with 24 bits", With(good, 30, 2), R::BitCount},
      {"bit-fields with 24 bits", With(good, 30, 3), R::BitCount},
      {"a pixel offset beyond the file", With(good, 10, uint32_t(good.size() + 1)), R::PixelOffset},
      {"a pixel offset inside the header", With(good, 10, 20), R::PixelOffset},
      {"a pixel offset of 0", With(good, 10, 0), R::PixelOffset},
      {"a pixel array one byte short", {good.begin(), good.end() - 1}, R::PixelsMissing},
      {"a pixel offset that leaves the array short", With(good, 10, 55), R::PixelsMissing},
      // 3,000,000 x 2,000,000: more pixels than any bitmap may have.
      {"absurd dimensions", With(With(good, 18, 3'000'000), 22, 2'000'000), R::TooLarge},
      // 15,000 x 15,000 is a possible size, but the file does not hold it.
      {"dimensions the file does not hold", With(With(good, 18, 15'000), 22, 15'000),
       R::PixelsMissing},
      {"a width beyond a 32-bit int", With(good, 18, 0x80000000u), R::Width},
  };
  const std::vector<uint8_t> pal = BuildBmp(Base8());
  cases.push_back({"8 bits with 257 colours", With(pal, 46, 257), R::ColoursUsed});
  cases.push_back(
      {"8 bits with an absurd colour count", With(pal, 46, 0x12345678), R::ColoursUsed});
  cases.push_back({"bit-fields with 8 bits", With(pal, 30, 3), R::BitCount});
  cases.push_back({"RLE4 with 8 bits", With(pal, 30, 2), R::BitCount});
  cases.push_back({"no room for a palette", With(pal, 10, 54), R::NoPalette});
  {
    BmpSpec s = Base8();
    s.colours_used = 3;
    s.palette.resize(3);
    cases.push_back({"an index beyond the palette", BuildBmp(s), R::PaletteIndex});
  }
  {
    BmpSpec s;
    s.width = 4;
    s.height = 2;
    s.bit_count = 4;
    s.colours_used = 17;
    s.palette = TestPalette(17);
    s.pixels = PackRows(4, 2, 4, false, [](int, int) { return 0u; });
    cases.push_back({"4 bits with 17 colours", BuildBmp(s), R::ColoursUsed});
  }
  auto bitfields = [](uint32_t header, int bits, uint32_t compression, std::vector<uint32_t> m) {
    BmpSpec s;
    s.header_size = header;
    s.width = 2;
    s.height = 2;
    s.bit_count = uint16_t(bits);
    s.compression = compression;
    s.masks = std::move(m);
    s.pixels = PackRows(2, 2, bits, false, Pattern);
    return BuildBmp(s);
  };
  cases.push_back(
      {"overlapping masks", bitfields(40, 32, 3, {0x00FF0000, 0x0001FF00, 0xFF}), R::Masks});
  cases.push_back(
      {"a mask with a hole", bitfields(40, 32, 3, {0x00FF0000, 0x0000F0F0, 0xF}), R::Masks});
  cases.push_back(
      {"a 16-bit mask beyond 16 bits", bitfields(40, 16, 3, {0x1F0000, 0x7E0, 0x1F}), R::Masks});
  cases.push_back({"alpha overlapping a colour",
                   bitfields(124, 32, 3, {0xFF0000, 0xFF00, 0xFF, 0xFF}), R::Masks});
  cases.push_back({"alpha bit-fields in a 52-byte header",
                   bitfields(52, 32, 6, {0xFF0000, 0xFF00, 0xFF}), R::Masks});
  {
    // Compression 3 in an OS/2 2.x header is Huffman 1D.
    BmpSpec s;
    s.header_size = 64;
    s.width = 8;
    s.height = 1;
    s.bit_count = 1;
    s.compression = 3;
    s.palette = TestPalette(2);
    s.pixels = {0xAA, 0, 0, 0};
    cases.push_back({"Huffman 1D coding", BuildBmp(s), R::Compression});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectBmpRefused(c.bytes, c.reason);
  }
}

// Every regression file that the fuzzer once broke the reader with is
// refused cleanly now (or decodes, if it is a valid picture after all).
TEST(BmpReader, FuzzerCrashersStayFixed) {
  const std::filesystem::path folder = KEVRALE_TEST_DATA_DIR "/bmp/crashers";
  int count = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    if (e.path().extension() != ".bmp") continue;
    SCOPED_TRACE(e.path().filename().string());
    ++count;
    const std::vector<uint8_t> bytes = test::ReadBytes(e.path().string());
    try {
      Read(bytes);
    } catch (const EInvalidGraphic& error) {
      EXPECT_STREQ(error.what(), kInvalid);
    }
  }
  if (count == 0) GTEST_SKIP() << "no crash files in " << folder;
}

}  // namespace
}  // namespace kevrale
