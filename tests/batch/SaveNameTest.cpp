#include "batch/SaveName.h"

#include <gtest/gtest.h>

namespace kevrale {
namespace {

TEST(SaveNameTest, ExtensionReplacedWithinTheFileNameOnly) {
  EXPECT_EQ(SaveNameFor("/scan/page01.jpg"), "/scan/page01_s.bmp");
  EXPECT_EQ(SaveNameFor("/scan/a.b.bmp"), "/scan/a.b_s.bmp");
  // An output fed back in gains another suffix.
  EXPECT_EQ(SaveNameFor("x_s.bmp"), "x_s_s.bmp");
  // A "." in a folder name is not an extension.
  EXPECT_EQ(SaveNameFor("/scan.d/page"), "/scan.d/page_s.bmp");
  // ":" and "\" are ordinary characters of a Linux file name.
  EXPECT_EQ(SaveNameFor("a:b\\c.jpg"), "a:b\\c_s.bmp");
  EXPECT_EQ(SaveNameFor("a.b:c"), "a_s.bmp");
}

TEST(SaveNameTest, OddNames) {
  EXPECT_EQ(SaveNameFor(""), "_s.bmp");
  EXPECT_EQ(SaveNameFor("page."), "page_s.bmp");
  EXPECT_EQ(SaveNameFor("/scan/.hidden"), "/scan/_s.bmp");
  EXPECT_EQ(SaveNameFor("/scan/"), "/scan/_s.bmp");
  EXPECT_EQ(SaveNameFor("a.bmp "), "a_s.bmp");
  // UTF-8 names: no byte of a multi-byte character is taken for "." or "/".
  EXPECT_EQ(SaveNameFor("/画像/線画.jpg"), "/画像/線画_s.bmp");
}

TEST(SaveNameTest, AnotherExtensionFollowsTheSameRule) {
  EXPECT_EQ(SaveNameFor("/scan/page01.jpg", "png"), "/scan/page01_s.png");
  EXPECT_EQ(SaveNameFor("/scan.d/page", "tif"), "/scan.d/page_s.tif");
  EXPECT_EQ(SaveNameFor("x_s.png", "png"), "x_s_s.png");
  EXPECT_EQ(SaveNameFor("/scan/", "svg"), "/scan/_s.svg");
}

}  // namespace
}  // namespace kevrale
