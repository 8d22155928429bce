// The picture: its format registry, loading by extension with the failure
// messages the user sees, saving, the bitmap view and pixel access.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BmpBuilder.h"
#include "TempFolder.h"
#include "picture/TBitmap.h"
#include "picture/TIcon.h"
#include "picture/TPicture.h"
#include "platform/Exception.h"
#include "platform/Stream.h"

namespace kevrale {
namespace {

using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

// A BMP file of 3 x 2 pixels of one colour.
std::vector<uint8_t> SolidBmp(uint8_t r, uint8_t g, uint8_t b) {
  test::BmpSpec s;
  s.width = 3;
  s.height = 2;
  s.pixels = test::PackRows(3, 2, 24, false,
                            [&](int, int) { return uint32_t(r) << 16 | uint32_t(g) << 8 | b; });
  return test::BuildBmp(s);
}

std::vector<uint8_t> SmallIcon() {
  return test::BuildIco(
      {{4, 4, 8,
        test::BuildIconDib(
            4, 4, 8, {0x000000, 0xFF0000, 0x00FF00}, [](int x, int) { return uint32_t(x % 3); },
            [](int x, int y) { return x == 0 && y == 0; })}});
}

// Expects `action` to raise E with exactly `message`.
template <class E, class F>
void ExpectError(F action, const std::string& message) {
  try {
    action();
    ADD_FAILURE() << "no error; expected \"" << message << "\"";
  } catch (const E& e) {
    EXPECT_EQ(e.Message(), message);
  }
}

class PictureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(dir_.File("red.bmp"), SolidBmp(255, 0, 0));
    picture_.Bitmap();  // as the main window gives it at start
  }
  // A picture holding red.bmp.
  void LoadRed() {
    picture_.LoadFromFile(dir_.File("red.bmp"));
    ASSERT_EQ(picture_.Pixel(0, 0), RGB(255, 0, 0));
  }
  void ExpectStillRed() {
    ASSERT_TRUE(picture_.HoldsBitmap());
    EXPECT_EQ(picture_.Width(), 3);
    EXPECT_EQ(picture_.Pixel(2, 1), RGB(255, 0, 0));
  }

  TempFolder dir_;
  TPicture picture_;
};

TEST(PictureRegistry, StartsWithTheFourBuiltInFormatsInOrder) {
  const auto& formats = TPicture::FileFormats();
  ASSERT_GE(formats.size(), 4u);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"wmf", "メタファイル"},
      {"emf", "エンハンス メタファイル"},
      {"ico", "アイコン"},
      {"bmp", "ビットマップ"}};
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(formats[i].Extension, expected[i].first);
    EXPECT_EQ(formats[i].Description, expected[i].second);
    // Only the bmp entry is a bitmap kind.
    EXPECT_EQ(formats[i].GraphicClass->InheritsFrom(&TBitmap::Class), i == 3)
        << formats[i].Extension;
  }
}

// A bitmap kind of its own, to register and withdraw.
class TestBitmap : public TBitmap {
 public:
  static const TGraphicClassInfo Class;
  TGraphicClass ClassType() const override { return &Class; }
  void LoadFromStream(TStream& stream) override {
    TBitmap::LoadFromStream(stream);
    ++loads;
  }
  static inline int loads = 0;
};
const TGraphicClassInfo TestBitmap::Class("TestBitmap", &TBitmap::Class,
                                          &MakeInstance<TestBitmap, TGraphic>);

TEST_F(PictureTest, NewestRegistrationWinsAndUnregisterRemovesEveryEntryOfTheKind) {
  const size_t before = TPicture::FileFormats().size();
  TPicture::RegisterFileFormat("BMP", "test bitmap", &TestBitmap::Class);
  TPicture::RegisterFileFormat("tst", "test bitmap", &TestBitmap::Class);
  EXPECT_EQ(TPicture::FileFormats().back().Extension, "tst");
  EXPECT_EQ(TPicture::FileFormats()[before].Extension, "bmp") << "stored in lower case";
  EXPECT_EQ(TPicture::FindGraphicClass("bmp"), &TestBitmap::Class);
  EXPECT_EQ(TPicture::FindGraphicClass("TsT"), &TestBitmap::Class);

  TestBitmap::loads = 0;
  picture_.LoadFromFile(dir_.File("red.bmp"));
  EXPECT_EQ(TestBitmap::loads, 1);
  EXPECT_EQ(picture_.Graphic()->ClassType(), &TestBitmap::Class);

  TPicture::UnregisterGraphicClass(&TestBitmap::Class);
  EXPECT_EQ(TPicture::FileFormats().size(), before);
  EXPECT_EQ(TPicture::FindGraphicClass("bmp"), &TBitmap::Class);
  EXPECT_EQ(TPicture::FindGraphicClass("tst"), nullptr);
}

TEST_F(PictureTest, EmptyAtStart) {
  TPicture fresh;
  EXPECT_EQ(fresh.Width(), 0);
  EXPECT_EQ(fresh.Height(), 0);
  EXPECT_EQ(picture_.Width(), 0);
  EXPECT_EQ(picture_.Height(), 0);
  EXPECT_TRUE(picture_.HoldsBitmap());
}

TEST_F(PictureTest, ExtensionIsComparedWithoutRegardToCase) {
  WriteBytes(dir_.File("PHOTO.BMP"), SolidBmp(1, 2, 3));
  picture_.LoadFromFile(dir_.File("PHOTO.BMP"));
  EXPECT_EQ(picture_.Width(), 3);
  EXPECT_EQ(picture_.Pixel(0, 0), RGB(1, 2, 3));
}

TEST_F(PictureTest, UnknownOrMissingExtensionKeepsThePicture) {
  LoadRed();
  struct Case {
    std::string name;
    std::string shown;  // the extension in the message
  };
  const std::vector<Case> cases = {
      {"image", ""},        {"image.", ""},           {"photos.old/image", ""},
      {"image.PNG", "PNG"}, {"archive.tar.gz", "gz"},
  };
  dir_.Sub("photos.old");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(dir_.File(c.name), SolidBmp(0, 0, 255));
    ExpectError<EInvalidGraphic>([&] { picture_.LoadFromFile(dir_.File(c.name)); },
                                 "拡張子 ." + c.shown + " の画像形式は処理できません");
    ExpectStillRed();
  }
}

TEST_F(PictureTest, MissingFileAndInvalidContentKeepThePicture) {
  LoadRed();
  const std::string missing = dir_.File("missing.bmp");
  ExpectError<EFOpenError>([&] { picture_.LoadFromFile(missing); },
                           "ファイル " + missing + " は開けません");
  ExpectStillRed();

  const std::string broken = dir_.File("broken.bmp");
  WriteBytes(broken, {'B', 'M', 0, 0});
  ExpectError<EInvalidGraphic>([&] { picture_.LoadFromFile(broken); },
                               "ビットマップイメージが不正です");
  ExpectStillRed();

  // A folder is no file to load.
  dir_.Sub("folder.bmp");
  ExpectError<EFOpenError>([&] { picture_.LoadFromFile(dir_.File("folder.bmp")); },
                           "ファイル " + (dir_.File("folder.bmp")) + " は開けません");
  ExpectStillRed();
}

TEST_F(PictureTest, SaveWritesTheFormatTheExtensionNames) {
  LoadRed();
  picture_.SetPixel(1, 0, RGB(9, 8, 7));
  // A name of no writer's format gets a BMP, as it always did.
  const std::string path = dir_.File("out.jpg");
  picture_.SaveToFile(path);
  TPicture reloaded;
  const std::string as_bmp = dir_.File("out.bmp");
  std::filesystem::rename(path, as_bmp);
  reloaded.LoadFromFile(as_bmp);
  EXPECT_EQ(reloaded.Pixel(1, 0), RGB(9, 8, 7));
  EXPECT_EQ(reloaded.Pixel(0, 0), RGB(255, 0, 0));
  // A ".png" name, in any case, gets a PNG, not a BMP under that name.
  picture_.SaveToFile(dir_.File("out.PNG"));
  const std::vector<uint8_t> png = ReadBytes(dir_.File("out.PNG"));
  ASSERT_GE(png.size(), 8u);
  EXPECT_EQ(std::vector<uint8_t>(png.begin(), png.begin() + 8),
            (std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));

  const std::string nowhere = dir_.File("no such folder/out.bmp");
  ExpectError<EFCreateError>([&] { picture_.SaveToFile(nowhere); },
                             "ファイル " + nowhere + " を作成できません");
}

TEST_F(PictureTest, AnIconShowsButIsNoBitmap) {
  WriteBytes(dir_.File("small.ico"), SmallIcon());
  int changes = 0;
  picture_.OnChange = [&](TPicture&) { ++changes; };
  picture_.LoadFromFile(dir_.File("small.ico"));
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(picture_.HoldsBitmap());
  EXPECT_EQ(picture_.Width(), 4);
  EXPECT_EQ(picture_.Height(), 4);
  const ArgbImage shown = picture_.Render();
  ASSERT_EQ(shown.pixels.size(), 16u);
  EXPECT_EQ(shown.At(1, 1), 0xFFFF0000u);
  EXPECT_EQ(shown.At(0, 0) >> 24, 0u) << "the AND mask makes it transparent";

  const std::string message = "ビットマップを持っている時のみイメージの変更が可能です";
  ExpectError<EInvalidGraphicOperation>([&] { picture_.Pixel(1, 1); }, message);
  ExpectError<EInvalidGraphicOperation>([&] { picture_.SetPixel(1, 1, 0); }, message);
  EXPECT_EQ(picture_.Width(), 4) << "a failed pixel access changes nothing";

  // The bitmap view (as a thinning run takes it) discards the icon.
  TBitmap& view = picture_.Bitmap();
  EXPECT_EQ(view.Width(), 0);
  EXPECT_EQ(view.Height(), 0);
  EXPECT_TRUE(picture_.HoldsBitmap());
  EXPECT_EQ(picture_.Width(), 0);
  EXPECT_EQ(picture_.Pixel(0, 0), 0u);
}

TEST_F(PictureTest, AMetafileIsRefusedWithItsOwnMessage) {
  LoadRed();
  WriteBytes(dir_.File("drawing.wmf"), {1, 2, 3});
  ExpectError<EInvalidGraphic>([&] { picture_.LoadFromFile(dir_.File("drawing.wmf")); },
                               "メタファイルは表示できません");
  ExpectStillRed();
}

TEST_F(PictureTest, PixelAccessOnTheBitmap) {
  LoadRed();
  int changes = 0;
  picture_.OnChange = [&](TPicture&) { ++changes; };
  picture_.SetPixel(2, 1, RGB(0x12, 0x34, 0x56));
  EXPECT_EQ(changes, 1) << "a write shows on screen";
  EXPECT_EQ(picture_.Pixel(2, 1), RGB(0x12, 0x34, 0x56));
  EXPECT_EQ(picture_.Pixel(2, 1) >> 24, 0u);
  EXPECT_EQ(picture_.Pixel(-1, 0), 0u);
  EXPECT_EQ(picture_.Pixel(3, 0), 0u);
  picture_.SetPixel(3, 0, 0);  // outside: ignored
  EXPECT_EQ(picture_.Width(), 3);
}

// A paste: the bitmap view takes the image, with alpha only when some
// pixel is not opaque; an image whose pixel list does not fit its size is
// refused and the picture kept.
TEST_F(PictureTest, AssignImageTakesThePixels) {
  ArgbImage image{2, 1, {0xFF102030, 0xFF405060}};
  picture_.AssignImage(image);
  EXPECT_EQ(picture_.Bitmap().PixelFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(picture_.Pixel(1, 0), RGB(0x40, 0x50, 0x60));
  image.pixels[0] = 0x80102030;
  picture_.AssignImage(image);
  EXPECT_EQ(picture_.Bitmap().PixelFormat(), TPixelFormat::pf32bit);
  EXPECT_EQ(picture_.Render().At(0, 0), 0x80102030u);

  LoadRed();
  ExpectError<EInvalidGraphic>(
      [&] {
        picture_.AssignImage(ArgbImage{3, 3, {1, 2}});
      },
      "ビットマップイメージが不正です");
  ExpectStillRed();
}

TEST(PictureExtension, IsTakenFromTheFileNamePart) {
  EXPECT_EQ(TPicture::ExtensionOf("/a/b/photo.JPG"), "JPG");
  EXPECT_EQ(TPicture::ExtensionOf("photo.tar.gz"), "gz");
  EXPECT_EQ(TPicture::ExtensionOf("/tmp/photos.old/image"), "");
  EXPECT_EQ(TPicture::ExtensionOf("image."), "");
  EXPECT_EQ(TPicture::ExtensionOf(".hidden"), "hidden");
  EXPECT_EQ(TPicture::ExtensionOf(""), "");
}

}  // namespace
}  // namespace kevrale
