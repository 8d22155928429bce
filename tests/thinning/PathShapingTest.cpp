// What is done to traced paths before they are written: simplification
// within a tolerance, and the order for a pen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "PathChecks.h"
#include "TestPictures.h"
#include "thinning/PathOrder.h"
#include "thinning/PathSimplify.h"
#include "thinning/SkeletonGraph.h"
#include "thinning/SkeletonTrace.h"

namespace kevrale::test {
namespace {

using Points = std::vector<PixelPoint>;

// Paths traced from the skeleton of random strokes, arcs among them.
std::vector<PixelPolyline> TracedStrokes(unsigned seed) {
  std::mt19937 rng(seed);
  TBitmap picture = Blank(160, 120);
  DrawStrokes(picture, 8, 7, rng);
  DrawBlobs(picture, 2, 30, rng);
  return TraceSkeleton(SkeletonGraph(Thinned(picture), TargetRule{.target = kTarget}));
}

bool IsSubsequence(const Points& part, const Points& whole) {
  size_t at = 0;
  for (const PixelPoint p : whole)
    if (at < part.size() && part[at] == p) ++at;
  return at == part.size();
}

TEST(PathSimplify, EveryPixelStaysWithinTheTolerance) {
  for (unsigned seed = 1; seed <= 12; ++seed) {
    for (const double tolerance : {0.5, 1.0, 1.5, 3.0, 10.0}) {
      for (const PixelPolyline& original : TracedStrokes(seed)) {
        PixelPolyline simple = original;
        SimplifyPolyline(simple, tolerance);
        ASSERT_FALSE(simple.points.empty());
        EXPECT_EQ(simple.closed, original.closed);
        EXPECT_EQ(simple.points.front(), original.points.front());
        if (!original.closed) {
          EXPECT_EQ(simple.points.back(), original.points.back());
        }
        EXPECT_TRUE(IsSubsequence(simple.points, original.points)) << "seed " << seed;
        std::string problem;
        for (const PixelPoint p : ExpandRuns(original, problem))
          ASSERT_LE(DistanceToPolyline(p, simple), tolerance + 1e-9)
              << "seed " << seed << ", tolerance " << tolerance << ", (" << p.x << ", " << p.y
              << ")";
        ASSERT_EQ(problem, "");
      }
    }
  }
}

TEST(PathSimplify, DropsWhatLiesWithinAndKeepsWhatLiesBeyond) {
  const PixelPolyline bump{{{0, 0}, {5, 1}, {10, 0}}, false};
  PixelPolyline within = bump;
  SimplifyPolyline(within, 1.0);  // (5, 1) lies exactly 1 from the chord
  EXPECT_EQ(within.points, (Points{{0, 0}, {10, 0}}));
  PixelPolyline beyond = bump;
  SimplifyPolyline(beyond, 0.99);
  EXPECT_EQ(beyond.points, bump.points);

  // A line that runs past its end and turns back: the turn lies close to
  // the line through the ends, but far from the segment between them.
  PixelPolyline hairpin{{{0, 0}, {10, 0}, {5, 1}}, false};
  SimplifyPolyline(hairpin, 2.0);
  EXPECT_EQ(hairpin.points.size(), 3u);

  // Nothing to drop from two points, and a negative tolerance changes nothing.
  PixelPolyline two{{{0, 0}, {9, 3}}, false};
  SimplifyPolyline(two, 100);
  EXPECT_EQ(two.points.size(), 2u);
  PixelPolyline kept = bump;
  SimplifyPolyline(kept, -1);
  EXPECT_EQ(kept.points, bump.points);
}

// The greedy order written plainly: at each step every end of every path
// left, nearest first, ties to the lower path and then to its first point.
std::vector<PixelPolyline> PlainGreedy(std::vector<PixelPolyline> paths) {
  std::vector<PixelPolyline> out;
  std::vector<bool> taken(paths.size(), false);
  PixelPoint pen{0, 0};
  for (size_t n = 0; n < paths.size(); ++n) {
    int64_t best = std::numeric_limits<int64_t>::max();
    size_t pick = 0;
    bool reverse = false;
    for (size_t i = 0; i < paths.size(); ++i) {
      if (taken[i]) continue;
      const PixelPoint ends[2] = {paths[i].points.front(), paths[i].points.back()};
      for (int e = 0; e < (paths[i].closed ? 1 : 2); ++e) {
        const int64_t dx = ends[e].x - pen.x, dy = ends[e].y - pen.y;
        const int64_t d = dx * dx + dy * dy;
        if (d < best) {
          best = d;
          pick = i;
          reverse = e == 1;
        }
      }
    }
    taken[pick] = true;
    PixelPolyline p = paths[pick];
    if (reverse) std::reverse(p.points.begin(), p.points.end());
    pen = p.closed ? p.points.front() : p.points.back();
    out.push_back(p);
  }
  return out;
}

TEST(PathOrder, NearestEndFirstReversingWhereThatIsNearer) {
  std::vector<PixelPolyline> paths = {
      {{{100, 0}, {110, 0}}, false},
      {{{20, 0}, {10, 0}}, false},
      {{{50, 0}, {60, 0}}, false},
  };
  EXPECT_DOUBLE_EQ(PenTravel(paths), 100 + 90 + 40);
  OrderForPen(paths);
  ASSERT_EQ(paths.size(), 3u);
  EXPECT_EQ(paths[0].points, (Points{{10, 0}, {20, 0}}));
  EXPECT_EQ(paths[1].points, (Points{{50, 0}, {60, 0}}));
  EXPECT_EQ(paths[2].points, (Points{{100, 0}, {110, 0}}));
  EXPECT_DOUBLE_EQ(PenTravel(paths), 10 + 30 + 40);

  // A closed path is entered at its first point and ends there.
  std::vector<PixelPolyline> loops = {{{{30, 30}, {40, 30}, {40, 40}}, true},
                                      {{{41, 40}, {5, 5}}, false}};
  OrderForPen(loops);
  EXPECT_EQ(loops[0].points.front(), (PixelPoint{5, 5}));
  EXPECT_EQ(loops[1].points.front(), (PixelPoint{30, 30}));

  std::vector<PixelPolyline> none;
  OrderForPen(none);
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(PenTravel(none), 0);
}

// The grid search against the plain greedy order, on scattered paths (far
// apart, so that it must search many rings) and on traced skeletons.
TEST(PathOrder, GridSearchGivesThePlainGreedyOrder) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    std::mt19937 rng(seed);
    std::vector<PixelPolyline> paths;
    if (seed % 2 == 0) {
      paths = TracedStrokes(seed);
    } else {
      const int spread = seed % 4 == 1 ? 5000 : 300;
      std::uniform_int_distribution<int> coordinate(0, spread);
      const int count = 1 + int(rng() % 400);
      for (int i = 0; i < count; ++i) {
        PixelPolyline p;
        for (int k = 0; k < 1 + int(rng() % 3); ++k)
          p.points.push_back({coordinate(rng), coordinate(rng)});
        p.closed = p.points.size() == 3 && rng() % 2 == 0;
        paths.push_back(p);
      }
    }
    const std::vector<PixelPolyline> expected = PlainGreedy(paths);
    std::vector<PixelPolyline> ordered = paths;
    OrderForPen(ordered);
    ASSERT_EQ(ordered.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      ASSERT_EQ(ordered[i].points, expected[i].points) << "seed " << seed << ", path " << i;
      ASSERT_EQ(ordered[i].closed, expected[i].closed);
    }
  }
}

}  // namespace
}  // namespace kevrale::test
