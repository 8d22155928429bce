// The engine's options: near shades of the target colour, transparent
// pixels, and what removed pixels become.
#include <gtest/gtest.h>

#include <memory>

#include "ReferenceThinning.h"
#include "TestPictures.h"

namespace kevrale::test {
namespace {

uint8_t& Alpha(TBitmap& bitmap, int x, int y) {
  return bitmap.ScanLine(y)[x * 4 + 3];
}
uint8_t Alpha(const TBitmap& bitmap, int x, int y) {
  return bitmap.ScanLine(y)[x * 4 + 3];
}

// A copy in 32 bits with the given alpha everywhere.
TBitmap WithAlpha(const TBitmap& input, uint8_t alpha) {
  TBitmap out(input.Width(), input.Height(), TPixelFormat::pf32bit);
  for (int y = 0; y < input.Height(); ++y)
    for (int x = 0; x < input.Width(); ++x) {
      out.SetPixel(x, y, input.Pixel(x, y));
      Alpha(out, x, y) = alpha;
    }
  return out;
}

void ExpectAgreement(const TBitmap& input, TColor target, const ThinningOptions& options,
                     const std::string& what) {
  EXPECT_EQ(Difference(ReferenceThinned(input, target, kSurround, options),
                       Thinned(input, target, kSurround, options)),
            "")
      << what << ", tolerance " << options.tolerance
      << (options.transparent_surround ? ", transparent surround" : "");
}

// Scans and anti-aliased drawings in several ink colours, the ends of the
// byte range among them, at widths across the engine's groups of pixels.
TEST(ThinningOptions, ToleranceAgreesWithTheModel) {
  const TColor inks[] = {clBlack, RGB(20, 30, 90), RGB(255, 255, 255), RGB(200, 0, 255)};
  int n = 0;
  for (const int tolerance : {0, 1, 7, 24, 60, 128, 254, 255}) {
    for (const TColor ink : inks) {
      std::mt19937 rng(unsigned(tolerance * 31 + n++));
      const int width = 17 + int(rng() % 100);
      const int height = 18 + int(rng() % 30);
      const TBitmap scan = AntiAliased(width, height, ink, 3, 12, rng);
      ExpectAgreement(scan, ink, {.tolerance = tolerance}, "24-bit scan");
      // 32 bits with every kind of alpha, fully transparent included.
      TBitmap translucent = WithAlpha(scan, 255);
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
          if (rng() % 4 == 0) Alpha(translucent, x, y) = uint8_t(rng() % 3 == 0 ? 0 : rng());
      ExpectAgreement(translucent, ink, {.tolerance = tolerance}, "32-bit scan");
      ExpectAgreement(translucent, ink, {.tolerance = tolerance, .transparent_surround = true},
                      "32-bit scan");
    }
  }
}

TEST(ThinningOptions, EveryOpaquePixelIsTheTargetAtTolerance255) {
  std::mt19937 rng(5);
  const TBitmap noise = Noise(40, 30, 0.3, rng, true);
  const TBitmap thinned = Thinned(noise, kTarget, kSurround, {.tolerance = 255});
  // The whole rectangle is one region, as if every pixel were the target:
  // the same pixels go; those that stay keep their colours.
  const TBitmap whole = Thinned(Blank(40, 30), kBackground, kSurround);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      EXPECT_EQ(thinned.Pixel(x, y), whole.Pixel(x, y) == kSurround ? kSurround : noise.Pixel(x, y))
          << x << ", " << y;
  // Above 255 nothing more can match; below 0 nothing does.
  EXPECT_EQ(Difference(thinned, Thinned(noise, kTarget, kSurround, {.tolerance = 1000})), "");
  EXPECT_EQ(Difference(noise, Thinned(noise, kTarget, kSurround, {.tolerance = -1})), "");
}

TEST(ThinningOptions, NearShadesGoToTheSurroundAndKeptOnesKeepTheirShade) {
  // A bar three rows thick in three shades of near black; its middle row
  // stays in its own shade, the rest turns to the surround colour.
  const TColor shades[] = {RGB(3, 0, 0), RGB(0, 0, 5), RGB(2, 4, 1)};
  TBitmap bar = Blank(12, 5);
  for (int y = 1; y <= 3; ++y)
    for (int x = 1; x <= 10; ++x) bar.SetPixel(x, y, shades[(x + y) % 3]);
  const TBitmap out = Thinned(bar, kTarget, kSurround, {.tolerance = 5});
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 12; ++x) {
      const bool bar_pixel = y >= 1 && y <= 3 && x >= 1 && x <= 10;
      const bool kept = y == 2 && x >= 2 && x <= 9;
      const TColor expected = !bar_pixel ? kBackground : kept ? bar.Pixel(x, y) : kSurround;
      EXPECT_EQ(out.Pixel(x, y), expected) << x << ", " << y;
    }
  // One step short of the farthest shade, that shade is no target at all.
  const TBitmap short_of = Thinned(bar, kTarget, kSurround, {.tolerance = 4});
  for (int y = 1; y <= 3; ++y)
    for (int x = 1; x <= 10; ++x)
      if (bar.Pixel(x, y) == RGB(0, 0, 5)) {
        EXPECT_EQ(short_of.Pixel(x, y), RGB(0, 0, 5));
      }
}

// A transparent pixel is background whatever colour it stores: a block
// whose left part is transparent thins as its opaque part alone would, and
// the transparent part keeps every byte.
TEST(ThinningOptions, TransparentPixelsOfTheTargetColourAreNeverThinned) {
  TBitmap block = WithAlpha(Blank(11, 11), 255);
  FillRect(block, 2, 2, 8, 8, kTarget);
  for (int y = 2; y <= 8; ++y)
    for (int x = 2; x <= 4; ++x) Alpha(block, x, y) = 0;
  TBitmap opaque_part = WithAlpha(Blank(11, 11), 255);
  FillRect(opaque_part, 5, 2, 8, 8, kTarget);
  const TBitmap expected = Thinned(opaque_part);

  for (const bool transparent : {false, true}) {
    const TBitmap out = Thinned(block, kTarget, kSurround, {.transparent_surround = transparent});
    for (int y = 0; y < 11; ++y)
      for (int x = 0; x < 11; ++x) {
        if (x >= 2 && x <= 4 && y >= 2 && y <= 8) {
          EXPECT_EQ(out.Pixel(x, y), kTarget) << x << ", " << y;
          EXPECT_EQ(Alpha(out, x, y), 0) << x << ", " << y;
        } else if (!transparent) {
          EXPECT_EQ(out.Pixel(x, y), expected.Pixel(x, y)) << x << ", " << y;
          EXPECT_EQ(Alpha(out, x, y), Alpha(expected, x, y)) << x << ", " << y;
        }
      }
  }
  // A picture whose every target pixel is transparent does not change.
  std::mt19937 rng(3);
  const TBitmap hidden = WithAlpha(Noise(30, 30, 0.7, rng), 0);
  EXPECT_EQ(Difference(hidden, Thinned(hidden)), "");
}

// Translucent line work: removed pixels take the surround colour and
// become opaque, or fully transparent with a transparent surround; kept
// pixels and all others keep every byte.
TEST(ThinningOptions, RemovedPixelsBecomeOpaqueOrTransparentSurround) {
  std::mt19937 rng(21);
  TBitmap input = WithAlpha(Blank(50, 40), 255);
  DrawStrokes(input, 6, 9, rng);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 50; ++x) Alpha(input, x, y) = uint8_t(1 + rng() % 255);
  const TBitmap removed_from = Thinned(input);  // opaque surround
  const TBitmap cleared = Thinned(input, kTarget, kSurround, {.transparent_surround = true});
  int removed = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 50; ++x) {
      const bool gone = input.Pixel(x, y) == kTarget && removed_from.Pixel(x, y) != kTarget;
      removed += gone;
      if (gone) {
        EXPECT_EQ(removed_from.Pixel(x, y), kSurround);
        EXPECT_EQ(Alpha(removed_from, x, y), 255) << x << ", " << y;
        EXPECT_EQ(cleared.Pixel(x, y), kSurround);
        EXPECT_EQ(Alpha(cleared, x, y), 0) << x << ", " << y;
      } else {
        EXPECT_EQ(removed_from.Pixel(x, y), input.Pixel(x, y));
        EXPECT_EQ(Alpha(removed_from, x, y), Alpha(input, x, y));
        EXPECT_EQ(cleared.Pixel(x, y), input.Pixel(x, y));
        EXPECT_EQ(Alpha(cleared, x, y), Alpha(input, x, y));
      }
    }
  EXPECT_GT(removed, 100);
}

TEST(ThinningOptions, TransparentSurroundGivesA24BitPictureAlpha) {
  std::mt19937 rng(8);
  TBitmap input = Noise(70, 45, 0.05, rng, true);
  DrawStrokes(input, 5, 8, rng);
  const TBitmap opaque = Thinned(input);
  const TBitmap out = Thinned(input, kTarget, kSurround, {.transparent_surround = true});
  ASSERT_EQ(out.PixelFormat(), TPixelFormat::pf32bit);
  ASSERT_NE(Difference(input, opaque), "");
  for (int y = 0; y < 45; ++y)
    for (int x = 0; x < 70; ++x) {
      // The same pixels go as with an opaque surround; they alone are clear.
      const bool gone = opaque.Pixel(x, y) != input.Pixel(x, y);
      EXPECT_EQ(out.Pixel(x, y), opaque.Pixel(x, y)) << x << ", " << y;
      EXPECT_EQ(Alpha(out, x, y), gone ? 0 : 255) << x << ", " << y;
    }
  // Rows below the first removed pixel are read from the widened picture:
  // the model, widening at the same moment, agrees everywhere.
  EXPECT_EQ(
      Difference(ReferenceThinned(input, kTarget, kSurround, {.transparent_surround = true}), out),
      "");
}

TEST(ThinningOptions, TransparentSurroundLeavesAnUnchangedPictureAsItWas) {
  // Lines one pixel wide lose nothing: the picture stays 24-bit.
  TBitmap lines = Blank(30, 20);
  FillRect(lines, 2, 3, 27, 3, kTarget);
  FillRect(lines, 10, 5, 10, 18, kTarget);
  int changes = 0;
  TPicture picture;
  picture.SetGraphic(std::make_unique<TBitmap>(lines));
  picture.OnChange = [&changes](TPicture&) { ++changes; };
  EXPECT_EQ(RunThinning(picture, kTarget, kSurround, {.transparent_surround = true}),
            ThinningResult::Thinned);
  EXPECT_EQ(picture.Bitmap().PixelFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(Difference(lines, picture.Bitmap()), "");
  EXPECT_EQ(changes, 0);
}

}  // namespace
}  // namespace kevrale::test
