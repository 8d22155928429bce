#include "thinning/PathSimplify.h"

#include <cmath>
#include <utility>
#include <vector>

namespace kevrale {

double DistanceToSegment(PixelPoint p, PixelPoint a, PixelPoint b) {
  const double abx = double(b.x) - a.x, aby = double(b.y) - a.y;
  const double apx = double(p.x) - a.x, apy = double(p.y) - a.y;
  const double length2 = abx * abx + aby * aby;
  double t = length2 > 0 ? (apx * abx + apy * aby) / length2 : 0.0;
  t = t < 0 ? 0 : t > 1 ? 1 : t;
  return std::hypot(apx - t * abx, apy - t * aby);
}

namespace {

// Marks in `keep` the points of [first, last] that the simplified line
// needs; first and last are kept by the caller. A stack instead of
// recursion: a long traced chain could otherwise nest deeply.
void MarkKept(const std::vector<PixelPoint>& p, size_t first, size_t last, double tolerance,
              std::vector<char>& keep) {
  std::vector<std::pair<size_t, size_t>> todo{{first, last}};
  while (!todo.empty()) {
    const auto [a, b] = todo.back();
    todo.pop_back();
    double farthest = -1;
    size_t at = a;
    for (size_t i = a + 1; i < b; ++i) {
      const double d = DistanceToSegment(p[i], p[a], p[b % p.size()]);
      if (d > farthest) {
        farthest = d;
        at = i;
      }
    }
    if (farthest > tolerance) {
      keep[at] = 1;
      todo.push_back({a, at});
      todo.push_back({at, b});
    }
  }
}

}  // namespace

void SimplifyPolyline(PixelPolyline& polyline, double tolerance) {
  std::vector<PixelPoint>& p = polyline.points;
  if (p.size() < 3 || !(tolerance >= 0)) return;
  std::vector<char> keep(p.size(), 0);
  keep.front() = 1;
  if (polyline.closed) {
    // Index p.size() stands for the first point again, closing the loop.
    size_t far = 0;
    double farthest = -1;
    for (size_t i = 1; i < p.size(); ++i) {
      const double d = std::hypot(double(p[i].x) - p[0].x, double(p[i].y) - p[0].y);
      if (d > farthest) {
        farthest = d;
        far = i;
      }
    }
    keep[far] = 1;
    MarkKept(p, 0, far, tolerance, keep);
    MarkKept(p, far, p.size(), tolerance, keep);
  } else {
    keep.back() = 1;
    MarkKept(p, 0, p.size() - 1, tolerance, keep);
  }
  size_t out = 0;
  for (size_t i = 0; i < p.size(); ++i)
    if (keep[i]) p[out++] = p[i];
  p.resize(out);
}

}  // namespace kevrale
