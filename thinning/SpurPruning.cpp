#include "thinning/SpurPruning.h"

#include <bit>
#include <vector>

#include "picture/TBitmap.h"
#include "thinning/SkeletonGraph.h"

namespace kevrale {

size_t PruneSpurs(TBitmap& bitmap, const TargetRule& rule, TColor surround,
                  bool transparent_surround, int shorter_than) {
  if (shorter_than <= 1) return 0;  // no branch has fewer than one pixel
  const SkeletonGraph graph(bitmap, rule);
  std::vector<size_t> doomed;
  std::vector<size_t> branch;
  for (size_t end = 0; end < graph.Size(); ++end) {
    if (graph.Degree(end) != 1) continue;
    // Along the chain from the end point until a node that is not inside
    // a chain; only a long enough walk needs to go on.
    branch.assign(1, end);
    size_t node = end;
    int direction = std::countr_zero(graph.Links(end));
    for (;;) {
      const size_t next = graph.Neighbour(node, direction);
      if (graph.Degree(next) != 2) {
        // A junction ends a branch; another end point ends a stroke.
        if (graph.Degree(next) >= 3) doomed.insert(doomed.end(), branch.begin(), branch.end());
        break;
      }
      if (int(branch.size()) + 1 >= shorter_than) break;  // long enough to stay
      const int back = SkeletonGraph::Opposite(direction);
      direction = std::countr_zero(uint8_t(graph.Links(next) & ~(1u << back)));
      branch.push_back(next);
      node = next;
    }
  }
  if (doomed.empty()) return 0;
  if (transparent_surround) bitmap.SetPixelFormat(TPixelFormat::pf32bit);
  const int bpp = bitmap.BytesPerPixel();
  for (const size_t node : doomed) {
    const PixelPoint p = graph.Point(node);
    uint8_t* pixel = bitmap.ScanLine(p.y) + size_t(p.x) * size_t(bpp);
    pixel[0] = GetBValue(surround);
    pixel[1] = GetGValue(surround);
    pixel[2] = GetRValue(surround);
    if (bpp == 4) pixel[3] = transparent_surround ? 0 : 255;
  }
  return doomed.size();
}

}  // namespace kevrale
