// Tracing the target pixels into paths: the patterns of a one-pixel
// skeleton drawn by hand, and pictures thinned by the real engine checked
// against the pixels they came from.
#include <gtest/gtest.h>

#include <algorithm>

#include "PathChecks.h"
#include "TestPictures.h"
#include "thinning/SkeletonGraph.h"
#include "thinning/SkeletonTrace.h"

namespace kevrale::test {
namespace {

using Rows = std::vector<std::string>;
using Points = std::vector<PixelPoint>;

std::vector<PixelPolyline> Trace(const TBitmap& bitmap, TColor target = kTarget,
                                 int tolerance = 0) {
  return TraceSkeleton(SkeletonGraph(
      bitmap, TargetRule{.target = target, .tolerance = tolerance, .alpha = bitmap.HasAlpha()}));
}

std::vector<PixelPolyline> TraceRows(const Rows& rows) {
  const TBitmap bitmap = BitmapOf(rows);
  std::vector<PixelPolyline> paths = Trace(bitmap);
  EXPECT_EQ(PathProblem(bitmap, kTarget, paths), "");
  return paths;
}

// The path's points, read from whichever end gives the smaller first point,
// so that a test need not know in which direction a chain was walked.
Points Canonical(const PixelPolyline& p) {
  Points points = p.points;
  const auto less = [](PixelPoint a, PixelPoint b) { return a.y != b.y ? a.y < b.y : a.x < b.x; };
  if (!p.closed && less(points.back(), points.front())) std::reverse(points.begin(), points.end());
  return points;
}

bool EndsAt(const PixelPolyline& p, PixelPoint q) {
  return p.points.front() == q || p.points.back() == q;
}

TEST(SkeletonTrace, NothingLonePixelsAndStraightRuns) {
  EXPECT_TRUE(TraceRows({"....", "...."}).empty());
  EXPECT_TRUE(Trace(TBitmap()).empty());

  const auto lone = TraceRows({".....", "..#..", ".....", "....#"});
  ASSERT_EQ(lone.size(), 2u);
  EXPECT_EQ(lone[0].points, (Points{{2, 1}}));
  EXPECT_EQ(lone[1].points, (Points{{4, 3}}));
  EXPECT_FALSE(lone[0].closed);

  // Each straight line is one path of its two end pixels.
  const std::pair<Rows, Points> lines[] = {
      {{"......", ".####.", "......"}, {{1, 1}, {4, 1}}},
      {{".#.", ".#.", ".#.", ".#."}, {{1, 0}, {1, 3}}},
      {{"#...", ".#..", "..#.", "...#"}, {{0, 0}, {3, 3}}},
      {{"...#", "..#.", ".#..", "#..."}, {{3, 0}, {0, 3}}},
      {{"##", ".."}, {{0, 0}, {1, 0}}},
  };
  for (const auto& [rows, expected] : lines) {
    const auto paths = TraceRows(rows);
    ASSERT_EQ(paths.size(), 1u) << rows[0];
    EXPECT_EQ(Canonical(paths[0]), expected) << rows[0];
  }
}

// Pixels with three 8-neighbours that are no junction: the steps of a
// staircase, and an L whose diagonal shortcut coexists with the corner.
TEST(SkeletonTrace, StaircasesAndCornersAreSingleChains) {
  const auto stairs = TraceRows({
      "##......",
      ".##.....",
      "..##....",
      "...##...",
  });
  ASSERT_EQ(stairs.size(), 1u);
  EXPECT_EQ(Canonical(stairs[0]),
            (Points{{0, 0}, {1, 0}, {1, 1}, {2, 1}, {2, 2}, {3, 2}, {3, 3}, {4, 3}}));

  const auto corner = TraceRows({
      "#....",
      "#....",
      "#....",
      "#####",
  });
  ASSERT_EQ(corner.size(), 1u);
  EXPECT_EQ(Canonical(corner[0]), (Points{{0, 0}, {0, 3}, {4, 3}}));

  // A diagonal staircase whose steps touch only at corners.
  const auto diagonal = TraceRows({
      "#.......",
      ".#......",
      ".#......",
      "..#.....",
      "..#.....",
      "...#....",
  });
  ASSERT_EQ(diagonal.size(), 1u);
  EXPECT_EQ(Canonical(diagonal[0]), (Points{{0, 0}, {1, 1}, {1, 2}, {2, 3}, {2, 4}, {3, 5}}));
}

TEST(SkeletonTrace, JunctionsOfThreeAndFourChains) {
  const Rows shapes[] = {
      {"#...#", ".#.#.", "..#..", "..#..", "..#.."},  // Y
      {"..#..", "..#..", "#####", "..#..", "..#.."},  // plus
      {"#...#", ".#.#.", "..#..", ".#.#.", "#...#"},  // X
      {".....", "#####", "..#..", "..#..", "....."},  // T of one-pixel lines
  };
  const size_t chains[] = {3, 4, 4, 3};
  const PixelPoint centre[] = {{2, 2}, {2, 2}, {2, 2}, {2, 1}};
  for (size_t i = 0; i < 4; ++i) {
    const auto paths = TraceRows(shapes[i]);
    ASSERT_EQ(paths.size(), chains[i]) << i;
    for (const PixelPolyline& p : paths) {
      EXPECT_TRUE(EndsAt(p, centre[i])) << i;
      EXPECT_FALSE(p.closed);
      EXPECT_EQ(p.points.size(), 2u) << i;  // each arm straight
    }
  }
}

TEST(SkeletonTrace, LoopsAreClosedPaths) {
  // A ring that lost its corners, as the engine leaves a rectangle outline:
  // one closed path from its top-left pixel, corners only.
  const auto ring = TraceRows({
      ".####.",
      "#....#",
      "#....#",
      ".####.",
  });
  ASSERT_EQ(ring.size(), 1u);
  EXPECT_TRUE(ring[0].closed);
  EXPECT_EQ(ring[0].points.front(), (PixelPoint{1, 0}));
  EXPECT_EQ(ring[0].points.size(), 8u);

  const auto diamond = TraceRows({".#.", "#.#", ".#."});
  ASSERT_EQ(diamond.size(), 1u);
  EXPECT_TRUE(diamond[0].closed);
  EXPECT_EQ(diamond[0].points.size(), 4u);

  // A loop on a stem: closed, beginning and ending at the junction.
  const auto lollipop = TraceRows({
      "..##..",
      ".#..#.",
      ".#..#.",
      "..##..",
      "...#..",
      "...#..",
  });
  ASSERT_EQ(lollipop.size(), 2u);
  const auto loop = std::find_if(lollipop.begin(), lollipop.end(),
                                 [](const PixelPolyline& p) { return p.closed; });
  ASSERT_NE(loop, lollipop.end());
  EXPECT_EQ(loop->points.front(), (PixelPoint{3, 3}));
  const auto stem = std::find_if(lollipop.begin(), lollipop.end(),
                                 [](const PixelPolyline& p) { return !p.closed; });
  EXPECT_EQ(Canonical(*stem), (Points{{3, 3}, {3, 5}}));

  // A 2 x 2 block: the four pixels in a square.
  const auto block = TraceRows({"##", "##"});
  ASSERT_EQ(block.size(), 1u);
  EXPECT_TRUE(block[0].closed);
}

TEST(SkeletonTrace, OnlyTheTargetColourAndNeverATransparentPixel) {
  TBitmap bitmap = BitmapOf({"#o##r#", "......"});
  const auto paths = Trace(bitmap);
  EXPECT_EQ(PathProblem(bitmap, kTarget, paths), "");
  ASSERT_EQ(paths.size(), 3u);
  // The colour is compared in its low 24 bits only.
  EXPECT_EQ(Trace(bitmap, kTarget | 0xFF000000u).size(), 3u);

  TBitmap alpha = Blank(6, 1, TPixelFormat::pf32bit);
  FillRect(alpha, 0, 0, 5, 0, kTarget);
  alpha.ScanLine(0)[2 * 4 + 3] = 0;  // pixel 2 transparent, its colour the target's
  alpha.ScanLine(0)[4 * 4 + 3] = 1;  // pixel 4 nearly so, but not fully
  const auto opaque = Trace(alpha);
  EXPECT_EQ(PathProblem(alpha, kTarget, opaque), "");
  ASSERT_EQ(opaque.size(), 2u);
  EXPECT_EQ(Canonical(opaque[0]), (Points{{0, 0}, {1, 0}}));
  EXPECT_EQ(Canonical(opaque[1]), (Points{{3, 0}, {5, 0}}));
}

// The property that everything else rests on, on pictures thinned by the
// engine: the paths pass through exactly the skeleton's pixels.
TEST(SkeletonTrace, ThinnedStrokesAreTracedExactly) {
  for (unsigned seed = 1; seed <= 80; ++seed) {
    std::mt19937 rng(seed);
    const int width = 20 + int(rng() % 160);
    const int height = 20 + int(rng() % 120);
    TBitmap picture =
        Blank(width, height, seed % 7 == 0 ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
    DrawStrokes(picture, 2 + int(rng() % 12), 1 + int(seed % 9), rng);
    if (seed % 3 == 0) DrawBlobs(picture, 1 + int(rng() % 3), 4 + int(seed % 12), rng);
    const TBitmap skeleton = Thinned(picture);
    EXPECT_EQ(PathProblem(skeleton, kTarget, Trace(skeleton)), "") << "seed " << seed;
  }
}

TEST(SkeletonTrace, AToleranceTracesTheNearShadesOfTheRun) {
  for (unsigned seed = 1; seed <= 12; ++seed) {
    std::mt19937 rng(seed);
    const int tolerance = 20 + int(seed * 7);
    const TBitmap scan = AntiAliased(90, 70, kTarget, 6, 12, rng);
    ThinningOptions options;
    options.tolerance = tolerance;
    const TBitmap skeleton = Thinned(scan, kTarget, kSurround, options);
    EXPECT_EQ(PathProblem(skeleton, kTarget, Trace(skeleton, kTarget, tolerance), true, tolerance),
              "")
        << "seed " << seed;
  }
  // Three pixels of one line in near shades: one path with the tolerance,
  // three lone pixels without it.
  const TBitmap shades = BitmapOf({".#o#."});
  EXPECT_EQ(Trace(shades, kTarget, 1).size(), 1u);
  EXPECT_EQ(Trace(shades).size(), 2u);
  EXPECT_TRUE(Trace(shades, kTarget, -1).empty());
}

// Any set of pixels, not only a skeleton, is covered just as exactly: thick
// regions, 2 x 2 blocks and noise, and every row length around the word
// sizes of the row scan.
// Every node's neighbours, found from the row bits, against a look at the
// eight pixels around it, on widths around the 64-pixel words.
TEST(SkeletonGraph, NeighboursAreThePixelsAround) {
  for (unsigned seed = 1; seed <= 24; ++seed) {
    std::mt19937 rng(seed);
    const int width = (seed % 3 == 0 ? 126 : 61) + int(rng() % 8);
    const int height = 1 + int(rng() % 12);
    const TBitmap noise = Noise(width, height, 0.2 + 0.1 * (seed % 5), rng, seed % 2 == 0);
    const SkeletonGraph graph(noise, TargetRule{.target = kTarget});
    const auto target = [&](int x, int y) {
      return x >= 0 && y >= 0 && x < width && y < height && noise.Pixel(x, y) == kTarget;
    };
    size_t count = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) count += target(x, y);
    ASSERT_EQ(graph.Size(), count) << "seed " << seed;
    for (size_t node = 0; node < graph.Size(); ++node) {
      const PixelPoint p = graph.Point(node);
      ASSERT_TRUE(target(p.x, p.y)) << "seed " << seed;
      for (int d = 0; d < 8; ++d) {
        const int nx = p.x + SkeletonGraph::StepX(d), ny = p.y + SkeletonGraph::StepY(d);
        const bool present = (graph.Neighbours(node) >> d & 1) != 0;
        ASSERT_EQ(present, target(nx, ny)) << "seed " << seed << " node " << node << " dir " << d;
        if (present) {
          const PixelPoint q = graph.Point(graph.Neighbour(node, d));
          ASSERT_EQ(q.x, nx) << "seed " << seed << " node " << node << " dir " << d;
          ASSERT_EQ(q.y, ny) << "seed " << seed << " node " << node << " dir " << d;
        }
      }
    }
  }
}

TEST(SkeletonTrace, AnyPixelsAreTracedExactly) {
  for (unsigned seed = 1; seed <= 60; ++seed) {
    std::mt19937 rng(seed);
    const int width = 1 + int(rng() % 70);
    const int height = 1 + int(rng() % 40);
    const double density = 0.1 + 0.15 * (seed % 6);
    const TBitmap noise = Noise(width, height, density, rng, seed % 2 == 0,
                                seed % 5 == 0 ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
    EXPECT_EQ(PathProblem(noise, kTarget, Trace(noise)), "") << "seed " << seed;
  }
}

}  // namespace
}  // namespace kevrale::test
