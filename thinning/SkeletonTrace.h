// The centre lines of a skeleton as polylines. Every chain of the graph
// between two nodes that are not inside a chain (end points, junctions)
// becomes one open polyline; a loop with no such node becomes a closed one,
// starting at its top-left pixel; a pixel without neighbours becomes a
// polyline of one point. Each link is drawn exactly once, so the polylines
// pass through every target pixel and through nothing else; a junction
// pixel begins or ends each of its chains.
//
// Points are merged only along straight runs (horizontal, vertical or
// diagonal): between two consecutive points of a polyline lies a run of
// consecutive pixels in one of the eight directions.
#pragma once

#include <vector>

#include "picture/PixelPolyline.h"

namespace kevrale {

class SkeletonGraph;

std::vector<PixelPolyline> TraceSkeleton(const SkeletonGraph& graph);

}  // namespace kevrale
