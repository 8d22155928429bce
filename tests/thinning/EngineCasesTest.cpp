// The engine on pictures whose outcome is known exactly: target black,
// surround red ('r'), background white; (x, y) from the top-left corner.
#include <gtest/gtest.h>

#include <memory>

#include "TestPictures.h"
#include "picture/TIcon.h"
#include "platform/Stream.h"

namespace kevrale::test {
namespace {

using Rows = std::vector<std::string>;

Rows Thin(const Rows& input) {
  return RowsOf(Thinned(BitmapOf(input)));
}

// The rows of a blank picture with some pixels set to `c`.
struct Canvas {
  Rows rows;
  Canvas(int width, int height) : rows(size_t(height), std::string(size_t(width), '.')) {}
  Canvas& Set(int x, int y, char c = '#') {
    rows[size_t(y)][size_t(x)] = c;
    return *this;
  }
  Canvas& Rect(int x0, int y0, int x1, int y1, char c = '#') {
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) Set(x, y, c);
    return *this;
  }
  // Every target pixel of the rectangle becomes `c`.
  Canvas& Recolour(int x0, int y0, int x1, int y1, char c) {
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x)
        if (rows[size_t(y)][size_t(x)] == '#') Set(x, y, c);
    return *this;
  }
};

TEST(ThinningEngine, ThinShapesStayAsTheyAre) {
  const Rows shapes[] = {
      Canvas(5, 5).Set(2, 2).rows,
      Canvas(12, 5).Rect(1, 2, 10, 2).rows,
      Canvas(5, 12).Rect(2, 1, 2, 10).rows,
      Canvas(9, 9).Set(1, 1).Set(2, 2).Set(3, 3).Set(4, 4).Set(5, 5).Set(6, 6).rows,
      Canvas(9, 9).Set(7, 1).Set(6, 2).Set(5, 3).Set(4, 4).Set(3, 5).Set(2, 6).rows,
      Canvas(11, 11).Rect(5, 1, 5, 9).Rect(1, 5, 9, 5).rows,  // plus of one-pixel lines
      Canvas(1, 9).Rect(0, 0, 0, 8).rows,                     // one pixel wide, all target
      Canvas(9, 1).Rect(0, 0, 8, 0).rows,                     // one pixel high
      Canvas(12, 1).Set(0, 0).Rect(2, 0, 3, 0).Rect(5, 0, 11, 0).rows,
      Canvas(1, 12).Set(0, 0).Rect(0, 2, 0, 3).Rect(0, 5, 0, 11).rows,
  };
  for (const Rows& shape : shapes) EXPECT_EQ(Thin(shape), shape);
}

TEST(ThinningEngine, RightAnglesLoseTheirCorners) {
  // An L with arms running north and east from its corner.
  EXPECT_EQ(Thin(Canvas(8, 8).Rect(2, 1, 2, 6).Rect(2, 6, 6, 6).rows),
            Canvas(8, 8).Rect(2, 1, 2, 6).Rect(2, 6, 6, 6).Set(2, 6, 'r').rows);
  // The outline of a rectangle.
  Canvas outline(10, 8);
  outline.Rect(1, 1, 8, 6).Rect(2, 2, 7, 5, '.');
  Canvas corners = outline;
  corners.Set(1, 1, 'r').Set(8, 1, 'r').Set(1, 6, 'r').Set(8, 6, 'r');
  EXPECT_EQ(Thin(outline.rows), corners.rows);
  // A T: its centre goes; the centre of a plus (above) stays.
  EXPECT_EQ(Thin(Canvas(13, 10).Rect(2, 2, 10, 2).Rect(6, 3, 6, 8).rows),
            Canvas(13, 10).Rect(2, 2, 10, 2).Rect(6, 3, 6, 8).Set(6, 2, 'r').rows);
}

TEST(ThinningEngine, BlocksShrinkToOnePixel) {
  EXPECT_EQ(Thin(Canvas(6, 6).Rect(2, 2, 3, 3).rows),
            Canvas(6, 6).Rect(2, 2, 3, 3, 'r').Set(3, 3).rows);
  EXPECT_EQ(Thin(Canvas(7, 7).Rect(2, 2, 4, 4).rows),
            Canvas(7, 7).Rect(2, 2, 4, 4, 'r').Set(3, 3).rows);
  EXPECT_EQ(Thin(Canvas(11, 11).Rect(2, 2, 8, 8).rows),
            Canvas(11, 11).Rect(2, 2, 8, 8, 'r').Set(5, 5).rows);
}

TEST(ThinningEngine, BarFivePixelsThick) {
  EXPECT_EQ(Thin(Canvas(24, 9).Rect(2, 2, 21, 6).rows),
            Canvas(24, 9).Rect(2, 2, 21, 6, 'r').Rect(4, 4, 19, 4).rows);
}

TEST(ThinningEngine, TwoPixelLinesKeepOneSide) {
  EXPECT_EQ(Thin(Canvas(14, 6).Rect(2, 2, 11, 3).rows),
            Canvas(14, 6).Rect(2, 2, 11, 3, 'r').Rect(3, 3, 10, 3).rows);
  EXPECT_EQ(Thin(Canvas(6, 14).Rect(2, 2, 3, 11).rows),
            Canvas(6, 14).Rect(2, 2, 3, 11, 'r').Rect(3, 3, 3, 10).rows);
  Canvas diagonal(13, 12);
  Canvas kept(13, 12);
  for (int i = 2; i <= 9; ++i) {
    diagonal.Set(i, i).Set(i + 1, i);
    kept.Set(i, i, i >= 3 ? '#' : 'r').Set(i + 1, i, 'r');
  }
  EXPECT_EQ(Thin(diagonal.rows), kept.rows);
}

TEST(ThinningEngine, ThickPlusBecomesThin) {
  Canvas plus(15, 15);
  plus.Rect(6, 2, 8, 12).Rect(2, 6, 12, 8);
  Canvas thin = plus;
  thin.Recolour(0, 0, 14, 14, 'r').Rect(7, 3, 7, 11).Rect(3, 7, 11, 7);
  EXPECT_EQ(Thin(plus.rows), thin.rows);
}

TEST(ThinningEngine, PictureEdgesActAsBackground) {
  EXPECT_EQ(Thin(Canvas(10, 8).Rect(0, 0, 9, 7).rows),
            Canvas(10, 8).Rect(0, 0, 9, 7, 'r').Set(4, 4).Set(5, 4).rows);
  EXPECT_EQ(Thin(Canvas(10, 8).Rect(0, 0, 9, 2).rows),
            Canvas(10, 8).Rect(0, 0, 9, 2, 'r').Rect(1, 1, 8, 1).rows);
  EXPECT_EQ(Thin(Canvas(10, 8).Rect(0, 5, 9, 7).rows),
            Canvas(10, 8).Rect(0, 5, 9, 7, 'r').Rect(1, 6, 8, 6).rows);
}

TEST(ThinningEngine, ActivePassCountDecidesWhichPassesRun) {
  Canvas input(4, 4);
  input.Set(0, 0).Set(2, 0).Set(3, 0).Set(1, 1).Set(2, 1).Set(0, 2).Set(2, 2).Set(3, 2).Set(1, 3);
  Canvas expected = input;
  expected.Set(2, 0, 'r').Set(3, 0, 'r').Set(3, 2, 'r');
  EXPECT_EQ(Thin(input.rows), expected.rows);
}

// The number of target pixels left in each column (or row) that crosses
// the middle of a bar.
std::vector<int> Band(const TBitmap& bitmap, bool columns, int from, int to) {
  std::vector<int> band;
  for (int i = from; i <= to; ++i) {
    int n = 0;
    const int length = columns ? bitmap.Height() : bitmap.Width();
    for (int j = 0; j < length; ++j)
      n += (columns ? bitmap.Pixel(i, j) : bitmap.Pixel(j, i)) == kTarget;
    band.push_back(n);
  }
  return band;
}

TEST(ThinningEngine, BarsThickerThan37KeepABand) {
  for (const int thickness : {37, 38, 40}) {
    SCOPED_TRACE(thickness);
    const int kept = thickness <= 37 ? 1 : thickness - 36;
    TBitmap horizontal = Blank(120, thickness + 6);
    FillRect(horizontal, 3, 3, 116, thickness + 2, kTarget);
    EXPECT_EQ(Band(Thinned(horizontal), true, 40, 80), std::vector<int>(41, kept));
    TBitmap vertical = Blank(thickness + 6, 120);
    FillRect(vertical, 3, 3, thickness + 2, 116, kTarget);
    EXPECT_EQ(Band(Thinned(vertical), false, 40, 80), std::vector<int>(41, kept));
  }
}

TEST(ThinningEngine, WidestAcceptedPictureIsThinned) {
  // A bar three rows thick along the top edge, the whole width.
  TBitmap wide = Blank(kMaxThinningWidth, 6);
  FillRect(wide, 0, 0, kMaxThinningWidth - 1, 2, kTarget);
  TBitmap expected = Blank(kMaxThinningWidth, 6);
  FillRect(expected, 0, 0, kMaxThinningWidth - 1, 2, kSurround);
  FillRect(expected, 1, 1, kMaxThinningWidth - 2, 1, kTarget);
  TPicture picture;
  picture.SetGraphic(std::make_unique<TBitmap>(wide));
  EXPECT_EQ(RunThinning(picture, kTarget, kSurround), ThinningResult::Thinned);
  EXPECT_EQ(Difference(expected, picture.Bitmap()), "");
}

TEST(ThinningEngine, TooWidePictureIsRefusedUnchanged) {
  TBitmap wide = Blank(kMaxThinningWidth + 1, 4);
  FillRect(wide, 0, 0, kMaxThinningWidth, 2, kTarget);
  TPicture picture;
  picture.SetGraphic(std::make_unique<TBitmap>(wide));
  int changes = 0;
  picture.OnChange = [&changes](TPicture&) { ++changes; };
  EXPECT_EQ(RunThinning(picture, kTarget, kSurround), ThinningResult::TooWide);
  EXPECT_EQ(Difference(wide, picture.Bitmap()), "");
  EXPECT_EQ(changes, 0);
}

TEST(ThinningEngine, EmptyPictureStaysEmpty) {
  TPicture nothing;  // no graphic at all
  EXPECT_EQ(RunThinning(nothing, kTarget, kSurround), ThinningResult::Thinned);
  EXPECT_TRUE(nothing.HoldsBitmap());
  EXPECT_EQ(nothing.Width(), 0);
  EXPECT_EQ(nothing.Height(), 0);
}

TEST(ThinningEngine, RunTellsTheDisplayOnlyWhenAPixelChanged) {
  TPicture picture;
  picture.SetGraphic(std::make_unique<TBitmap>(BitmapOf(Canvas(6, 6).Rect(1, 1, 4, 4).rows)));
  int changes = 0;
  picture.OnChange = [&changes](TPicture&) { ++changes; };
  EXPECT_EQ(RunThinning(picture, kTarget, kSurround), ThinningResult::Thinned);
  EXPECT_GE(changes, 1);
  changes = 0;
  EXPECT_EQ(RunThinning(picture, kTarget, kSurround), ThinningResult::Thinned);
  EXPECT_EQ(changes, 0) << "an already thin picture stays as it is";
}

// A 2 x 2 icon, 32 bits per pixel, all black.
std::vector<uint8_t> IconFile() {
  std::vector<uint8_t> f = {0, 0, 1, 0, 1, 0,  // header: one image
                            2, 2, 0, 0, 1, 0, 32, 0, 64, 0, 0, 0, 22, 0, 0, 0};
  const uint8_t dib[40] = {40, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0, 1, 0, 32, 0};
  f.insert(f.end(), dib, dib + 40);
  f.insert(f.end(), 16, 0);  // colour rows
  f.insert(f.end(), 8, 0);   // mask rows
  return f;
}

TEST(ThinningEngine, NonBitmapGraphicBecomesAnEmptyBitmap) {
  auto icon = std::make_unique<TIcon>();
  TMemoryStream stream(IconFile());
  icon->LoadFromStream(stream);
  ASSERT_EQ(icon->Width(), 2);
  TPicture picture;
  picture.SetGraphic(std::move(icon));
  EXPECT_EQ(RunThinning(picture, kTarget, kSurround), ThinningResult::Thinned);
  ASSERT_TRUE(picture.HoldsBitmap());
  EXPECT_EQ(picture.Width(), 0);
  EXPECT_EQ(picture.Height(), 0);
}

TEST(ThinningEngine, OtherColoursAndTheSurroundNeverChange) {
  // Near-black 'o' pixels are not the target; nor are the red ones.
  const Rows input = Canvas(9, 7).Rect(1, 1, 7, 5).Rect(3, 2, 5, 4, 'o').Set(8, 0, 'r').rows;
  const Rows output = Thin(input);
  for (size_t y = 0; y < input.size(); ++y)
    for (size_t x = 0; x < input[y].size(); ++x)
      if (input[y][x] != '#') {
        EXPECT_EQ(output[y][x], input[y][x]) << x << ", " << y;
      }
  EXPECT_NE(output, input);
}

TEST(ThinningEngine, SurroundEqualToTargetChangesNothing) {
  std::mt19937 rng(7);
  const TBitmap input = Noise(40, 30, 0.6, rng, true);
  EXPECT_EQ(Difference(input, Thinned(input, kTarget, kTarget)), "");
}

TEST(ThinningEngine, ThirtyTwoBitPixelsThinByTheirColour) {
  std::mt19937 rng(11);
  const TBitmap opaque = Noise(30, 25, 0.55, rng, true);
  TBitmap input(30, 25, TPixelFormat::pf32bit);
  for (int y = 0; y < 25; ++y)
    for (int x = 0; x < 30; ++x) {
      input.SetPixel(x, y, opaque.Pixel(x, y));
      input.ScanLine(y)[x * 4 + 3] = uint8_t(1 + rng() % 255);
    }
  // Alpha, unless 0, is no part of the colour: the same pixels go as in the
  // 24-bit picture. They become opaque; every other alpha byte stays.
  const TBitmap expected = Thinned(opaque);
  const TBitmap output = Thinned(input);
  ASSERT_NE(Difference(opaque, expected), "");
  for (int y = 0; y < 25; ++y)
    for (int x = 0; x < 30; ++x) {
      EXPECT_EQ(output.Pixel(x, y), expected.Pixel(x, y)) << x << ", " << y;
      const bool removed = expected.Pixel(x, y) != opaque.Pixel(x, y);
      EXPECT_EQ(output.ScanLine(y)[x * 4 + 3], removed ? 255 : input.ScanLine(y)[x * 4 + 3]);
    }
}

}  // namespace
}  // namespace kevrale::test
