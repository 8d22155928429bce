#include "thinning/SkeletonTrace.h"

#include <bit>

#include "thinning/SkeletonGraph.h"

namespace kevrale {

namespace {

class Tracer {
 public:
  explicit Tracer(const SkeletonGraph& graph) : graph_(graph), used_(graph.Size(), 0) {}

  std::vector<PixelPolyline> Run() {
    const size_t n = graph_.Size();
    // Chains from every end point and junction, then lone pixels in place.
    for (size_t node = 0; node < n; ++node) {
      const int degree = graph_.Degree(node);
      if (degree == 0) {
        paths_.push_back({{graph_.Point(node)}, false});
      } else if (degree != 2) {
        while (const uint8_t left = Unused(node)) Walk(node, std::countr_zero(left));
      }
    }
    // What is left are loops of pixels with two links each. The first node
    // of a loop in row order is its top-left pixel, always a corner.
    for (size_t node = 0; node < n; ++node)
      if (const uint8_t left = Unused(node)) Walk(node, std::countr_zero(left));
    return std::move(paths_);
  }

 private:
  uint8_t Unused(size_t node) const { return graph_.Links(node) & ~used_[node]; }

  // Follows the chain that leaves `start` in `direction` up to the next
  // node that is not inside a chain, or back to `start`.
  void Walk(size_t start, int direction) {
    PixelPolyline path;
    path.points.push_back(graph_.Point(start));
    int last_direction = -1;
    size_t node = start;
    for (;;) {
      used_[node] |= uint8_t(1u << direction);
      const size_t next = graph_.Neighbour(node, direction);
      const int back = SkeletonGraph::Opposite(direction);
      used_[next] |= uint8_t(1u << back);
      // A step in the direction of the one before extends the same run.
      if (direction == last_direction)
        path.points.back() = graph_.Point(next);
      else
        path.points.push_back(graph_.Point(next));
      last_direction = direction;
      node = next;
      if (node == start || graph_.Degree(node) != 2) break;
      direction = std::countr_zero(uint8_t(graph_.Links(node) & ~(1u << back)));
    }
    if (node == start) {
      // Back where it began: a loop, drawn closed without repeating its start.
      path.points.pop_back();
      path.closed = true;
    }
    paths_.push_back(std::move(path));
  }

  const SkeletonGraph& graph_;
  std::vector<uint8_t> used_;  // per node: the links already drawn
  std::vector<PixelPolyline> paths_;
};

}  // namespace

std::vector<PixelPolyline> TraceSkeleton(const SkeletonGraph& graph) {
  return Tracer(graph).Run();
}

}  // namespace kevrale
