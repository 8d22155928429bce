// The BMP row reader read in bands against one read of every row (what the
// whole-picture reader does): the same rows, the same format and the same
// refusals, however the rows are cut into bands; RLE files included, whose
// bands start from the places noted by the check.
#include "picture/BmpRowReader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "BmpBuilder.h"
#include "TempFolder.h"
#include "picture/BmpReader.h"
#include "picture/LoadOutcome.h"
#include "platform/Stream.h"

namespace kevrale {
namespace {

using test::BmpSpec;
using test::BuildBmp;
using test::PackRows;

const std::filesystem::path kSuite = KEVRALE_TEST_DATA_DIR "/bmpsuite";

// The picture put together from bands of `band_rows` rows, in `format`.
TBitmap ReadInBands(BmpRowReader& reader, int band_rows, TPixelFormat format) {
  TBitmap whole;
  whole.SetSize(reader.Width(), reader.Height(), format);
  for (int y0 = 0; y0 < reader.Height(); y0 += band_rows) {
    TBitmap band;
    band.Allocate(reader.Width(), std::min(band_rows, reader.Height() - y0), format);
    // Whatever the band held before must not show through.
    std::memset(band.Bits(), 0xA5, band.BitsSize());
    reader.ReadRows(y0, band);
    for (int i = 0; i < band.Height(); ++i)
      std::memcpy(whole.ScanLine(y0 + i), band.ScanLine(i), band.Stride());
  }
  return whole;
}

// Empty when both hold the same rows, padding included.
std::string RowDifference(const TBitmap& expected, const TBitmap& actual) {
  if (expected.Width() != actual.Width() || expected.Height() != actual.Height() ||
      expected.PixelFormat() != actual.PixelFormat())
    return "another size or format";
  for (int y = 0; y < expected.Height(); ++y)
    if (std::memcmp(expected.ScanLine(y), actual.ScanLine(y), expected.Stride()) != 0)
      return "row " + std::to_string(y) + " differs";
  return "";
}

// What the whole-picture reader makes of the file, or its refusal.
struct WholeResult {
  TBitmap bitmap;
  std::optional<BmpRefusal> refusal;
};

WholeResult ReadWhole(TStream& stream) {
  WholeResult r;
  stream.SetPosition(0);
  try {
    ReadBmp(stream, r.bitmap);
  } catch (const EInvalidBmp& e) {
    r.refusal = e.Reason();
  }
  stream.SetPosition(0);
  return r;
}

// Compares bands with the whole picture on one file; `what` names it.
// Returns whether the row reader would stream it.
bool ExpectSameAsWhole(TStream& stream, const std::string& what) {
  SCOPED_TRACE(what);
  const WholeResult whole = ReadWhole(stream);
  std::optional<BmpRefusal> refusal;
  try {
    BmpRowReader reader(stream);
    reader.Check();
    EXPECT_FALSE(whole.refusal) << "the whole reader refused it: "
                                << BmpRefusalText(whole.refusal.value_or(BmpRefusal::Truncated));
    if (whole.refusal) return true;
    EXPECT_EQ(reader.Format(), whole.bitmap.PixelFormat());
    for (const int band_rows : {1, 3, 16, 17, reader.Height()})
      EXPECT_EQ(RowDifference(whole.bitmap, ReadInBands(reader, band_rows, reader.Format())), "")
          << "bands of " << band_rows;
    return reader.Streams();
  } catch (const EInvalidBmp& e) {
    refusal = e.Reason();
  }
  EXPECT_TRUE(whole.refusal) << "only the row reader refused it: " << BmpRefusalText(*refusal);
  if (whole.refusal) {
    EXPECT_EQ(BmpRefusalText(*refusal), BmpRefusalText(*whole.refusal));
  }
  return false;
}

TEST(BmpRowReader, EveryBmpSuiteFileAsTheWholeReaderReadsIt) {
  if (!std::filesystem::is_directory(kSuite / "g"))
    GTEST_SKIP() << "the BMP Suite corpus is not at " << kSuite;
  for (const char* folder : {"g", "q", "b"}) {
    int streamed = 0;
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(kSuite / folder)) {
      if (e.path().extension() != ".bmp") continue;
      ++files;
      TFileStream stream(e.path().string(), TFileStream::Mode::Read);
      const bool streams = ExpectSameAsWhole(stream, e.path().filename().string());
      streamed += streams;
      // Of the good files, only the RLE-coded ones are left to the whole
      // reader.
      if (std::string(folder) == "g") {
        EXPECT_EQ(streams, e.path().filename().string().find("rle") == std::string::npos)
            << e.path();
      }
    }
    EXPECT_GT(files, 0) << folder;
    if (std::string(folder) != "b") {
      EXPECT_GT(streamed, files / 2) << folder;
    }
  }
}

// Random rows of every uncompressed kind, stored bottom-up and top-down, at
// widths across the 4-byte padding.
TEST(BmpRowReader, GeneratedVariantsInBothRowOrders) {
  std::mt19937 rng(7);
  struct Kind {
    uint16_t bits;
    uint32_t compression;
    std::vector<uint32_t> masks;
    uint32_t header_size;
  };
  const Kind kinds[] = {
      {1, 0, {}, 40},
      {4, 0, {}, 40},
      {8, 0, {}, 40},
      {16, 0, {}, 40},
      {16, 3, {0xF800, 0x07E0, 0x001F}, 40},
      {24, 0, {}, 40},
      {32, 0, {}, 40},
      {32, 3, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}, 56},
      {32, 3, {0x000003FF, 0x000FFC00, 0x3FF00000}, 40},
  };
  for (const Kind& k : kinds)
    for (const bool top_down : {false, true})
      for (const int width : {1, 3, 6, 37}) {
        const int height = 23;
        BmpSpec s;
        s.header_size = k.header_size;
        s.width = width;
        s.height = top_down ? -height : height;
        s.bit_count = k.bits;
        s.compression = k.compression;
        s.masks = k.masks;
        if (k.bits <= 8)
          for (uint32_t i = 0; i < (1u << k.bits); ++i)
            s.palette.push_back(uint32_t(rng()) & 0xFFFFFF);
        s.pixels =
            PackRows(width, height, k.bits, top_down, [&](int, int) { return uint32_t(rng()); });
        TMemoryStream stream(BuildBmp(s));
        EXPECT_TRUE(ExpectSameAsWhole(
            stream, std::to_string(k.bits) + " bits, compression " + std::to_string(k.compression) +
                        (top_down ? ", top-down" : "") + ", width " + std::to_string(width)));
      }
}

// The fourth byte of a 32-bit picture without an alpha mask is alpha only
// where it varies (or is neither 0 nor 255), and only the whole picture
// tells; the one pixel that differs lies in the last row the check reads.
TEST(BmpRowReader, AlphaInTheFourthByteIsJudgedOverTheWholePicture) {
  struct Case {
    const char* what;
    uint8_t alpha;
    int odd_y;  // the row whose first pixel has alpha 7, or -1
    TPixelFormat expected;
  };
  const Case cases[] = {
      {"all 0", 0, -1, TPixelFormat::pf24bit},
      {"all 255", 255, -1, TPixelFormat::pf24bit},
      {"all 128", 128, -1, TPixelFormat::pf32bit},
      {"0 but the top row", 0, 0, TPixelFormat::pf32bit},
      {"255 but the bottom row", 255, 299, TPixelFormat::pf32bit},
  };
  for (const Case& c : cases)
    for (const bool top_down : {false, true}) {
      BmpSpec s;
      s.width = 5;
      s.height = top_down ? -300 : 300;
      s.bit_count = 32;
      s.pixels = PackRows(5, 300, 32, top_down, [&](int x, int y) {
        const uint32_t a = x == 0 && y == c.odd_y ? 7 : c.alpha;
        return a << 24 | uint32_t(x * 40 + y);
      });
      TMemoryStream stream(BuildBmp(s));
      BmpRowReader reader(stream);
      reader.Check();
      EXPECT_EQ(reader.Format(), c.expected) << c.what;
      ExpectSameAsWhole(stream, c.what);
    }
}

// A colour table shorter than the bit count allows, and one index past it
// in the very last row: the check refuses the file as the whole reader
// does, before any row is handed out.
TEST(BmpRowReader, AnIndexPastAShortColourTableIsRefusedByTheCheck) {
  BmpSpec s;
  s.width = 9;
  s.height = 40;
  s.bit_count = 4;
  s.colours_used = 3;
  s.palette = {0x000000, 0xFFFFFF, 0xFF0000};
  s.pixels = PackRows(9, 40, 4, false, [](int x, int y) { return y == 39 && x == 8 ? 5u : 1u; });
  TMemoryStream stream(BuildBmp(s));
  BmpRowReader reader(stream);
  ASSERT_TRUE(reader.Streams());
  try {
    reader.Check();
    FAIL() << "the index past the colour table went through";
  } catch (const EInvalidBmp& e) {
    EXPECT_EQ(e.Reason(), BmpRefusal::PaletteIndex);
  }
  EXPECT_EQ(ReadWhole(stream).refusal, BmpRefusal::PaletteIndex);
}

TEST(BmpRowReader, ATooWidePictureIsRefusedBeforeItsPixelsAreLookedFor) {
  BmpSpec s;
  s.width = 12501;
  s.height = 10;
  s.pixels = {};  // no pixel data at all: only the header is there
  TMemoryStream stream(BuildBmp(s));
  EXPECT_THROW(BmpRowReader(stream, TLoadLimits{12500, "too wide"}), EPictureTooWide);
  stream.SetPosition(0);
  try {
    BmpRowReader reader(stream, TLoadLimits{12501, "too wide"});
    FAIL() << "a file without its pixels was taken";
  } catch (const EInvalidBmp& e) {
    EXPECT_EQ(e.Reason(), BmpRefusal::PixelsMissing);
  }
}

// The bands of a transparent surround: 24-bit rows read into 32-bit bands
// keep their colours and are opaque.
TEST(BmpRowReader, RowsWidenedTo32BitsAreOpaque) {
  std::mt19937 rng(3);
  // The 32-bit picture's fourth bytes are all 0: no alpha, so opaque too.
  for (const uint16_t bits : {8, 24, 32}) {
    BmpSpec s;
    s.width = 7;
    s.height = 5;
    s.bit_count = bits;
    if (bits == 8)
      for (int i = 0; i < 256; ++i) s.palette.push_back(uint32_t(rng()) & 0xFFFFFF);
    s.pixels = PackRows(7, 5, bits, false, [&](int, int) { return uint32_t(rng()) & 0x00FFFFFF; });
    TMemoryStream stream(BuildBmp(s));
    const WholeResult whole = ReadWhole(stream);
    BmpRowReader reader(stream);
    reader.Check();
    const TBitmap wide = ReadInBands(reader, 2, TPixelFormat::pf32bit);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) {
        EXPECT_EQ(wide.Pixel(x, y), whole.bitmap.Pixel(x, y)) << x << ", " << y;
        EXPECT_EQ(wide.ScanLine(y)[4 * x + 3], 255);
      }
  }
}

// A file cut short after the check (another program truncating it) makes
// the rows fail as a truncated file does, not read past the end.
TEST(BmpRowReader, AFileCutShortAfterTheCheckIsTruncated) {
  test::TempFolder dir;
  BmpSpec s;
  s.width = 8;
  s.height = 30;
  s.pixels = PackRows(8, 30, 24, false, [](int x, int y) { return uint32_t(x + y); });
  const std::vector<uint8_t> bytes = BuildBmp(s);
  const std::string path = dir.Write(
      "cut.bmp", std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  TFileStream stream(path, TFileStream::Mode::Read);
  BmpRowReader reader(stream);
  reader.Check();
  ASSERT_EQ(::truncate(path.c_str(), off_t(bytes.size() - 100)), 0);
  TBitmap band;
  band.Allocate(8, 10, TPixelFormat::pf24bit);
  reader.ReadRows(20, band);  // stored first: still in the file
  try {
    reader.ReadRows(0, band);
    FAIL() << "rows past the end were read";
  } catch (const EInvalidBmp& e) {
    EXPECT_EQ(e.Reason(), BmpRefusal::Truncated);
  }
}

}  // namespace
}  // namespace kevrale
