// The smallest colour type of a PNG or TIFF file: which one a set of
// colours gets, and files of every type that PIL reads back with the
// bitmap's pixels, at the density they were given.
#include "picture/RasterLayout.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Files.h"
#include "PilReader.h"
#include "TempFolder.h"
#include "picture/ImageRowWriter.h"
#include "picture/TBitmap.h"
#include "platform/Stream.h"

namespace kevrale {
namespace {

constexpr uint32_t kOpaque = 0xFF000000u;

RasterLayout LayoutFor(const std::vector<uint32_t>& colours, bool alpha,
                       TImageFileFormat format = TImageFileFormat::Png) {
  ColourTable table;
  for (uint32_t c : colours) table.Add(c);
  return ChooseLayout(table, alpha, format);
}

std::string Describe(const RasterLayout& l) {
  const char* kinds[] = {"RGB", "RGBA", "grey", "palette"};
  return std::string(kinds[int(l.kind)]) + " " + std::to_string(l.bits);
}

TEST(RasterLayout, TheFewestBitsThatHoldEveryColour) {
  const uint32_t black = kOpaque, white = kOpaque | 0xFFFFFF, red = kOpaque | 0xFF0000;
  const auto grey = [](uint32_t v) { return kOpaque | v << 16 | v << 8 | v; };
  EXPECT_EQ(Describe(LayoutFor({black, white}, false)), "grey 1");
  EXPECT_EQ(Describe(LayoutFor({white}, false)), "grey 1");
  EXPECT_EQ(Describe(LayoutFor({black, grey(85), white}, false)), "grey 2");
  EXPECT_EQ(Describe(LayoutFor({black, grey(17), grey(34), grey(51), white}, false)), "grey 4");
  // Three greys off the 2-bit scale: a 2-bit palette beats 8 bits of grey.
  EXPECT_EQ(Describe(LayoutFor({black, grey(1), white}, false)), "palette 2");
  std::vector<uint32_t> ramp;
  for (uint32_t v = 0; v < 256; ++v) ramp.push_back(grey(v));
  EXPECT_EQ(Describe(LayoutFor(ramp, false)), "grey 8");
  EXPECT_EQ(Describe(LayoutFor({black, red}, false)), "palette 1");
  EXPECT_EQ(Describe(LayoutFor({black, red, white, grey(1), grey(2)}, false)), "palette 4");
  ramp.push_back(red);
  EXPECT_EQ(Describe(LayoutFor(ramp, false)), "RGB 8");
  EXPECT_EQ(Describe(LayoutFor(ramp, true)), "RGBA 8");
}

TEST(RasterLayout, AlphaNeedsAPaletteInPngAndRgbaInTiff) {
  const uint32_t clear = 0x00FFFFFF, black = kOpaque;
  const RasterLayout png = LayoutFor({black, clear}, true);
  EXPECT_EQ(Describe(png), "palette 1");
  // Entries with alpha come first, so that the PNG's alpha list is short.
  EXPECT_EQ(png.colours, (std::vector<uint32_t>{clear, black}));
  EXPECT_EQ(Describe(LayoutFor({black, clear}, true, TImageFileFormat::Tiff)), "RGBA 8");
  // A picture with an alpha channel whose pixels are all opaque needs none.
  EXPECT_EQ(Describe(LayoutFor({black, kOpaque | 0xFFFFFF}, true, TImageFileFormat::Tiff)),
            "grey 1");
  // Without alpha, the fourth byte of a colour does not count.
  EXPECT_EQ(Describe(LayoutFor({0x00000000, 0x12FFFFFF}, false)), "grey 1");
}

TEST(RasterLayout, APixelOutsideTheLayoutIsRefusedNotWrittenAsAnother) {
  RasterLayout layout = LayoutFor({kOpaque, kOpaque | 0xFFFFFF}, false);
  const RowPacker packer(layout);
  const uint8_t row[] = {0, 0, 0, 255, 255, 255, 0, 0, 255};
  uint8_t out[1] = {};
  EXPECT_THROW(packer.Pack(row, 3, 3, out), std::logic_error);
  packer.Pack(row, 2, 3, out);
  EXPECT_EQ(out[0], 0x40);  // black 0, white 1, high bits first
  // A grey between the levels of the bits, or a grey that is not opaque.
  const uint8_t mid_grey[] = {0, 0, 0, 0x80, 0x80, 0x80};
  EXPECT_THROW(packer.Pack(mid_grey, 2, 3, out), std::logic_error);
  const uint8_t clear[] = {255, 255, 255, 255, 0, 0, 0, 0};
  EXPECT_THROW(packer.Pack(clear, 2, 4, out), std::logic_error);
  // 2-bit grey holds 0x55 and 0xAA, but not 0x56.
  const RowPacker grey2(LayoutFor({kOpaque, kOpaque | 0x555555, kOpaque | 0xFFFFFF}, false));
  const uint8_t levels[] = {0x55, 0x55, 0x55, 0xFF, 0xFF, 0xFF, 0xAA, 0xAA, 0xAA};
  grey2.Pack(levels, 3, 3, out);
  EXPECT_EQ(out[0], 0x78);  // 01 11 10, padded
  const uint8_t off[] = {0x56, 0x56, 0x56};
  EXPECT_THROW(grey2.Pack(off, 1, 3, out), std::logic_error);
}

TEST(RasterLayout, ALonePixelInARunIsPackedWhereverItFalls) {
  // Colours that differ in one byte: blue, or only alpha in 4-byte pixels.
  for (const int bytes : {3, 4}) {
    const uint32_t run = bytes == 4 ? 0x80102030u : kOpaque | 0x102030;
    const uint32_t lone = bytes == 4 ? 0x81102030u : kOpaque | 0x102031;
    const RasterLayout layout = LayoutFor({run, lone}, bytes == 4);
    ASSERT_EQ(layout.kind, RasterKind::Palette);
    const RowPacker packer(layout);
    const uint8_t run_code = layout.colours[0] == run ? 0 : 1;
    constexpr int kWidth = 19;
    for (int at = 0; at < kWidth; ++at) {
      std::vector<uint8_t> row(size_t(kWidth) * size_t(bytes));
      for (int x = 0; x < kWidth; ++x)
        for (int i = 0; i < bytes; ++i)
          row[size_t(x * bytes + i)] = uint8_t((x == at ? lone : run) >> (8 * i));
      uint8_t out[3] = {};
      packer.Pack(row.data(), kWidth, bytes, out);
      for (int x = 0; x < kWidth; ++x) {
        const int bit = out[x / 8] >> (7 - x % 8) & 1;
        EXPECT_EQ(bit, x == at ? 1 - run_code : run_code)
            << bytes << "-byte pixels, lone pixel at " << at << ", pixel " << x;
      }
      EXPECT_EQ(out[2] & 0x1F, 0) << "the last byte is padded with zero bits";
    }
  }
}

// A bitmap of the given colours (0xAARRGGBB), each pixel one of them by a
// pattern that mixes runs and single pixels.
TBitmap PictureOf(const std::vector<uint32_t>& colours, bool alpha, int width = 37,
                  int height = 11) {
  TBitmap b(width, height, alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const size_t pick = (x / 3 + y * 5 + (x * y) % 7) % colours.size();
      uint8_t* p = b.ScanLine(y) + size_t(x) * size_t(b.BytesPerPixel());
      const uint32_t c = colours[pick];
      p[0] = uint8_t(c);
      p[1] = uint8_t(c >> 8);
      p[2] = uint8_t(c >> 16);
      if (alpha) p[3] = uint8_t(c >> 24);
    }
  return b;
}

TEST(RasterLayout, PilReadsEveryTypeBackWithTheBitmapsPixels) {
  test::TempFolder dir;
  const auto grey = [](uint32_t v) { return kOpaque | v << 16 | v << 8 | v; };
  std::vector<uint32_t> many;
  for (uint32_t i = 0; i < 200; ++i) many.push_back(kOpaque | i * 0x010305);
  std::vector<uint32_t> greys;
  for (uint32_t v = 0; v < 256; v += 3) greys.push_back(grey(v));
  struct Case {
    std::string name;
    TBitmap bitmap;
    std::string png_mode, tiff_mode;
  };
  const std::vector<Case> cases = {
      {"bilevel", PictureOf({grey(0), grey(255)}, false), "1", "1"},
      {"grey2", PictureOf({grey(0), grey(85), grey(170)}, false), "L", "L"},
      {"grey4", PictureOf({grey(0), grey(17), grey(34), grey(119), grey(255)}, false), "L", "L"},
      {"grey8", PictureOf(greys, false, 300), "L", "L"},
      {"palette1", PictureOf({kOpaque | 0xFF0000, kOpaque | 0x0000FF}, false), "P", "P"},
      {"palette2", PictureOf({kOpaque | 0xFF0000, grey(0), grey(255)}, false), "P", "P"},
      {"palette4", PictureOf({kOpaque | 0xFF0000, grey(0), grey(255), grey(3), grey(9)}, false),
       "P", "P"},
      {"palette8", PictureOf(many, false, 300), "P", "P"},
      {"alpha", PictureOf({0x00FFFFFF, 0x80102030, kOpaque}, true), "P", "RGBA"},
      {"rgb", pil::SampleBitmap(37, 23, TPixelFormat::pf24bit), "RGB", "RGB"},
      {"rgba", pil::SampleBitmap(61, 17, TPixelFormat::pf32bit), "RGBA", "RGBA"},
  };
  std::vector<std::string> files;
  std::string expected, expected_modes;
  for (const Case& c : cases)
    for (const char* ext : {".png", ".tif"}) {
      files.push_back(dir.File(c.name + ext));
      c.bitmap.SaveToFile(files.back());
      expected += pil::Expected(c.bitmap);
      expected_modes += (ext == std::string(".png") ? c.png_mode : c.tiff_mode) + "\n";
    }
  std::string missing;
  const std::string out = pil::Describe(files, missing);
  if (!missing.empty()) GTEST_SKIP() << missing;
  EXPECT_EQ(out, expected);
  EXPECT_EQ(pil::Modes(files, missing), expected_modes);
}

// The value of a TIFF tag of the first directory of a little-endian file
// (the first of its values), or 0.
uint32_t TiffTag(const std::vector<uint8_t>& file, int tag) {
  const auto get = [&](size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | file.at(at + size_t(i));
    return v;
  };
  const uint32_t ifd = get(4, 4);
  for (uint32_t i = 0, n = get(ifd, 2); i < n; ++i) {
    const size_t e = ifd + 2 + size_t(i) * 12;
    if (int(get(e, 2)) != tag) continue;
    const uint32_t type = get(e + 2, 2);
    if (type == 5) return get(get(e + 8, 4), 4) / std::max<uint32_t>(get(get(e + 8, 4) + 4, 4), 1);
    return get(e + 8, type == 3 ? 2 : 4);
  }
  return 0;
}

TEST(RasterLayout, BilevelTiffIsGroup4AndTheDensityIsTheOneGiven) {
  const TBitmap b = PictureOf({kOpaque, kOpaque | 0xFFFFFF}, false, 200, 50);
  RasterLayout layout = LayoutOf(b, TImageFileFormat::Tiff);
  layout.x_ppm = 11811;  // 300 dots per inch
  layout.y_ppm = 23622;  // 600
  TMemoryStream tiff;
  WriteImage(TImageFileFormat::Tiff, b, tiff, layout);
  EXPECT_EQ(TiffTag(tiff.Data(), 259), 4u) << "compression: CCITT Group 4";
  EXPECT_EQ(TiffTag(tiff.Data(), 262), 0u) << "photometric: white is zero";
  EXPECT_EQ(TiffTag(tiff.Data(), 258), 1u) << "bits per sample";
  EXPECT_EQ(TiffTag(tiff.Data(), 282), 300u) << "x resolution";
  EXPECT_EQ(TiffTag(tiff.Data(), 283), 600u) << "y resolution";

  TMemoryStream png;
  WriteImage(TImageFileFormat::Png, b, png, layout);
  // IHDR, then pHYs: pixels per metre, x then y.
  const std::string bytes(png.Data().begin(), png.Data().end());
  const size_t phys = bytes.find("pHYs");
  ASSERT_NE(phys, std::string::npos);
  const auto be32 = [&](size_t at) {
    return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 |
           uint32_t(uint8_t(bytes[at + 2])) << 8 | uint8_t(bytes[at + 3]);
  };
  EXPECT_EQ(be32(phys + 4), 11811u);
  EXPECT_EQ(be32(phys + 8), 23622u);
  EXPECT_EQ(uint8_t(bytes[24]), 1) << "bit depth";
  EXPECT_EQ(uint8_t(bytes[25]), 0) << "colour type: grey";
}

}  // namespace
}  // namespace kevrale
