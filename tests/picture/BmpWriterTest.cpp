// The BMP writer: the files it writes read back unchanged, in our reader
// and in an independent one (Python's PIL), and a save that fails leaves
// the file it was to replace as it was.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PilReader.h"
#include "TempFolder.h"
#include "picture/BmpReader.h"
#include "picture/BmpWriter.h"
#include "picture/TBitmap.h"
#include "platform/Exception.h"
#include "platform/Stream.h"

namespace kevrale {
namespace {

using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

uint32_t Get32(const std::vector<uint8_t>& d, size_t at) {
  return uint32_t(d[at]) | uint32_t(d[at + 1]) << 8 | uint32_t(d[at + 2]) << 16 |
         uint32_t(d[at + 3]) << 24;
}

std::vector<uint8_t> Written(const TBitmap& b) {
  TMemoryStream stream;
  WriteBmp(b, stream);
  return stream.Data();
}

TBitmap ReadBack(const std::vector<uint8_t>& bytes) {
  TBorrowedMemoryStream stream(bytes.data(), bytes.size());
  TBitmap b;
  ReadBmp(stream, b);
  return b;
}

void ExpectSame(const TBitmap& a, const TBitmap& b) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  ASSERT_EQ(a.PixelFormat(), b.PixelFormat());
  ASSERT_EQ(a.BitsSize(), b.BitsSize());
  if (a.BitsSize() > 0) {
    EXPECT_EQ(std::memcmp(a.Bits(), b.Bits(), a.BitsSize()), 0);
  }
}

TEST(BmpWriter, TwentyFourBitFile) {
  const TBitmap b =
      pil::SampleBitmap(5, 3, TPixelFormat::pf24bit);  // rows padded from 15 to 16 bytes
  const std::vector<uint8_t> f = Written(b);
  ASSERT_EQ(f.size(), 14u + 40u + 16u * 3u);
  EXPECT_EQ(f[0], 'B');
  EXPECT_EQ(f[1], 'M');
  EXPECT_EQ(Get32(f, 2), f.size());
  EXPECT_EQ(Get32(f, 10), 54u);
  EXPECT_EQ(Get32(f, 14), 40u);
  EXPECT_EQ(Get32(f, 18), 5u);
  EXPECT_EQ(Get32(f, 22), 3u);  // positive: bottom-up
  EXPECT_EQ(f[28], 24);
  EXPECT_EQ(Get32(f, 30), 0u);  // BI_RGB
  // The bottom row comes first.
  EXPECT_EQ(f[54], b.ScanLine(2)[0]);
  ExpectSame(ReadBack(f), b);
}

TEST(BmpWriter, ThirtyTwoBitFileWithAlpha) {
  const TBitmap b = pil::SampleBitmap(3, 2, TPixelFormat::pf32bit);
  const std::vector<uint8_t> f = Written(b);
  ASSERT_EQ(f.size(), 14u + 124u + 12u * 2u);
  EXPECT_EQ(Get32(f, 10), 138u);
  EXPECT_EQ(Get32(f, 14), 124u);  // BITMAPV5HEADER
  EXPECT_EQ(f[28], 32);
  EXPECT_EQ(Get32(f, 30), 3u);  // BI_BITFIELDS
  EXPECT_EQ(Get32(f, 54), 0x00FF0000u);
  EXPECT_EQ(Get32(f, 58), 0x0000FF00u);
  EXPECT_EQ(Get32(f, 62), 0x000000FFu);
  EXPECT_EQ(Get32(f, 66), 0xFF000000u);
  ExpectSame(ReadBack(f), b);
}

TEST(BmpWriter, EmptyBitmapRoundTrips) {
  const TBitmap empty;
  const TBitmap back = ReadBack(Written(empty));
  EXPECT_EQ(back.Width(), 0);
  EXPECT_EQ(back.Height(), 0);
}

TEST(BmpWriter, FilesReadBackIdenticallyInPil) {
  TempFolder dir;
  const TBitmap rgb = pil::SampleBitmap(7, 5, TPixelFormat::pf24bit);
  const TBitmap rgba = pil::SampleBitmap(6, 4, TPixelFormat::pf32bit);
  rgb.SaveToFile(dir.File("rgb.bmp"));
  rgba.SaveToFile(dir.File("rgba.bmp"));
  std::string missing;
  const std::string out = pil::Describe({dir.File("rgb.bmp"), dir.File("rgba.bmp")}, missing);
  if (!missing.empty()) GTEST_SKIP() << missing;
  EXPECT_EQ(out, pil::Expected(rgb) + pil::Expected(rgba));
}

// A graphic whose save writes a few bytes and then fails.
class HalfWriter : public TGraphic {
 public:
  static const TGraphicClassInfo Class;
  explicit HalfWriter(bool device_error) : device_error_(device_error) {}
  TGraphicClass ClassType() const override { return &Class; }
  int Width() const override { return 1; }
  int Height() const override { return 1; }
  void LoadFromStream(TStream&) override {}
  void SaveToStream(TStream& stream) const override {
    stream.WriteBuffer("BM half", 7);
    if (device_error_) throw EWriteError("ストリームの書き込みエラー");
    throw EInvalidGraphic("half-way");
  }
  ArgbImage Render() const override { return {}; }

 private:
  bool device_error_;
};
const TGraphicClassInfo HalfWriter::Class("HalfWriter", &TGraphic::Class, nullptr);

TEST(BmpWriter, FailedSaveKeepsTheOldFileAndLeavesNoTemporaryFile) {
  TempFolder dir;
  const std::string target = dir.File("picture.bmp");
  const std::vector<uint8_t> old = {'o', 'l', 'd'};
  WriteBytes(target, old);

  EXPECT_THROW(HalfWriter(false).SaveToFile(target), EInvalidGraphic);
  EXPECT_EQ(ReadBytes(target), old);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"picture.bmp"});

  // A failing device is reported as a file that cannot be created.
  try {
    HalfWriter(true).SaveToFile(target);
    ADD_FAILURE() << "the save did not fail";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "ファイル " + target + " を作成できません");
  }
  EXPECT_EQ(ReadBytes(target), old);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"picture.bmp"});

  // A save that succeeds replaces the file.
  const TBitmap b = pil::SampleBitmap(2, 2, TPixelFormat::pf24bit);
  b.SaveToFile(target);
  ExpectSame(ReadBack(ReadBytes(target)), b);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"picture.bmp"});
}

TEST(BmpWriter, SaveIntoAMissingFolderOrOntoAFolderFails) {
  TempFolder dir;
  const TBitmap b = pil::SampleBitmap(2, 2, TPixelFormat::pf24bit);
  for (const std::string& path : {dir.File("no such folder/x.bmp"), dir.Path()}) {
    SCOPED_TRACE(path);
    try {
      b.SaveToFile(path);
      ADD_FAILURE() << "the save did not fail";
    } catch (const EFCreateError& e) {
      EXPECT_EQ(e.Message(), "ファイル " + path + " を作成できません");
    }
  }
  EXPECT_TRUE(dir.Entries().empty());
}

}  // namespace
}  // namespace kevrale
