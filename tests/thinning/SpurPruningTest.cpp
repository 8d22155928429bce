// Removing spurs, on pictures whose outcome was worked out by hand:
// '#' target, 'r' surround, '.' background.
#include <gtest/gtest.h>

#include "TestPictures.h"
#include "thinning/SpurPruning.h"

namespace kevrale::test {
namespace {

using Rows = std::vector<std::string>;

// The rule of a run with the target colour on this bitmap.
TargetRule RuleOf(const TBitmap& bitmap) {
  return TargetRule{.target = kTarget, .alpha = bitmap.HasAlpha()};
}

Rows Pruned(const Rows& rows, int shorter_than, size_t* painted = nullptr) {
  TBitmap bitmap = BitmapOf(rows);
  const size_t n = PruneSpurs(bitmap, RuleOf(bitmap), kSurround, false, shorter_than);
  if (painted) *painted = n;
  return RowsOf(bitmap);
}

TEST(SpurPruning, BranchesShorterThanTheLengthGoTheJunctionStays) {
  const Rows spur = {
      "..........", "....#.....", "....#.....", "##########", "..........",
  };
  size_t painted = 0;
  // The spur has 2 pixels, the left arm 4, the right arm 5.
  EXPECT_EQ(Pruned(spur, 2, &painted), spur);
  EXPECT_EQ(painted, 0u);
  EXPECT_EQ(Pruned(spur, 3, &painted), (Rows{
                                           "..........",
                                           "....r.....",
                                           "....r.....",
                                           "##########",
                                           "..........",
                                       }));
  EXPECT_EQ(painted, 2u);
  EXPECT_EQ(Pruned(spur, 5, &painted), (Rows{
                                           "..........",
                                           "....r.....",
                                           "....r.....",
                                           "rrrr######",
                                           "..........",
                                       }));
  EXPECT_EQ(painted, 6u);
  // Every arm of a small Y is a branch: only its junction is left.
  EXPECT_EQ(Pruned({"#...#", ".#.#.", "..#..", "..#..", "....."}, 3),
            (Rows{"r...r", ".r.r.", "..#..", "..r..", "....."}));
}

TEST(SpurPruning, TheRunsToleranceMakesNearShadesPartOfTheLines) {
  // 'o' is one step from the target: with the run's tolerance the long arm
  // through it stays and only the spur goes; without it the 'o' breaks the
  // arm, and its stub is taken for a spur.
  TBitmap bitmap = BitmapOf({"....#.....", "....#.....", "##o#######"});
  const TargetRule near{.target = kTarget, .tolerance = 1};
  EXPECT_EQ(PruneSpurs(bitmap, near, kSurround, false, 3), 2u);
  EXPECT_EQ(RowsOf(bitmap), (Rows{"....r.....", "....r.....", "##o#######"}));
  TBitmap exact = BitmapOf({"....#.....", "....#.....", "##o#######"});
  PruneSpurs(exact, RuleOf(exact), kSurround, false, 3);
  EXPECT_EQ(RowsOf(exact), (Rows{"....r.....", "....r.....", "##or######"}));
}

TEST(SpurPruning, OneRoundOnly) {
  // Two spurs of one pixel on a stem that joins a line; once they are gone
  // the stem is a spur too, but it was no branch when the round began.
  const Rows rows = {
      "...#.#.....", "....#......", "....#......", "....#......", "###########",
  };
  EXPECT_EQ(Pruned(rows, 2), (Rows{
                                 "...r.r.....",
                                 "....#......",
                                 "....#......",
                                 "....#......",
                                 "###########",
                             }));
  EXPECT_EQ(Pruned(rows, 5), (Rows{
                                 "...r.r.....",
                                 "....#......",
                                 "....#......",
                                 "....#......",
                                 "rrrr#######",
                             }));
}

TEST(SpurPruning, NoJunctionNoBranch) {
  // A lone pixel and strokes without a junction stay, however short.
  const Rows strokes = {
      "#......", ".......", ".##....", "....#..", ".....#.",
  };
  EXPECT_EQ(Pruned(strokes, 100), strokes);
  // A loop has junction but no end point; only its spur goes.
  EXPECT_EQ(Pruned({".###..", "#...#.", "#...##", ".###.."}, 100),
            (Rows{".###..", "#...#.", "#...#r", ".###.."}));
  // No length below 2 removes anything.
  const Rows spur = {"..#..", "#####"};
  EXPECT_EQ(Pruned(spur, 1), spur);
  EXPECT_EQ(Pruned(spur, 0), spur);
  EXPECT_EQ(Pruned(spur, -5), spur);
}

TEST(SpurPruning, PaintsOnlyTheBranchKeepingAlphaAndOtherColours) {
  TBitmap bitmap = BitmapOf({"o.#.r", "#####"});
  TBitmap with_alpha = Blank(5, 2, TPixelFormat::pf32bit);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 5; ++x) {
      with_alpha.SetPixel(x, y, bitmap.Pixel(x, y));
      with_alpha.ScanLine(y)[x * 4 + 3] = 0x80;
    }
  // The spur (2, 0) has one pixel; the arms of the line two each.
  EXPECT_EQ(PruneSpurs(with_alpha, RuleOf(with_alpha), kSurround, false, 2), 1u);
  EXPECT_EQ(RowsOf(with_alpha), (Rows{"o.r.r", "#####"}));
  // A removed pixel becomes opaque, as the thinning run leaves it.
  EXPECT_EQ(with_alpha.ScanLine(0)[2 * 4 + 3], 0xFF);

  // A transparent pixel of the target colour is no part of the line: with
  // the junction transparent, the former spur joins the two halves of the
  // line into one stroke, which stays.
  with_alpha.SetPixel(2, 0, kTarget);
  with_alpha.ScanLine(1)[2 * 4 + 3] = 0;
  EXPECT_EQ(PruneSpurs(with_alpha, RuleOf(with_alpha), kSurround, false, 2), 0u);
}

}  // namespace
}  // namespace kevrale::test
