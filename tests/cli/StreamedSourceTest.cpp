// PNG, TIFF and JPEG sources streamed through the program's own decoders
// against the whole-picture run, which decodes them with the bundled
// plug-ins: the same result file, byte for byte, for every colour type and
// layout, at heights around the ring of rows; every colour type of the
// results read back by PIL with the pixels of the whole-picture result; and
// what does not stream or breaks half-way left to the whole-picture run.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>

#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "FileSizeLimit.h"
#include "Files.h"
#include "PilReader.h"
#include "RunResults.h"
#include "TempFolder.h"
#include "cli/ImageRun.h"
#include "cli/StreamedRun.h"
#include "picture/TPicture.h"
#include "plugins/ProgramPluginHost.h"
#include "plugins/SPIBitmapRegistration.h"
#include "plugins/TSPIs.h"

namespace kevrale::cli {
namespace {

namespace fs = std::filesystem;

const char* const kExtensions[] = {"bmp", "png", "tif"};

const Staging kStagings[] = {{1, 1}, {3, 0}};

// The pixel pattern of the TIFF sources, as make_sources.py draws it: 0 a
// black stroke, 1 white, 2 and 3 two other colours.
int Level(int x, int y, int w) {
  if ((x + 2 * y) % 11 < 3 || (w > 6 && x - w / 3 >= 2 && x - w / 3 < 5)) return 0;
  if (y % 7 == 3) return 2;
  if ((x * 3 + y) % 17 == 0) return 3;
  return 1;
}

// How a TIFF source is written with libtiff.
struct TiffSpec {
  std::string name;
  uint16_t bits = 8;
  uint16_t samples = 3;
  uint16_t photometric = PHOTOMETRIC_RGB;
  uint16_t compression = COMPRESSION_ADOBE_DEFLATE;
  uint16_t extra = 0;  // EXTRASAMPLE_ kind of a fourth sample
  uint16_t planar = PLANARCONFIG_CONTIG;
  uint16_t orientation = ORIENTATION_TOPLEFT;
  bool big_endian = false;
  uint32_t tile = 0;  // tile width and length; 0: strips of 7 rows
  bool eight_bit_colour_map = false;
};

// The samples of pixel (x, y) for a spec, each at most 2^bits - 1.
std::vector<uint32_t> SamplesOf(const TiffSpec& s, int x, int y, int w) {
  const int l = Level(x, y, w);
  const uint32_t top = (1u << s.bits) - 1;
  if (s.samples == 1) {
    if (s.photometric == PHOTOMETRIC_PALETTE) return {uint32_t(l) & top};
    const uint32_t grey[] = {0, top, top / 3, top * 2 / 3};
    return {s.photometric == PHOTOMETRIC_MINISWHITE ? top - grey[l] : grey[l]};
  }
  const uint32_t colours[4][4] = {
      {0, 0, 0, 255}, {255, 255, 255, 255}, {200, 30, 40, 40}, {10, 120, 220, 0}};
  std::vector<uint32_t> out;
  for (int i = 0; i < s.samples; ++i) {
    uint32_t v = colours[l][i < 3 ? i : 3];
    if (s.extra == EXTRASAMPLE_ASSOCALPHA && i < 3) v = v * colours[l][3] / 255;
    if (s.photometric == PHOTOMETRIC_SEPARATED) v = i == 3 ? 0 : 255 - colours[l][i];
    out.push_back(s.bits == 16 ? v * 257 : v);
  }
  return out;
}

void PackSamples(const std::vector<uint32_t>& samples, int bits, std::vector<uint8_t>& row,
                 size_t& bit) {
  for (uint32_t v : samples) {
    if (bits == 16) {
      const uint16_t h = uint16_t(v);
      std::memcpy(row.data() + bit / 8, &h, 2);  // host order, as libtiff expects
    } else {
      for (int b = bits - 1; b >= 0; --b, ++bit)
        if (v >> b & 1) row[bit / 8] |= uint8_t(0x80 >> (bit % 8));
      continue;
    }
    bit += 16;
  }
}

void WriteTiffSource(const std::string& path, const TiffSpec& s, int w, int h) {
  TIFF* tif = TIFFOpen(path.c_str(), s.big_endian ? "wb" : "wl");
  ASSERT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(w));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(h));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, s.samples);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, s.photometric);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, s.compression);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, s.planar);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, s.orientation);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, 200.0f);
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, 200.0f);
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  if (s.extra != 0) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &s.extra);
  if (s.photometric == PHOTOMETRIC_PALETTE) {
    const size_t n = size_t(1) << s.bits;
    std::vector<uint16_t> r(n), g(n), b(n);
    const uint16_t colours[4][3] = {{0, 0, 0}, {255, 255, 255}, {200, 30, 40}, {10, 120, 220}};
    for (size_t i = 0; i < n && i < 4; ++i) {
      const uint16_t scale = s.eight_bit_colour_map ? 1 : 257;
      r[i] = uint16_t(colours[i][0] * scale);
      g[i] = uint16_t(colours[i][1] * scale);
      b[i] = uint16_t(colours[i][2] * scale);
    }
    TIFFSetField(tif, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
  }
  const bool separate = s.planar == PLANARCONFIG_SEPARATE;
  const int planes = separate ? s.samples : 1;
  const int per_plane = separate ? 1 : s.samples;
  const size_t row_bytes = (size_t(w) * s.bits * size_t(per_plane) + 7) / 8;
  // Every row of every plane, packed.
  std::vector<std::vector<uint8_t>> rows(size_t(planes) * size_t(h),
                                         std::vector<uint8_t>(row_bytes));
  for (int y = 0; y < h; ++y)
    for (int p = 0; p < planes; ++p) {
      std::vector<uint8_t>& row = rows[size_t(p) * size_t(h) + size_t(y)];
      size_t bit = 0;
      for (int x = 0; x < w; ++x) {
        std::vector<uint32_t> all = SamplesOf(s, x, y, w);
        if (separate) all = {all[size_t(p)]};
        PackSamples(all, s.bits, row, bit);
      }
    }
  if (s.tile == 0) {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 7u);
    for (int p = 0; p < planes; ++p)
      for (int y = 0; y < h; ++y)
        ASSERT_GE(TIFFWriteScanline(tif, rows[size_t(p) * size_t(h) + size_t(y)].data(),
                                    uint32_t(y), uint16_t(p)),
                  0);
  } else {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, s.tile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, s.tile);
    const size_t tile_row = (size_t(s.tile) * s.bits * size_t(per_plane) + 7) / 8;
    std::vector<uint8_t> tile(tile_row * s.tile);
    for (uint32_t ty = 0; ty < uint32_t(h); ty += s.tile)
      for (uint32_t tx = 0; tx < uint32_t(w); tx += s.tile) {
        std::fill(tile.begin(), tile.end(), 0);
        const size_t offset = size_t(tx) * s.bits * size_t(per_plane) / 8;
        for (uint32_t r = 0; r < s.tile && ty + r < uint32_t(h); ++r)
          std::memcpy(tile.data() + r * tile_row, rows[ty + r].data() + offset,
                      std::min(tile_row, row_bytes - offset));
        ASSERT_GE(TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0), 0);
      }
  }
  TIFFClose(tif);
}

std::vector<TiffSpec> TiffSpecs() {
  std::vector<TiffSpec> specs;
  const auto add = [&](TiffSpec s) { specs.push_back(std::move(s)); };
  add({.name = "rgb-strips"});
  add({.name = "rgb-big-endian", .big_endian = true});
  add({.name = "rgb-tiles", .tile = 16});
  add({.name = "rgb-tiles-big-endian",
       .compression = COMPRESSION_LZW,
       .big_endian = true,
       .tile = 16});
  add({.name = "rgba", .samples = 4, .extra = EXTRASAMPLE_UNASSALPHA});
  add({.name = "rgba-premultiplied", .samples = 4, .extra = EXTRASAMPLE_ASSOCALPHA});
  add({.name = "bilevel-g4",
       .bits = 1,
       .samples = 1,
       .photometric = PHOTOMETRIC_MINISWHITE,
       .compression = COMPRESSION_CCITTFAX4});
  add({.name = "bilevel-big-endian",
       .bits = 1,
       .samples = 1,
       .photometric = PHOTOMETRIC_MINISBLACK,
       .compression = COMPRESSION_NONE,
       .big_endian = true});
  add({.name = "grey2", .bits = 2, .samples = 1, .photometric = PHOTOMETRIC_MINISBLACK});
  add({.name = "grey4-tiles",
       .bits = 4,
       .samples = 1,
       .photometric = PHOTOMETRIC_MINISWHITE,
       .tile = 16});
  add({.name = "grey8", .bits = 8, .samples = 1, .photometric = PHOTOMETRIC_MINISBLACK});
  add({.name = "grey16", .bits = 16, .samples = 1, .photometric = PHOTOMETRIC_MINISBLACK});
  add({.name = "palette8", .bits = 8, .samples = 1, .photometric = PHOTOMETRIC_PALETTE});
  add({.name = "palette4-eight-bit-map",
       .bits = 4,
       .samples = 1,
       .photometric = PHOTOMETRIC_PALETTE,
       .eight_bit_colour_map = true});
  add({.name = "rgb16", .bits = 16});
  add({.name = "rgb-planes", .planar = PLANARCONFIG_SEPARATE});
  add({.name = "rgb-bottom-up", .orientation = ORIENTATION_BOTLEFT});
  add({.name = "cmyk", .samples = 4, .photometric = PHOTOMETRIC_SEPARATED});
  return specs;
}

// The files make_sources.py writes.
const char* const kPngJpegSources[] = {"grey1.png",
                                       "grey2.png",
                                       "grey4.png",
                                       "grey8.png",
                                       "grey16.png",
                                       "grey8-trns.png",
                                       "grey-alpha.png",
                                       "palette1.png",
                                       "palette2.png",
                                       "palette4.png",
                                       "palette8.png",
                                       "palette-short.png",
                                       "palette-trns.png",
                                       "palette-trns-opaque.png",
                                       "rgb.png",
                                       "rgb16.png",
                                       "rgb-trns.png",
                                       "rgba.png",
                                       "rgba-opaque.png",
                                       "rgba16.png",
                                       "rgb-filtered.png",
                                       "rgba-filtered.png",
                                       "grey8-filtered.png",
                                       "rgb.jpg",
                                       "progressive.jpg",
                                       "grey.jpg",
                                       "cmyk.jpg"};

class StreamedSourceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    registration_ = new SPIBitmapRegistration;
    host_ = new TSPIs;
    host_->SearchOptions = TSPISearchOptions{};
    host_->Search(BundledPluginFolder(KEVRALE_BIN_DIR) + "/*.spi");
  }
  static void TearDownTestSuite() {
    delete host_;
    delete registration_;
  }

  // Writes every source `width` x `height` into the folder; false (the
  // test skipped) where Python cannot run.
  bool MakeSources(int width, int height) {
    const test::RunResult r = test::RunCommand(
        "/usr/bin/python3 " + test::Quote(KEVRALE_CLI_TEST_DIR "/make_sources.py") + " " +
        test::Quote(dir_.Path()) + " " + std::to_string(width) + " " + std::to_string(height));
    if (r.status != 0) return false;
    for (const TiffSpec& s : TiffSpecs()) WriteTiffSource(File(s.name + ".tif"), s, width, height);
    return true;
  }

  std::vector<std::string> Sources() const {
    std::vector<std::string> names(std::begin(kPngJpegSources), std::end(kPngJpegSources));
    for (const TiffSpec& s : TiffSpecs()) names.push_back(s.name + ".tif");
    return names;
  }

  std::string File(const std::string& name) const { return dir_.File(name); }

  std::string Whole(const std::string& source, const std::string& out, const Options& options) {
    return WholeRunResult(source, out, options);
  }

  std::string Streamed(const std::string& source, const std::string& out, const Options& options,
                       Staging staging) {
    return StreamedRunResult(source, out, options, staging);
  }

  void ExpectSameResults(const std::string& name, const Options& options) {
    const std::string source = File(name);
    for (const char* ext : kExtensions) {
      const std::string whole = Whole(source, File("whole." + std::string(ext)), options);
      ASSERT_FALSE(whole.starts_with("error")) << ext << ": " << whole;
      for (const Staging& s : kStagings) {
        const std::string streamed =
            Streamed(source, File("streamed." + std::string(ext)), options, s);
        EXPECT_TRUE(streamed == whole)
            << ext << ", " << s.threads << " threads, bands of " << s.band_rows << ": "
            << (streamed.size() < 200 ? streamed : std::to_string(streamed.size()) + " bytes")
            << " against " << whole.size() << " bytes";
      }
    }
  }

  test::TempFolder dir_;
  static SPIBitmapRegistration* registration_;
  static TSPIs* host_;
};

SPIBitmapRegistration* StreamedSourceTest::registration_ = nullptr;
TSPIs* StreamedSourceTest::host_ = nullptr;

std::vector<std::pair<std::string, Options>> OptionSets(int width, int height) {
  Options plain;
  Options picked;
  picked.target_at = PixelPosition{width / 3 + 3, height / 2};
  picked.thinning.tolerance = 40;
  picked.thinning.transparent_surround = true;
  Options red;
  red.surround = 0x0000FF;  // a colour that no source has
  return {{"black on white", plain}, {"picked, transparent", picked}, {"red surround", red}};
}

TEST_F(StreamedSourceTest, EveryColourTypeAndLayoutAtHeightsAroundTheRing) {
  for (const int height : {1, 19, 20, 21, 40}) {
    SCOPED_TRACE("height " + std::to_string(height));
    if (!MakeSources(23, height)) GTEST_SKIP() << "/usr/bin/python3 cannot write the sources";
    for (const std::string& name : Sources()) {
      SCOPED_TRACE(name);
      if (!fs::exists(File(name))) continue;  // a JPEG where PIL is missing
      for (const auto& [what, options] : OptionSets(23, height)) {
        SCOPED_TRACE(what);
        ExpectSameResults(name, options);
      }
    }
  }
}

TEST_F(StreamedSourceTest, PilReadsEveryResultWithTheWholePictureResultsPixels) {
  if (!MakeSources(31, 26)) GTEST_SKIP() << "/usr/bin/python3 cannot write the sources";
  std::vector<std::string> files;
  for (const std::string& name : Sources()) {
    if (!fs::exists(File(name))) continue;
    for (const auto& [what, options] : OptionSets(31, 26)) {
      const std::string stem = File(name + "-" + std::to_string(files.size()));
      ThinWholePicture(File(name), stem + ".bmp", options);
      ASSERT_TRUE(ThinStreamed(File(name), stem + ".png", options, 2, 0)) << name;
      ASSERT_TRUE(ThinStreamed(File(name), stem + ".tif", options, 2, 0)) << name;
      for (const char* ext : {".bmp", ".png", ".tif"}) files.push_back(stem + ext);
    }
  }
  std::string missing;
  const std::string out = pil::Describe(files, missing);
  if (!missing.empty()) GTEST_SKIP() << missing;
  std::istringstream lines(out);
  std::vector<std::string> described;
  for (std::string line; std::getline(lines, line);) described.push_back(line);
  ASSERT_EQ(described.size(), files.size() * 2) << out.substr(0, 2000);
  for (size_t i = 0; i < files.size(); i += 3) {
    // RGB or RGBA as the BMP is, and the same pixels.
    EXPECT_EQ(described[2 * i + 2], described[2 * i]) << files[i + 1];
    EXPECT_EQ(described[2 * i + 3], described[2 * i + 1]) << files[i + 1];
    EXPECT_EQ(described[2 * i + 4], described[2 * i]) << files[i + 2];
    EXPECT_EQ(described[2 * i + 5], described[2 * i + 1]) << files[i + 2];
  }
  // Among the results, every colour type there is.
  std::string modes = pil::Modes(files, missing);
  for (const char* mode : {"1\n", "L\n", "P\n", "RGB\n", "RGBA\n"})
    EXPECT_NE(modes.find(mode), std::string::npos) << mode;
}

TEST_F(StreamedSourceTest, AGreyOrPaletteSourceStaysGreyOrPaletteAtItsDensity) {
  if (!MakeSources(40, 30)) GTEST_SKIP() << "/usr/bin/python3 cannot write the sources";
  struct Case {
    const char* source;
    const char* png_mode;
  };
  // An 8-bit grey source stays 8-bit grey even with few greys in it; a
  // palette stays a palette; RGB with four colours becomes a palette.
  const Case cases[] = {{"grey8.png", "L"},    {"grey1.png", "1"},      {"palette4.png", "P"},
                        {"rgb.png", "P"},      {"bilevel-g4.tif", "1"}, {"grey.jpg", "L"},
                        {"palette8.tif", "P"}, {"rgb-strips.tif", "P"}};
  std::vector<std::string> files;
  for (const Case& c : cases) {
    files.push_back(File(std::string(c.source) + ".png"));
    ASSERT_TRUE(ThinStreamed(File(c.source), files.back(), Options{}, 1, 0)) << c.source;
  }
  std::string missing;
  const std::string modes = pil::Modes(files, missing);
  if (!missing.empty()) GTEST_SKIP() << missing;
  std::string expected;
  for (const Case& c : cases) expected += std::string(c.png_mode) + "\n";
  EXPECT_EQ(modes, expected);
  // The PNG sources say 300 dots per inch (11811 pixels per metre).
  const std::string png = test::ReadText(files[0]);
  EXPECT_NE(png.find(std::string("pHYs\0\0\x2e\x23\0\0\x2e\x23\x01", 13)), std::string::npos);
}

// A BMP source says nothing of its colours, so a PNG or TIFF result's come
// from its pixels: they are found as the run goes, the result's rows kept
// as codes in as few bits as the colours so far need (1, widened to 2, 4
// and 8 as colours appear further down), and written once the colour type
// is known; past 256 colours, or past a palette's room with the surround
// added, the result is written otherwise. Each is the whole-picture run's
// file.
TEST_F(StreamedSourceTest, ColoursThatAppearFurtherDownGiveTheSameResults) {
  constexpr int kWidth = 37, kHeight = 60, kFirstRow = 5;
  Options red;
  red.surround = 0x0000FF;  // a colour that no source has
  for (const int count : {2, 3, 5, 17, 256, 300}) {
    SCOPED_TRACE(std::to_string(count) + " colours");
    TBitmap b;
    b.Allocate(kWidth, kHeight, TPixelFormat::pf24bit);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        TColor c = clWhite;  // white first: its code is 0, black's 1
        if ((x + 2 * y) % 11 >= 8) {
          c = clBlack;
        } else if (count > 2 && y >= kFirstRow && (x + y) % 3 == 0) {
          // New colours in order, the last near the bottom.
          const int place = (y - kFirstRow) * kWidth + x;
          const int id = place * (count - 2) / ((kHeight - kFirstRow) * kWidth);
          c = TColor(0x40 + 0x0100 * (id % 200) + 0x010000 * (id / 200));
        }
        b.SetPixel(x, y, c);
      }
    b.SaveToFile(File("colours.bmp"));
    ExpectSameResults("colours.bmp", Options{});
    ExpectSameResults("colours.bmp", red);
  }
}

// Greys: the result is written in the grey that the first rows' colours
// need while the run goes on, and kept where the whole picture needs no
// other; greys further down that the guess holds (new codes, wider
// codes), and greys it does not hold (the guess dropped), give the whole
// picture run's file too.
TEST_F(StreamedSourceTest, GreysThatAppearFurtherDownGiveTheSameResults) {
  constexpr int kWidth = 29, kHeight = 40;
  struct Case {
    std::vector<uint8_t> first;  // the greys of row 0 besides the strokes
    std::vector<uint8_t> later;  // greys that appear further down
    bool strokes_from_top;       // black strokes in row 0 too
  };
  const Case cases[] = {
      {{255}, {}, false},              // white alone, black further down
      {{255, 85}, {170}, true},        // 2 bits, a fourth grey below
      {{255}, {85}, true},             // 1 bit, then a grey it lacks
      {{255, 85, 170}, {0x12}, true},  // 2 bits, then 8
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.first.size()) + " greys first, " +
                 std::to_string(c.later.size()) + " later");
    TBitmap b;
    b.Allocate(kWidth, kHeight, TPixelFormat::pf24bit);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        uint8_t grey = c.first[size_t(x) % c.first.size()];
        if ((y > 0 || c.strokes_from_top) && (x + 2 * y) % 11 >= 8) grey = 0;
        if (y >= kHeight / 2 && !c.later.empty() && (x + y) % 5 == 0)
          grey = c.later[size_t(x + y) % c.later.size()];
        b.SetPixel(x, y, TColor(grey * 0x010101u));
      }
    b.SaveToFile(File("greys.bmp"));
    ExpectSameResults("greys.bmp", Options{});
  }
}

// Taller than a group of rows, so that damage is met after rows were given.
TEST_F(StreamedSourceTest, DamagedImageDataEndsAsInTheWholePictureRun) {
  if (!MakeSources(29, 75)) GTEST_SKIP() << "/usr/bin/python3 cannot write the sources";
  for (const char* name :
       {"rgb-bad-checksum.png", "rgb-bad-extra.png", "rgb-bad-filter.png", "rgb-bad-short.png",
        "rgb-bad-split.png", "rgb-small-window.png", "rgb-far-window.png"}) {
    SCOPED_TRACE(name);
    for (const char* ext : {".png", ".bmp"}) {
      const std::string whole = Whole(File(name), File(std::string("whole") + ext), Options{});
      const std::string streamed =
          Streamed(File(name), File(std::string("streamed") + ext), Options{}, {3, 0});
      if (whole.starts_with("error"))
        EXPECT_EQ(streamed, "not streamed");
      else
        EXPECT_TRUE(streamed == whole) << streamed.substr(0, 100);
    }
  }
  // The row that names no filter fails the picture, and so do data cut
  // short and a look back past the window that the stream declares; data
  // in many small chunks and an honest small window do not.
  for (const char* name : {"rgb-bad-filter.png", "rgb-bad-short.png", "rgb-far-window.png"})
    EXPECT_TRUE(Whole(File(name), File("whole.png"), Options{}).starts_with("error")) << name;
  for (const char* name : {"rgb-bad-split.png", "rgb-small-window.png"})
    EXPECT_FALSE(Whole(File(name), File("whole.png"), Options{}).starts_with("error")) << name;
}

TEST_F(StreamedSourceTest, WhatDoesNotStreamIsLeftToTheWholePictureRun) {
  if (!MakeSources(23, 21)) GTEST_SKIP() << "/usr/bin/python3 cannot write the sources";
  // An interlaced PNG, a file that claims to be a PNG but is not, standard
  // output.
  EXPECT_EQ(Streamed(File("interlaced.png"), File("out.png"), Options{}, {1, 0}), "not streamed");
  test::WriteText(File("fake.png"), "not a picture at all");
  EXPECT_EQ(Streamed(File("fake.png"), File("out.png"), Options{}, {1, 0}), "not streamed");
  EXPECT_EQ(Streamed(File("grey8.png"), kStandardOutputName, Options{}, {1, 0}), "not streamed");
  EXPECT_FALSE(fs::exists(File("out.png")));
  // The interlaced picture is thinned as a whole all the same.
  ThinImageFile(File("interlaced.png"), File("interlaced-thin.png"), Options{});
  ThinImageFile(File("grey8.png"), File("grey8-thin.png"), Options{});
  EXPECT_EQ(test::ReadText(File("interlaced-thin.png")), test::ReadText(File("grey8-thin.png")));
}

TEST_F(StreamedSourceTest, AFileBrokenHalfWayFailsAsInTheWholePictureRunAndKeepsTheOldFile) {
  if (!MakeSources(300, 200)) GTEST_SKIP() << "/usr/bin/python3 cannot write the sources";
  for (const char* name : {"rgb.png", "rgb.jpg", "rgb-strips.tif"}) {
    SCOPED_TRACE(name);
    if (!fs::exists(File(name))) continue;
    std::string bytes = test::ReadText(File(name));
    // A TIFF's directory comes last: its pixel data is spoilt in the
    // middle; the others end in the middle of their pixel data.
    const std::string broken = File(std::string("broken-") + name);
    if (name == std::string("rgb-strips.tif"))
      for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 40; ++i) bytes[i] = char(0x55);
    else
      bytes.resize(bytes.size() * 2 / 3);
    test::WriteText(broken, bytes);
    const std::string out = File("old.png");
    test::WriteText(out, "old");
    std::string streamed_error, whole_error;
    try {
      ThinImageFile(broken, out, Options{});
    } catch (const std::exception& e) {
      streamed_error = e.what();
    }
    try {
      ThinWholePicture(broken, File("whole.png"), Options{});
    } catch (const std::exception& e) {
      whole_error = e.what();
    }
    EXPECT_EQ(streamed_error, whole_error);
    if (!whole_error.empty()) {
      EXPECT_EQ(test::ReadText(out), "old");
    } else {
      EXPECT_EQ(test::ReadText(out), test::ReadText(File("whole.png")));
    }
  }
}

TEST_F(StreamedSourceTest, ASaveThatFailsHalfWayKeepsTheOldFileAndLeavesNoOther) {
  if (!MakeSources(300, 200)) GTEST_SKIP() << "/usr/bin/python3 cannot write the sources";
  for (const char* name : {"rgb.png", "grey8.png", "rgb-strips.tif", "rgb.jpg"}) {
    if (!fs::exists(File(name))) continue;
    for (const char* ext : kExtensions) {
      SCOPED_TRACE(std::string(name) + " into " + ext);
      const size_t full_size =
          Whole(File(name), File("full." + std::string(ext)), Options{}).size();
      const std::string folder = dir_.Sub(std::string(name) + "-" + ext);
      const std::string out = folder + "/result." + ext;
      test::WriteText(out, "the old result");
      bool failed = false;
      {
        // Room for the header and some rows, not all of them.
        const test::FileSizeLimit limit(full_size / 2);
        try {
          ThinStreamed(File(name), out, Options{}, 2, 0);
        } catch (const std::exception&) {
          failed = true;
        }
      }
      EXPECT_TRUE(failed);
      EXPECT_EQ(test::ReadText(out), "the old result");
      size_t entries = 0;
      for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) ++entries;
      EXPECT_EQ(entries, 1u);
    }
  }
}

}  // namespace
}  // namespace kevrale::cli
