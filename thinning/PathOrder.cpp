#include "thinning/PathOrder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

namespace kevrale {

namespace {

PixelPoint EndOf(const PixelPolyline& p) {
  return p.closed ? p.points.front() : p.points.back();
}

double Distance(PixelPoint a, PixelPoint b) {
  return std::hypot(double(a.x) - b.x, double(a.y) - b.y);
}

// Exact for pixel positions, and fast to compare.
int64_t SquaredDistance(PixelPoint a, PixelPoint b) {
  const int64_t dx = int64_t(a.x) - b.x, dy = int64_t(a.y) - b.y;
  return dx * dx + dy * dy;
}

// The ends at which the polylines not yet drawn can be entered, in a grid
// of square cells, so that the nearest one is found by looking at the cells
// around the pen, ring by ring, instead of at every polyline.
class EndGrid {
 public:
  // Everything the search needs of a polyline is in its ends, so that
  // it never reads the polylines themselves.
  struct End {
    uint32_t polyline;
    bool last;     // the last point rather than the first
    uint8_t ends;  // how many ends the polyline has in the grid: 1 or 2
    PixelPoint at;
    PixelPoint exit;  // where the pen ends when it enters here
  };

  explicit EndGrid(std::vector<End> ends) { Build(std::move(ends)); }

  bool Empty() const { return live_ == 0; }

  // The nearest end of a polyline not yet taken; nothing when none is left.
  std::optional<End> Nearest(PixelPoint pen, const std::vector<char>& taken) {
    // Rebuilt smaller once most ends are gone, so that the rings around
    // the pen do not cross cell after empty cell.
    if (live_ * 16 < count_.size() && count_.size() > 64) {
      std::vector<End> left;
      for (size_t c = 0; c < count_.size(); ++c)
        for (uint32_t i = start_[c]; i < start_[c] + count_[c]; ++i)
          if (!taken[ends_[i].polyline]) left.push_back(ends_[i]);
      Build(std::move(left));
    }
    const int cx = std::clamp(int(std::floor((pen.x - x0_) / cell_)), 0, columns_ - 1);
    const int cy = std::clamp(int(std::floor((pen.y - y0_) / cell_)), 0, rows_ - 1);
    // How near to the pen an end outside rings 0..r-1 can lie: the gap
    // between the pen and the nearest side of the square those rings fill.
    const auto beyond = [&](int r) {
      const double gap =
          std::min({pen.x - (x0_ + (cx - r + 1) * cell_), x0_ + (cx + r) * cell_ - pen.x,
                    pen.y - (y0_ + (cy - r + 1) * cell_), y0_ + (cy + r) * cell_ - pen.y});
      return gap > 0 ? gap * gap : 0.0;
    };
    int64_t best = std::numeric_limits<int64_t>::max();
    End found{};
    const int rings = std::max(columns_, rows_);
    for (int r = 0; r <= rings; ++r) {
      // Strictly nearer only: one just as near could still win a tie.
      if (r > 0 && double(best) < beyond(r)) break;
      for (int y = cy - r; y <= cy + r; ++y) {
        if (y < 0 || y >= rows_) continue;
        const bool edge_row = y == cy - r || y == cy + r;
        for (int x = cx - r; x <= cx + r; x += edge_row ? 1 : 2 * std::max(r, 1)) {
          if (x >= 0 && x < columns_)
            Visit(size_t(y) * size_t(columns_) + size_t(x), pen, taken, best, found);
        }
      }
    }
    if (best == std::numeric_limits<int64_t>::max()) return std::nullopt;
    return found;
  }

  // The ends of a polyline just taken gone from the count.
  void Taken(int ends) { live_ -= size_t(ends); }

 private:
  void Build(std::vector<End> ends) {
    live_ = ends.size();
    int minx = 0, miny = 0, maxx = 0, maxy = 0;
    if (!ends.empty()) {
      minx = maxx = ends[0].at.x;
      miny = maxy = ends[0].at.y;
    }
    for (const End& e : ends) {
      minx = std::min(minx, e.at.x);
      maxx = std::max(maxx, e.at.x);
      miny = std::min(miny, e.at.y);
      maxy = std::max(maxy, e.at.y);
    }
    const double w = double(maxx) - minx + 1, h = double(maxy) - miny + 1;
    // About two ends a cell.
    cell_ = std::max(1.0, std::sqrt(w * h / std::max<double>(1, double(ends.size()) / 2)));
    x0_ = minx;
    y0_ = miny;
    columns_ = std::max(1, int(std::ceil(w / cell_)));
    rows_ = std::max(1, int(std::ceil(h / cell_)));
    const size_t cells = size_t(columns_) * size_t(rows_);
    start_.assign(cells + 1, 0);
    count_.assign(cells, 0);
    const auto cell_of = [&](PixelPoint p) {
      const int x = std::min(columns_ - 1, int((p.x - x0_) / cell_));
      const int y = std::min(rows_ - 1, int((p.y - y0_) / cell_));
      return size_t(y) * size_t(columns_) + size_t(x);
    };
    for (const End& e : ends) ++start_[cell_of(e.at) + 1];
    for (size_t c = 0; c < cells; ++c) start_[c + 1] += start_[c];
    ends_.resize(ends.size());
    for (const End& e : ends) {
      const size_t c = cell_of(e.at);
      ends_[start_[c] + count_[c]++] = e;
    }
  }

  void Visit(size_t cell, PixelPoint pen, const std::vector<char>& taken, int64_t& best,
             End& found) {
    uint32_t& n = count_[cell];
    for (uint32_t i = start_[cell]; i < start_[cell] + n;) {
      const End& e = ends_[i];
      if (taken[e.polyline]) {
        // Dropped for good: swap in the cell's last end.
        ends_[i] = ends_[start_[cell] + --n];
        continue;
      }
      const int64_t d = SquaredDistance(pen, e.at);
      if (d < best || (d == best && (e.polyline < found.polyline ||
                                     (e.polyline == found.polyline && !e.last)))) {
        best = d;
        found = e;
      }
      ++i;
    }
  }

  std::vector<End> ends_;
  std::vector<uint32_t> start_;
  std::vector<uint32_t> count_;
  size_t live_ = 0;
  double cell_ = 1;
  int x0_ = 0, y0_ = 0, columns_ = 1, rows_ = 1;
};

}  // namespace

double PenTravel(const std::vector<PixelPolyline>& polylines) {
  double travel = 0;
  PixelPoint pen{0, 0};
  for (const PixelPolyline& p : polylines) {
    if (p.points.empty()) continue;
    travel += Distance(pen, p.points.front());
    pen = EndOf(p);
  }
  return travel;
}

void OrderForPen(std::vector<PixelPolyline>& polylines) {
  std::vector<EndGrid::End> ends;
  for (size_t i = 0; i < polylines.size(); ++i) {
    const PixelPolyline& p = polylines[i];
    if (p.points.empty()) continue;
    const PixelPoint first = p.points.front(), last = p.points.back();
    if (p.closed || p.points.size() == 1) {
      ends.push_back({uint32_t(i), false, 1, first, first});
    } else {
      ends.push_back({uint32_t(i), false, 2, first, last});
      ends.push_back({uint32_t(i), true, 2, last, first});
    }
  }
  if (ends.empty()) return;
  EndGrid grid(std::move(ends));
  std::vector<char> taken(polylines.size(), 0);
  std::vector<std::pair<uint32_t, bool>> order;  // polyline, entered at its last point
  order.reserve(polylines.size());
  PixelPoint pen{0, 0};
  while (!grid.Empty()) {
    const std::optional<EndGrid::End> nearest = grid.Nearest(pen, taken);
    if (!nearest) break;
    taken[nearest->polyline] = 1;
    grid.Taken(nearest->ends);
    order.push_back({nearest->polyline, nearest->last});
    pen = nearest->exit;
  }
  std::vector<PixelPolyline> ordered;
  ordered.reserve(polylines.size());
  for (const auto& [index, reversed] : order) {
    PixelPolyline& p = polylines[index];
    if (reversed) std::reverse(p.points.begin(), p.points.end());
    ordered.push_back(std::move(p));
  }
  // Polylines without points are drawn as nothing; they go last.
  for (size_t i = 0; i < polylines.size(); ++i)
    if (!taken[i]) ordered.push_back(std::move(polylines[i]));
  polylines = std::move(ordered);
}

}  // namespace kevrale
