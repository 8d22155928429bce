// Douglas-Peucker simplification of a polyline: drops points as long as
// every point of the original line stays within the tolerance of the new
// one. The first and last points of an open polyline stay (on a traced
// skeleton those are its end points and junctions); a closed one keeps its
// first point and the point farthest from it.
#pragma once

#include "picture/PixelPolyline.h"

namespace kevrale {

// The points kept are points of the original, in their order.
void SimplifyPolyline(PixelPolyline& polyline, double tolerance);

// The distance from point p to the segment from a to b.
double DistanceToSegment(PixelPoint p, PixelPoint a, PixelPoint b);

}  // namespace kevrale
