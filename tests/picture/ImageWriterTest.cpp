// The PNG and TIFF writers: a saved bitmap's extension chooses its format,
// an independent reader (Python's PIL) finds the bitmap's pixels and alpha
// in each, and the writers' failures reach the save as its errors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "PilReader.h"
#include "TempFolder.h"
#include "picture/ImageFileFormat.h"
#include "picture/TBitmap.h"
#include "platform/Exception.h"
#include "platform/Stream.h"
#include "platform/SystemError.h"

namespace kevrale {
namespace {

using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

std::vector<uint8_t> Head(const std::vector<uint8_t>& bytes, size_t n) {
  return std::vector<uint8_t>(bytes.begin(), bytes.begin() + std::min(n, bytes.size()));
}

const std::vector<uint8_t> kPngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
const std::vector<uint8_t> kTiffSignature = {'I', 'I', 42, 0};

TEST(ImageFileFormat, TheExtensionOfTheFileNameChoosesInAnyCase) {
  EXPECT_EQ(ImageFileFormatFor("/a/b.png"), TImageFileFormat::Png);
  EXPECT_EQ(ImageFileFormatFor("B.PnG"), TImageFileFormat::Png);
  EXPECT_EQ(ImageFileFormatFor("c.tif"), TImageFileFormat::Tiff);
  EXPECT_EQ(ImageFileFormatFor("c.TIFF"), TImageFileFormat::Tiff);
  EXPECT_EQ(ImageFileFormatFor("lines.Svg"), TImageFileFormat::Svg);
  for (const char* other :
       {"d.bmp", "d.jpg", "d.png.bak", "png", "dir.png/file", "d.tiff ", "d.", "svg", ""})
    EXPECT_EQ(ImageFileFormatFor(other), TImageFileFormat::Bmp) << other;
}

// Every extension of the table names its own format, and a save name of
// each format gets the format back; only SVG is not a raster format.
TEST(ImageFileFormat, TheTableAgreesWithItself) {
  for (const TImageFileExtension& e : ImageFileExtensions()) {
    EXPECT_EQ(ImageFileFormatNamed(e.extension), e.format) << e.extension;
    EXPECT_EQ(ImageFileFormatFor("a." + std::string(SaveExtension(e.format))), e.format);
    EXPECT_EQ(IsRasterFormat(e.format), e.format != TImageFileFormat::Svg);
  }
  EXPECT_EQ(SaveExtension(TImageFileFormat::Tiff), "tif");
  EXPECT_EQ(ImageFileFormatNamed("TIFF"), TImageFileFormat::Tiff);
  EXPECT_EQ(ImageFileFormatNamed("jpg"), std::nullopt);
  EXPECT_EQ(ImageFileFormatNamed(""), std::nullopt);
}

// A bitmap saved under a name that asks for SVG is written as BMP, as
// under any name that asks for no raster format.
TEST(ImageFileFormat, ABitmapSavedForAnSvgNameIsABmp) {
  TBitmap bitmap(3, 2);
  TMemoryStream stream;
  bitmap.SaveToStreamFor(stream, "lines.svg");
  ASSERT_GE(stream.Data().size(), 2u);
  EXPECT_EQ(stream.Data()[0], 'B');
  EXPECT_EQ(stream.Data()[1], 'M');
}

TEST(ImageWriter, PilReadsTheBitmapsPixelsAndAlphaFromEachFormat) {
  TempFolder dir;
  const TBitmap rgb = pil::SampleBitmap(37, 23, TPixelFormat::pf24bit);
  const TBitmap rgba = pil::SampleBitmap(19, 11, TPixelFormat::pf32bit);
  const std::vector<std::string> names = {"rgb.png",   "rgba.PNG", "rgb.tif",
                                          "rgba.Tiff", "rgb.bmp",  "rgba.bmp"};
  std::vector<std::string> files;
  std::string expected;
  for (const std::string& name : names) {
    const TBitmap& b = name.starts_with("rgba") ? rgba : rgb;
    b.SaveToFile(dir.File(name));
    files.push_back(dir.File(name));
    expected += pil::Expected(b);
  }
  EXPECT_EQ(Head(ReadBytes(dir.File("rgba.PNG")), 8), kPngSignature);
  EXPECT_EQ(Head(ReadBytes(dir.File("rgb.tif")), 4), kTiffSignature);
  std::string missing;
  const std::string out = pil::Describe(files, missing);
  if (!missing.empty()) GTEST_SKIP() << missing;
  EXPECT_EQ(out, expected);
}

TEST(ImageWriter, TiffIsDeflateCodedWithUnassociatedAlpha) {
  TempFolder dir;
  // Rows alike, of more colours than a palette holds: deflate makes it far
  // smaller than its pixels, and it stays RGBA.
  TBitmap flat(300, 200, TPixelFormat::pf32bit);
  for (int y = 0; y < flat.Height(); ++y)
    for (int x = 0; x < flat.Width(); ++x) {
      uint8_t* p = flat.ScanLine(y) + 4 * x;
      p[0] = uint8_t(x);
      p[1] = uint8_t(x >> 8);
      p[3] = uint8_t(255 - x % 7);
    }
  flat.SaveToFile(dir.File("flat.tif"));
  const std::vector<uint8_t> file = ReadBytes(dir.File("flat.tif"));
  EXPECT_LT(file.size(), 300u * 200u * 4u / 20u);
  // The directory's tags: compression 8 (deflate), extra sample 2
  // (unassociated alpha), predictor 2 (horizontal differencing).
  ASSERT_GE(file.size(), 8u);
  const uint32_t ifd = file[4] | file[5] << 8 | file[6] << 16 | uint32_t(file[7]) << 24;
  ASSERT_LT(ifd + 2u, file.size());
  const size_t count = file[ifd] | file[ifd + 1] << 8;
  std::map<int, uint32_t> tags;
  for (size_t i = 0; i < count && ifd + 2 + i * 12 + 12 <= file.size(); ++i) {
    const uint8_t* e = file.data() + ifd + 2 + i * 12;
    tags[e[0] | e[1] << 8] = e[8] | e[9] << 8;
  }
  EXPECT_EQ(tags[259], 8u) << "compression";
  EXPECT_EQ(tags[338], 2u) << "extra samples";
  EXPECT_EQ(tags[317], 2u) << "predictor";
  EXPECT_EQ(tags[277], 4u) << "samples per pixel";
}

// Pictures of many strips, the last one short: grey and colour, line art
// above and smooth shading below, so that the strips are compressed both
// ways; PIL reads every pixel back.
TEST(ImageWriter, TiffsOfManyStripsReadBackWhicheverWayEachIsCompressed) {
  TempFolder dir;
  const auto draw = [](TBitmap& b, bool grey) {
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.Width(); ++x) {
        uint8_t v = (x + 2 * y) % 13 < 3 ? 0 : 255;
        if (y > b.Height() / 2) v = uint8_t((x + y) / 3);
        uint8_t* p = b.ScanLine(y) + 3 * x;
        p[0] = v;
        p[1] = grey ? v : uint8_t(x);
        p[2] = grey ? v : uint8_t(y);
      }
  };
  TBitmap grey(301, 2011, TPixelFormat::pf24bit);
  TBitmap colour(299, 607, TPixelFormat::pf24bit);
  draw(grey, true);
  draw(colour, false);
  grey.SaveToFile(dir.File("grey.tif"));
  colour.SaveToFile(dir.File("colour.tif"));
  std::string missing;
  const std::string modes = pil::Modes({dir.File("grey.tif"), dir.File("colour.tif")}, missing);
  if (!missing.empty()) GTEST_SKIP() << missing;
  EXPECT_EQ(modes, "L\nRGB\n");
  const std::string out = pil::Describe({dir.File("grey.tif"), dir.File("colour.tif")}, missing);
  EXPECT_EQ(out, pil::Expected(grey) + pil::Expected(colour));
}

TEST(ImageWriter, AnEmptyBitmapIsRefusedAndTheOldFileStays) {
  TempFolder dir;
  const TBitmap empty;
  for (const char* name : {"old.png", "old.tif"}) {
    SCOPED_TRACE(name);
    WriteBytes(dir.File(name), {'o', 'l', 'd'});
    try {
      empty.SaveToFile(dir.File(name));
      ADD_FAILURE() << "saved";
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.Message(), std::string("幅か高さが0の画像は") +
                                 (std::string(name).ends_with("png") ? "PNG" : "TIFF") +
                                 "形式では保存できません");
    }
    EXPECT_EQ(ReadBytes(dir.File(name)), (std::vector<uint8_t>{'o', 'l', 'd'}));
  }
  EXPECT_EQ(dir.Entries().size(), 2u);
}

TEST(ImageWriter, TiffThroughAPipeIsTheFileItIsOnDisk) {
  TempFolder dir;
  const TBitmap b = pil::SampleBitmap(41, 29, TPixelFormat::pf24bit);
  b.SaveToFile(dir.File("disk.tif"));
  // A pipe cannot seek back to the header: the file is built first.
  const std::string fifo = dir.File("pipe.tif");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Both ends are open before the save (a writer of the test's own, so
  // that opening the reading end does not wait); closing the test's writer
  // after the save ends the reader's input.
  const int keep_open = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(keep_open, 0);
  const int read_end = ::open(fifo.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(read_end, 0);
  std::vector<uint8_t> received;
  std::thread reader([&] {
    uint8_t buffer[4096];
    for (ssize_t n; (n = ::read(read_end, buffer, sizeof buffer)) > 0;)
      received.insert(received.end(), buffer, buffer + n);
  });
  b.SaveToFile(fifo);
  ::close(keep_open);
  reader.join();
  ::close(read_end);
  EXPECT_EQ(received, ReadBytes(dir.File("disk.tif")));
}

TEST(ImageWriter, AWriteFailureInsideTheCodecIsACreateErrorWithItsReason) {
  TempFolder dir;
  const TBitmap b = pil::SampleBitmap(64, 64, TPixelFormat::pf32bit);
  for (const char* name : {"full.png", "full.tif", "full.bmp"}) {
    SCOPED_TRACE(name);
    // The node of /dev/full: every write fails with ENOSPC.
    const std::string node = dir.File(name);
    if (::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0)
      GTEST_SKIP() << "mknod needs root (CAP_MKNOD): " << SystemErrorText(errno);
    try {
      b.SaveToFile(node);
      ADD_FAILURE() << "saved onto a full device";
    } catch (const EFCreateError& e) {
      EXPECT_EQ(e.Message(), "ファイル " + node + " を作成できません");
      EXPECT_EQ(e.Reason(), SystemErrorText(ENOSPC));
    }
    struct stat st;
    ASSERT_EQ(::stat(node.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
  }
}

}  // namespace
}  // namespace kevrale
