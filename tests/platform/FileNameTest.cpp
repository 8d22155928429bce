#include "platform/FileName.h"

#include <gtest/gtest.h>

namespace kevrale {
namespace {

TEST(FileName, PartsComeFromTheLastSlashAndTheLastDotAfterIt) {
  EXPECT_EQ(ExtractFileName("/scan/page01.jpg"), "page01.jpg");
  EXPECT_EQ(ExtractFilePath("/scan/page01.jpg"), "/scan/");
  EXPECT_EQ(ExtractFileExt("/scan/page01.jpg"), ".jpg");
  EXPECT_EQ(ChangeFileExtToNone("/scan/page01.jpg"), "/scan/page01");

  EXPECT_EQ(ExtractFileExt("a.b.bmp"), ".bmp");
  EXPECT_EQ(ChangeFileExtToNone("a.b.bmp"), "a.b");
  // A dot that stands only in a folder name is no extension.
  EXPECT_EQ(ExtractFileExt("/photos.old/image"), "");
  EXPECT_EQ(ChangeFileExtToNone("/photos.old/image"), "/photos.old/image");
  // A name ending in a dot has an extension of the dot alone.
  EXPECT_EQ(ExtractFileExt("name."), ".");
  EXPECT_EQ(ExtractFileExt(".hidden"), ".hidden");
}

TEST(FileName, BareNamesFoldersAndEmptyPaths) {
  EXPECT_EQ(ExtractFileName("image.png"), "image.png");
  EXPECT_EQ(ExtractFilePath("image.png"), "");
  EXPECT_EQ(ExtractFileName("/dir/"), "");
  EXPECT_EQ(ExtractFilePath("/dir/"), "/dir/");
  EXPECT_EQ(ExtractFilePath("/"), "/");
  EXPECT_EQ(ExtractFileName(""), "");
  EXPECT_EQ(ExtractFileExt(""), "");
}

TEST(FileName, MultiByteNamesAreTakenByteForByte) {
  // UTF-8: no byte of a multi-byte character is "/" or ".".
  EXPECT_EQ(ExtractFileExt("/画像/線画.ＢＭＰ.png"), ".png");
  EXPECT_EQ(ExtractFileName("/画像/線画.png"), "線画.png");
}

TEST(FileName, CaseFoldingTouchesAsciiLettersOnly) {
  EXPECT_EQ(AsciiLowerCase("PHOTO.BMP"), "photo.bmp");
  EXPECT_EQ(AsciiUpperCase(".bmp"), ".BMP");
  // The full-width letters and other bytes stay as they are.
  EXPECT_EQ(AsciiUpperCase("ｂｍｐ-é_1"), "ｂｍｐ-é_1");
  EXPECT_TRUE(SameTextAscii("/Plug/IFPNG.SPI", "/plug/ifpng.spi"));
  EXPECT_FALSE(SameTextAscii("é", "É"));
  EXPECT_FALSE(SameTextAscii("abc", "abcd"));
}

}  // namespace
}  // namespace kevrale
