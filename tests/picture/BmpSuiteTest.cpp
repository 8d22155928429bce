// The BMP Suite corpus: every g/ file decodes to its reference picture,
// pixel for pixel; every q/ and b/ file is decoded or refused as the table
// below says, never anything else.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "picture/BmpReader.h"
#include "picture/TBitmap.h"
#include "platform/Exception.h"
#include "platform/Stream.h"

namespace kevrale {
namespace {

const std::filesystem::path kSuite = KEVRALE_TEST_DATA_DIR "/bmpsuite";

struct RgbaImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;
};

// The reference as 8-bit RGBA. libpng's low-level interface is used so that
// no gamma or alpha conversion touches the values; 16-bit samples are
// rounded to 8 bits.
RgbaImage ReadPng(const std::filesystem::path& path) {
  RgbaImage out;
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) {
    ADD_FAILURE() << "cannot open " << path;
    return out;
  }
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    ADD_FAILURE() << "cannot decode " << path;
    return RgbaImage{};
  }
  png_init_io(png, file.get());
  png_read_png(png, info, PNG_TRANSFORM_EXPAND | PNG_TRANSFORM_GRAY_TO_RGB, nullptr);
  out.width = int(png_get_image_width(png, info));
  out.height = int(png_get_image_height(png, info));
  const int channels = png_get_channels(png, info);
  const bool wide = png_get_bit_depth(png, info) == 16;
  png_bytepp rows = png_get_rows(png, info);
  out.rgba.resize(size_t(out.width) * size_t(out.height) * 4);
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x)
      for (int c = 0; c < 4; ++c) {
        uint32_t v = 255;
        if (c < channels) {
          const png_bytep p = rows[y] + (size_t(x) * size_t(channels) + size_t(c)) * (wide ? 2 : 1);
          v = wide ? ((uint32_t(p[0]) << 8 | p[1]) * 255 + 32767) / 65535 : p[0];
        }
        out.rgba[(size_t(y) * size_t(out.width) + size_t(x)) * 4 + size_t(c)] = uint8_t(v);
      }
  png_destroy_read_struct(&png, &info, nullptr);
  return out;
}

TBitmap Decode(const std::filesystem::path& path) {
  TFileStream stream(path.string(), TFileStream::Mode::Read);
  TBitmap bitmap;
  ReadBmp(stream, bitmap);
  return bitmap;
}

// Compares every pixel with the reference, each channel within `tolerance`;
// alpha too when the bitmap carries it (unless `colours_only`), else the
// reference must be opaque. The colour of a fully transparent pixel does not
// count.
void ExpectMatches(const TBitmap& bitmap, const std::filesystem::path& reference, int tolerance = 0,
                   bool colours_only = false) {
  const RgbaImage ref = ReadPng(reference);
  ASSERT_EQ(bitmap.Width(), ref.width);
  ASSERT_EQ(bitmap.Height(), ref.height);
  int mismatches = 0;
  for (int y = 0; y < ref.height && mismatches < 5; ++y) {
    const uint8_t* p = bitmap.ScanLine(y);
    for (int x = 0; x < ref.width && mismatches < 5; ++x, p += bitmap.BytesPerPixel()) {
      const uint8_t* r = ref.rgba.data() + (size_t(y) * size_t(ref.width) + size_t(x)) * 4;
      const uint8_t alpha = bitmap.HasAlpha() && !colours_only ? p[3] : 0xFF;
      auto off = [&](uint8_t a, uint8_t b) { return std::abs(int(a) - int(b)) > tolerance; };
      const bool colour_counts = alpha != 0 || r[3] != 0;
      if (off(alpha, r[3]) ||
          (colour_counts && (off(p[2], r[0]) || off(p[1], r[1]) || off(p[0], r[2])))) {
        ++mismatches;
        ADD_FAILURE() << "pixel (" << x << ", " << y << ") is RGBA " << int(p[2]) << " "
                      << int(p[1]) << " " << int(p[0]) << " " << int(alpha) << ", reference "
                      << int(r[0]) << " " << int(r[1]) << " " << int(r[2]) << " " << int(r[3]);
      }
    }
  }
}

std::map<std::string, std::string> ReferenceMap() {
  std::map<std::string, std::string> map;
  std::ifstream in(kSuite / "reference" / "MAP.tsv");
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    map[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return map;
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(kSuite / folder))
    if (e.path().extension() == ".bmp") names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class BmpSuite : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::is_directory(kSuite / "g"))
      GTEST_SKIP() << "the BMP Suite corpus is not at " << kSuite;
  }
};

TEST_F(BmpSuite, EveryGoodFileMatchesItsReference) {
  const auto references = ReferenceMap();
  const auto files = FilesIn("g");
  ASSERT_FALSE(files.empty());
  for (const std::string& name : files) {
    SCOPED_TRACE("g/" + name);
    const auto ref = references.find("g/" + name);
    ASSERT_NE(ref, references.end()) << "no reference in MAP.tsv";
    TBitmap bitmap;
    ASSERT_NO_THROW(bitmap = Decode(kSuite / "g" / name));
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit) << "no g/ file carries alpha";
    ExpectMatches(bitmap, kSuite / "reference" / ref->second);
  }
}

enum class Expect { Decode, Refuse };

// What the reader makes of each questionable and each bad file. A decoded
// file is compared with `reference` when one is named (for the RLE files
// that skip pixels: the picture with the skipped pixels black).
struct Verdict {
  Expect expect;
  std::string reference;
  TPixelFormat format = TPixelFormat::pf24bit;
  int tolerance = 0;
  bool colours_only = false;  // the reference's alpha is not the file's
};

const std::map<std::string, Verdict>& Table() {
  constexpr TPixelFormat kAlpha = TPixelFormat::pf32bit;
  static const std::map<std::string, Verdict> table = {
      // Questionable files that decode.
      {"q/pal1p1.bmp", {Expect::Decode, "pal1p1.png"}},
      {"q/pal2.bmp", {Expect::Decode, "pal2.png"}},
      {"q/pal2color.bmp", {Expect::Decode, "pal2color.png"}},
      {"q/pal4rlecut.bmp", {Expect::Decode, "pal4rlecut-b.png"}},
      {"q/pal4rletrns.bmp", {Expect::Decode, "pal4rletrns-b.png"}},
      {"q/pal8offs.bmp", {Expect::Decode, "pal8.png"}},
      {"q/pal8os2-hs.bmp", {Expect::Decode, "pal8.png"}},
      {"q/pal8os2-sz.bmp", {Expect::Decode, "pal8.png"}},
      {"q/pal8os2sp.bmp", {Expect::Decode, "pal8.png"}},
      {"q/pal8os2v2-16.bmp", {Expect::Decode, "pal8.png"}},
      {"q/pal8os2v2-40sz.bmp", {Expect::Decode, "pal8.png"}},
      {"q/pal8os2v2-sz.bmp", {Expect::Decode, "pal8.png"}},
      {"q/pal8os2v2.bmp", {Expect::Decode, "pal8.png"}},
      {"q/pal8rlecut.bmp", {Expect::Decode, "pal8rlecut-b.png"}},
      {"q/pal8rletrns.bmp", {Expect::Decode, "pal8rletrns-b.png"}},
      {"q/rgb16-231.bmp", {Expect::Decode, "rgb16-231.png"}},
      {"q/rgb16-3103.bmp", {Expect::Decode, "rgb16-3103.png"}},
      {"q/rgb16faketrns.bmp", {Expect::Decode, "rgb16.png"}},
      {"q/rgb24largepal.bmp", {Expect::Decode, "rgb24.png"}},
      {"q/rgb24lprof.bmp", {Expect::Decode, "rgb24.png"}},
      {"q/rgb24prof.bmp", {Expect::Decode, "rgb24.png"}},
      // Its colour profile swaps red and green back; profiles are ignored.
      {"q/rgb24prof2.bmp", {Expect::Decode, ""}},
      {"q/rgb24rle24.bmp", {Expect::Decode, "pal8.png"}},
      // Its reference is the 8-bit original; an 11-bit sample such as 1690
      // (210.53 of 255) rounds to the next value.
      {"q/rgb32-111110.bmp", {Expect::Decode, "rgb24.png", TPixelFormat::pf24bit, 1}},
      {"q/rgb32-7187.bmp", {Expect::Decode, "rgb32-7187.png"}},
      {"q/rgb32-xbgr.bmp", {Expect::Decode, "rgb24.png"}},
      // Its fourth bytes are not 0 in every pixel, so they are taken as
      // alpha (as image programs read such a file); the colours are the
      // reference's.
      {"q/rgb32fakealpha.bmp", {Expect::Decode, "rgb24.png", kAlpha, 0, true}},
      {"q/rgb32h52.bmp", {Expect::Decode, "rgb24.png"}},
      {"q/rgba16-1924.bmp", {Expect::Decode, "rgba16-1924.png", kAlpha}},
      {"q/rgba16-4444.bmp", {Expect::Decode, "rgba16-4444.png", kAlpha}},
      {"q/rgba16-5551.bmp", {Expect::Decode, "rgba16-5551.png", kAlpha}},
      {"q/rgba32-1.bmp", {Expect::Decode, "rgba32.png", kAlpha}},
      {"q/rgba32-1010102.bmp", {Expect::Decode, "rgba32-1010102.png", kAlpha}},
      {"q/rgba32-2.bmp", {Expect::Decode, "rgba32.png", kAlpha}},
      {"q/rgba32-61754.bmp", {Expect::Decode, "rgba32-61754.png", kAlpha}},
      {"q/rgba32-81284.bmp", {Expect::Decode, "rgba32-81284.png", kAlpha}},
      {"q/rgba32abf.bmp", {Expect::Decode, "rgba32.png", kAlpha}},
      {"q/rgba32h56.bmp", {Expect::Decode, "rgba32.png", kAlpha}},
      // Questionable files that are refused.
      {"q/pal1huffmsb.bmp", {Expect::Refuse, ""}},      // Huffman 1D coding
      {"q/pal8oversizepal.bmp", {Expect::Refuse, ""}},  // 300 colours for 8 bits
      {"q/rgb24jpeg.bmp", {Expect::Refuse, ""}},        // embedded JPEG
      {"q/rgb24png.bmp", {Expect::Refuse, ""}},         // embedded PNG
      {"q/rgba64.bmp", {Expect::Refuse, ""}},           // 64 bits per pixel
      // Bad files whose lying field is one that the reader does not need.
      {"b/badbitssize.bmp", {Expect::Decode, "pal1.png"}},
      {"b/baddens1.bmp", {Expect::Decode, "pal1.png"}},
      {"b/baddens2.bmp", {Expect::Decode, "pal1.png"}},
      {"b/badfilesize.bmp", {Expect::Decode, "pal1.png"}},
      // A zero-width channel reads as 0.
      {"b/rgb16-880.bmp", {Expect::Decode, "rgb16-880.png"}},
      // Bad files that are refused.
      {"b/badbitcount.bmp", {Expect::Refuse, ""}},
      {"b/badheadersize.bmp", {Expect::Refuse, ""}},
      {"b/badpalettesize.bmp", {Expect::Refuse, ""}},
      {"b/badplanes.bmp", {Expect::Refuse, ""}},
      {"b/badrle.bmp", {Expect::Refuse, ""}},
      {"b/badrle4.bmp", {Expect::Refuse, ""}},
      {"b/badrle4bis.bmp", {Expect::Refuse, ""}},
      {"b/badrle4ter.bmp", {Expect::Refuse, ""}},
      {"b/badrlebis.bmp", {Expect::Refuse, ""}},
      {"b/badrleter.bmp", {Expect::Refuse, ""}},
      {"b/badwidth.bmp", {Expect::Refuse, ""}},
      {"b/pal8badindex.bmp", {Expect::Refuse, ""}},
      {"b/reallybig.bmp", {Expect::Refuse, ""}},
      {"b/rletopdown.bmp", {Expect::Refuse, ""}},
      {"b/shortfile.bmp", {Expect::Refuse, ""}},
  };
  return table;
}

TEST_F(BmpSuite, QuestionableAndBadFilesAreDecodedOrRefusedAsTabled) {
  std::vector<std::string> seen;
  for (const std::string folder : {"q", "b"}) {
    for (const std::string& name : FilesIn(folder)) {
      const std::string key = folder + "/" + name;
      SCOPED_TRACE(key);
      seen.push_back(key);
      const auto verdict = Table().find(key);
      ASSERT_NE(verdict, Table().end()) << "a corpus file that the table does not know";
      if (verdict->second.expect == Expect::Refuse) {
        try {
          Decode(kSuite / folder / name);
          ADD_FAILURE() << "decoded, but should be refused";
        } catch (const EInvalidGraphic& e) {
          EXPECT_STREQ(e.what(), "ビットマップイメージが不正です");
        }
        continue;
      }
      TBitmap bitmap;
      ASSERT_NO_THROW(bitmap = Decode(kSuite / folder / name));
      EXPECT_EQ(bitmap.PixelFormat(), verdict->second.format);
      if (!verdict->second.reference.empty())
        ExpectMatches(bitmap, kSuite / "reference" / verdict->second.reference,
                      verdict->second.tolerance, verdict->second.colours_only);
    }
  }
  EXPECT_EQ(seen.size(), Table().size()) << "a tabled file is missing from the corpus";
}

}  // namespace
}  // namespace kevrale
