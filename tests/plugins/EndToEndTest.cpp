// A format that only an import plug-in decodes, opened, thinned and saved
// by the picture and by the batch run exactly like a BMP of the same
// drawing.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "DecodingSupport.h"
#include "batch/BatchRun.h"
#include "picture/TPicture.h"
#include "platform/Exception.h"
#include "plugins/SPIBitmapRegistration.h"
#include "thinning/ThinningEngine.h"

namespace kevrale {
namespace {

using test::Pixels;

constexpr TColor kTarget = RGB(0, 0, 0);
constexpr TColor kSurround = RGB(255, 255, 255);
constexpr TColor kOther = RGB(0, 0, 255);

// Thick black strokes and a blue mark on white.
Pixels Drawing() {
  return test::MakePixels(30, 21, [](int x, int y) {
    if (y >= 4 && y < 11 && x >= 3 && x < 27) return kTarget;
    if (x >= 10 && x < 15 && y >= 4 && y < 19) return kTarget;
    if (x >= 24 && y >= 15 && y < 18) return kOther;
    return kSurround;
  });
}

int CountOf(const Pixels& p, TColor c) {
  return int(std::count(p.colours.begin(), p.colours.end(), c));
}

class EndToEndTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    // The host finds the decoder by a search of its folder, as at start-up.
    const std::string plugins = folder_.File("plugins");
    std::filesystem::create_directories(plugins);
    std::filesystem::copy_file(test::TestSpi(GetParam()), plugins + "/" + GetParam() + ".spi");
    host_ = std::make_unique<TSPIs>();
    host_->SearchOptions = TSPISearchOptions{};
    host_->Search(plugins + "/*.spi");
    ASSERT_EQ(host_->Count(), 1);

    test::WriteBytes(folder_.File("drawing.kvt"), test::KvtBytes(Drawing()));
    test::WriteBytes(folder_.File("drawing.bmp"), test::BmpBytes(Drawing()));
  }
  void TearDown() override { host_.reset(); }

  // The drawing read from its BMP form and thinned: what every path must give.
  Pixels ThinnedFromBmp() {
    TPicture picture;
    picture.LoadFromFile(folder_.File("drawing.bmp"));
    EXPECT_EQ(RunThinning(picture, kTarget, kSurround), ThinningResult::Thinned);
    return test::PixelsOf(picture.Bitmap());
  }

  test::TempFolder folder_;
  SPIBitmapRegistration registration_;  // before the host: it outlives it
  std::unique_ptr<TSPIs> host_;
};

TEST_P(EndToEndTest, ThePictureOpensThinsAndSavesIt) {
  TPicture picture;
  picture.LoadFromFile(folder_.File("drawing.kvt"));
  ASSERT_NE(picture.Graphic(), nullptr);
  EXPECT_EQ(picture.Graphic()->ClassType(), &TSPIBitmap::Class);
  ASSERT_TRUE(picture.HoldsBitmap());
  EXPECT_EQ(test::PixelsOf(picture.Bitmap()), Drawing());

  EXPECT_EQ(RunThinning(picture, kTarget, kSurround), ThinningResult::Thinned);
  const Pixels thinned = test::PixelsOf(picture.Bitmap());
  EXPECT_LT(CountOf(thinned, kTarget), CountOf(Drawing(), kTarget) / 3) << "thinned";
  EXPECT_EQ(CountOf(thinned, kOther), CountOf(Drawing(), kOther));
  EXPECT_EQ(thinned, ThinnedFromBmp());

  const std::string saved = folder_.File("out.bmp");
  picture.SaveToFile(saved);
  TPicture reloaded;
  reloaded.LoadFromFile(saved);
  EXPECT_EQ(reloaded.Graphic()->ClassType(), &TBitmap::Class);
  EXPECT_EQ(test::PixelsOf(reloaded.Bitmap()), thinned);
}

TEST_P(EndToEndTest, TheBatchRunTreatsItAsAnyImage) {
  test::WriteBytes(folder_.File("list.txt"), std::vector<uint8_t>{'d', 'r', 'a', 'w', 'i', 'n', 'g',
                                                                  '.', 'k', 'v', 't', '\n'});
  TPicture picture;
  RunBatch(folder_.File("list.txt"), picture, kTarget, kSurround, {});
  TPicture result;
  result.LoadFromFile(folder_.File("drawing_s.bmp"));
  EXPECT_EQ(test::PixelsOf(result.Bitmap()), ThinnedFromBmp());
}

TEST_P(EndToEndTest, ANonDecodableFileKeepsThePicture) {
  TPicture picture;
  picture.LoadFromFile(folder_.File("drawing.kvt"));
  test::WriteBytes(folder_.File("junk.kvt"), std::vector<uint8_t>(40, 'j'));
  try {
    picture.LoadFromFile(folder_.File("junk.kvt"));
    FAIL() << "loaded junk";
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "Susie Plugins could not decode");
  }
  EXPECT_EQ(test::PixelsOf(picture.Bitmap()), Drawing());
}

INSTANTIATE_TEST_SUITE_P(Decoders, EndToEndTest,
                         ::testing::Values("kvt_basic", "kvt_pal8", "kvt_topdown"));

}  // namespace
}  // namespace kevrale
