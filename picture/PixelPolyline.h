// A line drawn through pixel centres: the points are pixel positions, in
// drawing order. A closed polyline returns from its last point to its first.
#pragma once

#include <vector>

namespace kevrale {

struct PixelPoint {
  int x = 0;
  int y = 0;
  friend bool operator==(const PixelPoint&, const PixelPoint&) = default;
};

struct PixelPolyline {
  std::vector<PixelPoint> points;
  bool closed = false;
};

}  // namespace kevrale
