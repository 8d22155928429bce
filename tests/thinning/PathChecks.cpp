#include "PathChecks.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <utility>

namespace kevrale::test {

namespace {

std::string At(PixelPoint p) {
  return std::string("(") + std::to_string(p.x) + ", " + std::to_string(p.y) + ")";
}

using Step = std::pair<std::pair<int, int>, std::pair<int, int>>;

Step StepBetween(PixelPoint a, PixelPoint b) {
  std::pair<int, int> u{a.x, a.y}, v{b.x, b.y};
  if (v < u) std::swap(u, v);
  return {u, v};
}

}  // namespace

std::vector<PixelPoint> ExpandRuns(const PixelPolyline& polyline, std::string& problem) {
  const std::vector<PixelPoint>& p = polyline.points;
  std::vector<PixelPoint> pixels;
  if (p.empty()) return pixels;
  pixels.push_back(p[0]);
  const size_t segments = polyline.closed ? p.size() : p.size() - 1;
  for (size_t i = 0; i < segments; ++i) {
    const PixelPoint a = p[i], b = p[(i + 1) % p.size()];
    const int dx = b.x - a.x, dy = b.y - a.y;
    if ((dx == 0 && dy == 0) || (dx != 0 && dy != 0 && std::abs(dx) != std::abs(dy))) {
      problem = "segment " + At(a) + " to " + At(b) + " is no run in one of eight directions";
      return {};
    }
    const int n = std::max(std::abs(dx), std::abs(dy));
    const int sx = (dx > 0) - (dx < 0), sy = (dy > 0) - (dy < 0);
    for (int k = 1; k <= n; ++k) pixels.push_back({a.x + k * sx, a.y + k * sy});
  }
  if (polyline.closed) pixels.pop_back();  // the first point again
  return pixels;
}

std::string PathProblem(const TBitmap& bitmap, TColor target,
                        const std::vector<PixelPolyline>& paths, bool merged, int tolerance) {
  const auto near = [tolerance](TColor a, TColor b, int shift) {
    return std::abs(int(a >> shift & 0xFF) - int(b >> shift & 0xFF)) <= tolerance;
  };
  std::set<std::pair<int, int>> targets;
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x) {
      const bool opaque = !bitmap.HasAlpha() || bitmap.ScanLine(y)[x * 4 + 3] != 0;
      const TColor c = bitmap.Pixel(x, y);
      if (opaque && near(c, target, 0) && near(c, target, 8) && near(c, target, 16))
        targets.insert({x, y});
    }

  std::set<std::pair<int, int>> covered;
  std::set<Step> steps;
  std::map<std::pair<int, int>, int> drawn_neighbours;
  std::vector<std::vector<PixelPoint>> expanded;
  for (const PixelPolyline& path : paths) {
    if (path.points.empty()) return "a path without points";
    if (path.closed && path.points.size() < 3) return "a closed path of fewer than 3 points";
    std::string problem;
    std::vector<PixelPoint> pixels = ExpandRuns(path, problem);
    if (!problem.empty()) return problem;
    for (const PixelPoint q : pixels) {
      if (!targets.count({q.x, q.y})) return "a path passes through " + At(q) + ", no target";
      covered.insert({q.x, q.y});
    }
    const size_t n = pixels.size();
    const size_t count = path.closed ? n : n - 1;
    for (size_t i = 0; i < count; ++i) {
      const PixelPoint a = pixels[i], b = pixels[(i + 1) % n];
      if (!steps.insert(StepBetween(a, b)).second)
        return "the step " + At(a) + " to " + At(b) + " is drawn twice";
      ++drawn_neighbours[{a.x, a.y}];
      ++drawn_neighbours[{b.x, b.y}];
    }
    if (merged && path.points.size() >= 3) {
      const std::vector<PixelPoint>& p = path.points;
      const size_t first = path.closed ? 0 : 1;
      const size_t last = path.closed ? p.size() : p.size() - 1;
      for (size_t i = first; i < last; ++i) {
        const PixelPoint a = p[(i + p.size() - 1) % p.size()], b = p[i], c = p[(i + 1) % p.size()];
        const auto sign = [](int v) { return (v > 0) - (v < 0); };
        if (sign(b.x - a.x) == sign(c.x - b.x) && sign(b.y - a.y) == sign(c.y - b.y) &&
            !(path.closed && i == 0))
          return "point " + At(b) + " lies inside a straight run";
      }
    }
    expanded.push_back(std::move(pixels));
  }
  for (const auto& [x, y] : targets)
    if (!covered.count({x, y})) return "no path passes through " + At({x, y});

  // Whole chains: a path goes on through every pixel with two drawn
  // neighbours and stops at every other one.
  for (size_t k = 0; k < paths.size(); ++k) {
    const std::vector<PixelPoint>& pixels = expanded[k];
    const auto degree = [&](PixelPoint q) {
      const auto it = drawn_neighbours.find({q.x, q.y});
      return it == drawn_neighbours.end() ? 0 : it->second;
    };
    for (size_t i = 1; i + 1 < pixels.size(); ++i)
      if (degree(pixels[i]) != 2) return "a path runs through the junction " + At(pixels[i]);
    if (!paths[k].closed && pixels.size() > 1 &&
        (degree(pixels.front()) == 2 || degree(pixels.back()) == 2))
      return "a path from " + At(pixels.front()) + " stops inside a chain";
  }
  return {};
}

double DistanceToPolyline(PixelPoint p, const PixelPolyline& polyline) {
  const std::vector<PixelPoint>& q = polyline.points;
  const auto to_segment = [p](PixelPoint a, PixelPoint b) {
    const double vx = b.x - a.x, vy = b.y - a.y, wx = p.x - a.x, wy = p.y - a.y;
    const double len2 = vx * vx + vy * vy;
    const double t = len2 == 0 ? 0 : std::clamp((wx * vx + wy * vy) / len2, 0.0, 1.0);
    return std::hypot(wx - t * vx, wy - t * vy);
  };
  double best = to_segment(q[0], q[0]);
  for (size_t i = 1; i < q.size(); ++i) best = std::min(best, to_segment(q[i - 1], q[i]));
  if (polyline.closed) best = std::min(best, to_segment(q.back(), q.front()));
  return best;
}

}  // namespace kevrale::test
