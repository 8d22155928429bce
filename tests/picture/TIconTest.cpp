// The icon kind: which image of an .ico file is shown, how transparency is
// taken from the alpha channel or the AND mask, and what is refused.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BmpBuilder.h"
#include "picture/TIcon.h"
#include "platform/Exception.h"
#include "platform/Stream.h"

namespace kevrale {
namespace {

using test::BuildIco;
using test::BuildIconDib;
using test::IconImage;

TIcon Load(const std::vector<uint8_t>& bytes) {
  TBorrowedMemoryStream stream(bytes.data(), bytes.size());
  TIcon icon;
  icon.LoadFromStream(stream);
  return icon;
}

void ExpectRefused(const std::vector<uint8_t>& bytes) {
  try {
    Load(bytes);
    ADD_FAILURE() << "loaded, but should be refused";
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "アイコンイメージが不正です");
  }
}

auto NoHoles = [](int, int) { return false; };

IconImage Indexed(int size, int bits, uint32_t colour) {
  return {size, size, bits,
          BuildIconDib(
              size, size, bits, {0x000000, colour}, [](int, int) { return 1u; }, NoHoles)};
}

TEST(TIcon, ShowsTheLargestImageThenTheDeepest) {
  const TIcon icon = Load(BuildIco({Indexed(2, 4, 0x0000FF), Indexed(4, 4, 0x00FF00),
                                    Indexed(4, 8, 0xFF0000), Indexed(3, 8, 0x808080)}));
  EXPECT_EQ(icon.Width(), 4);
  EXPECT_EQ(icon.Height(), 4);
  EXPECT_EQ(icon.Render().At(3, 3), 0xFFFF0000u);
}

// An entry that claims an impossible size is passed over, not chosen and
// then refused.
TEST(TIcon, AnEntryOfImpossibleSizeDoesNotHideAGoodOne) {
  std::vector<uint8_t> bogus = Indexed(2, 8, 0x0000FF).data;
  test::PutLe(bogus, 4, 5000, 4);  // width 5000
  const TIcon icon = Load(BuildIco({{2, 2, 8, bogus}, Indexed(3, 8, 0x00FF00)}));
  EXPECT_EQ(icon.Width(), 3);
  EXPECT_EQ(icon.Render().At(0, 0), 0xFF00FF00u);
}

TEST(TIcon, TransparencyFromTheMaskOrTheAlphaChannel) {
  auto hole = [](int x, int y) { return x == 1 && y == 0; };
  // 24 bits: the AND mask makes pixels transparent; rows are bottom-up.
  const TIcon rgb = Load(
      BuildIco({{2, 2, 24,
                 BuildIconDib(
                     2, 2, 24, {}, [](int x, int y) { return uint32_t(x + 2 * y + 1); }, hole)}}));
  const ArgbImage a = rgb.Render();
  EXPECT_EQ(a.At(0, 0), 0xFF000001u);
  EXPECT_EQ(a.At(1, 0), 0x00000002u);
  EXPECT_EQ(a.At(0, 1), 0xFF000003u);
  // 32 bits with an alpha channel: the alpha values count, the mask not.
  const TIcon argb = Load(BuildIco(
      {{2, 2, 32,
        BuildIconDib(
            2, 2, 32, {}, [](int x, int) { return x == 0 ? 0x80102030u : 0x00102030u; }, hole)}}));
  EXPECT_EQ(argb.Render().At(0, 1), 0x80102030u);
  EXPECT_EQ(argb.Render().At(1, 1), 0x00102030u);
  // 32 bits whose alpha bytes are all zero: opaque, except where the mask says.
  const TIcon xrgb =
      Load(BuildIco({{2, 2, 32,
                      BuildIconDib(
                          2, 2, 32, {}, [](int, int) { return 0x00102030u; }, hole)}}));
  EXPECT_EQ(xrgb.Render().At(0, 0), 0xFF102030u);
  EXPECT_EQ(xrgb.Render().At(1, 0), 0x00102030u);
}

TEST(TIcon, SavesTheFileAsItCame) {
  const std::vector<uint8_t> file = BuildIco({Indexed(2, 8, 0x123456)});
  const TIcon icon = Load(file);
  TMemoryStream saved;
  icon.SaveToStream(saved);
  EXPECT_EQ(saved.Data(), file);
}

TEST(TIcon, RefusesWhatIsNoIconWithADibImage) {
  const std::vector<uint8_t> good = BuildIco({Indexed(2, 8, 0x123456)});
  ASSERT_NO_THROW(Load(good));
  auto with = [&](size_t at, uint32_t value, int size) {
    std::vector<uint8_t> b = good;
    test::PutLe(b, at, value, size);
    return b;
  };
  ExpectRefused({});
  ExpectRefused({0, 0, 1, 0});
  ExpectRefused(with(2, 2, 2));                       // a cursor file
  ExpectRefused(with(4, 0, 2));                       // no images
  ExpectRefused(with(4, 500, 2));                     // more entries than the file holds
  ExpectRefused(with(18, uint32_t(good.size()), 4));  // image offset at the end
  ExpectRefused(with(22, 0x474E5089u, 4));            // a PNG-coded image
  ExpectRefused(with(22 + 4, 0, 4));                  // width 0
  ExpectRefused(with(22 + 14, 7, 2));                 // 7 bits per pixel
  ExpectRefused({good.begin(), good.begin() + long(good.size()) - 20});  // colour rows cut short
  // An index beyond the colour table.
  ExpectRefused(BuildIco({{2, 2, 8,
                           BuildIconDib(
                               2, 2, 8, {0, 1}, [](int, int) { return 5u; }, NoHoles)}}));
}

}  // namespace
}  // namespace kevrale
