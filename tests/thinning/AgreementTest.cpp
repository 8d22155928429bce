// The engine against the plain model, pixel for pixel, on many pictures;
// and properties of the result that hold whatever the model says.
#include <gtest/gtest.h>

#include <memory>

#include "ReferenceThinning.h"
#include "TestPictures.h"

namespace kevrale::test {
namespace {

void ExpectAgreement(const TBitmap& input, const std::string& what, TColor target = kTarget,
                     TColor surround = kSurround) {
  const std::string difference =
      Difference(ReferenceThinned(input, target, surround), Thinned(input, target, surround));
  EXPECT_EQ(difference, "") << what << ", " << input.Width() << " x " << input.Height();
}

// Heights around the ring size and its multiples, every width up to 70
// (across the 64-column words of the engine's bitsets).
TEST(ThinningAgreement, NoiseAtEveryWidthAndRingHeight) {
  const double densities[] = {0.15, 0.35, 0.5, 0.65, 0.85};
  for (const int height : {1, 2, 3, 18, 19, 20, 21, 39, 40, 41, 60}) {
    for (int width = 1; width <= 70; ++width) {
      const unsigned seed = unsigned(height * 1000 + width);
      std::mt19937 rng(seed);
      const double density = densities[seed % 5];
      ExpectAgreement(Noise(width, height, density, rng, width % 3 == 0),
                      "noise seed " + std::to_string(seed));
    }
  }
}

TEST(ThinningAgreement, ThickStrokesBlobsAndBars) {
  for (unsigned seed = 1; seed <= 24; ++seed) {
    std::mt19937 rng(seed);
    const int width = 60 + int(rng() % 140);
    const int height = 40 + int(rng() % 120);
    TBitmap strokes = Blank(width, height);
    DrawStrokes(strokes, 4 + int(rng() % 10), 2 + int(seed % 22), rng);
    ExpectAgreement(strokes, "strokes seed " + std::to_string(seed));

    TBitmap blobs = Blank(width, height);
    DrawBlobs(blobs, 2 + int(rng() % 6), 4 + int(seed % 40), rng);
    ExpectAgreement(blobs, "blobs seed " + std::to_string(seed));
  }
  // Bars thick enough that the pass count reaches its limit of 18.
  for (const int thickness : {36, 37, 38, 39, 45, 60}) {
    TBitmap bars = Blank(130, 150);
    FillRect(bars, 5, 5, 124, 4 + thickness, kTarget);
    FillRect(bars, 20, 70, 19 + thickness, 145, kTarget);
    ExpectAgreement(bars, "bars " + std::to_string(thickness));
  }
}

TEST(ThinningAgreement, WordBoundaryWidthsAndOtherFormats) {
  for (const int width : {62, 63, 64, 65, 66, 126, 127, 128, 129, 130, 191, 192, 193}) {
    std::mt19937 rng{unsigned(width)};
    TBitmap strokes = Noise(width, 45, 0.05, rng, true);
    DrawStrokes(strokes, 6, 14, rng);
    ExpectAgreement(strokes, "strokes at width " + std::to_string(width));
    ExpectAgreement(Noise(width, 23, 0.6, rng, false, TPixelFormat::pf32bit),
                    "32-bit noise at width " + std::to_string(width));
  }
  std::mt19937 rng(99);
  const TBitmap mixed = Noise(50, 50, 0.5, rng, true);
  // Another target colour, a surround colour already in the picture, and
  // surround equal to target.
  ExpectAgreement(mixed, "near-black target", kNearTarget, kSurround);
  ExpectAgreement(mixed, "surround is the target", kTarget, kTarget);
  ExpectAgreement(mixed, "white target, black surround", kBackground, kTarget);
}

// The ring model against a model that keeps the whole picture: the same
// schedule of passes without any slot arithmetic.
TEST(ThinningAgreement, RingModelMatchesWholePictureModel) {
  for (const int height : {1, 19, 20, 21, 39, 40, 41, 77}) {
    for (const int width : {1, 5, 33, 64}) {
      std::mt19937 rng(unsigned(height * 100 + width));
      TBitmap input = Noise(width, height, 0.55, rng);
      DrawBlobs(input, 2, 25, rng);
      TPicture whole;
      whole.SetGraphic(std::make_unique<TBitmap>(input));
      WholeImageThinning(whole, kTarget, kSurround);
      EXPECT_EQ(Difference(whole.Bitmap(), ReferenceThinned(input)), "")
          << width << " x " << height;
    }
  }
}

bool HasTargetSquare(const TBitmap& b) {
  for (int y = 0; y + 1 < b.Height(); ++y)
    for (int x = 0; x + 1 < b.Width(); ++x)
      if (b.Pixel(x, y) == kTarget && b.Pixel(x + 1, y) == kTarget &&
          b.Pixel(x, y + 1) == kTarget && b.Pixel(x + 1, y + 1) == kTarget)
        return true;
  return false;
}

// Separate shapes, none deeper than the 18 passes reach: each thins to
// lines without a 2 x 2 block. (Where strokes cross, a block whose four
// pixels each hold one arm of the crossing stays, as it must: removing any
// of them would cut an arm off.)
TEST(ThinningProperties, SeparateShapesLeaveNoSquare) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 rng(seed);
    TBitmap input = Blank(135, 135);
    for (int cell = 0; cell < 9; ++cell) {
      TBitmap shape = Blank(41, 41);
      if (rng() % 2 == 0)
        DrawStrokes(shape, 1, 24, rng);
      else
        DrawBlobs(shape, 1, 14, rng);
      for (int y = 0; y < 41; ++y)
        for (int x = 0; x < 41; ++x)
          input.SetPixel(cell % 3 * 45 + 2 + x, cell / 3 * 45 + 2 + y, shape.Pixel(x, y));
    }
    EXPECT_FALSE(HasTargetSquare(Thinned(input))) << "seed " << seed;
  }
}

TEST(ThinningProperties, OnlyTargetPixelsChangeAndOnlyToTheSurround) {
  for (unsigned seed = 100; seed < 120; ++seed) {
    std::mt19937 rng(seed);
    TBitmap input = Noise(90, 80, 0.05, rng, true);
    DrawStrokes(input, 8, 30, rng);
    DrawBlobs(input, 3, 17, rng);
    const TBitmap output = Thinned(input);
    int repainted = 0;
    for (int y = 0; y < input.Height(); ++y)
      for (int x = 0; x < input.Width(); ++x) {
        const TColor before = input.Pixel(x, y);
        const TColor after = output.Pixel(x, y);
        if (before != kTarget) {
          ASSERT_EQ(after, before) << "seed " << seed << " at " << x << ", " << y;
        } else {
          ASSERT_TRUE(after == kTarget || after == kSurround);
          repainted += after == kSurround;
        }
      }
    EXPECT_GT(repainted, 0) << "seed " << seed;
  }
}

}  // namespace
}  // namespace kevrale::test
