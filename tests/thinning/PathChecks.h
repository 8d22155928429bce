// Checks of traced paths against the pixels they were traced from, written
// without the tracer's graph: straight runs expanded pixel by pixel, and the
// target pixels read straight from the bitmap.
#pragma once

#include <string>
#include <vector>

#include "picture/PixelPolyline.h"
#include "picture/TBitmap.h"

namespace kevrale::test {

// The pixels of a polyline from point to point (a closed one back to its
// first point, which is not repeated). Empty, with `problem` set, when two
// consecutive points are not joined by a run of pixels in one of the eight
// directions.
std::vector<PixelPoint> ExpandRuns(const PixelPolyline& polyline, std::string& problem);

// Empty when the paths pass through exactly the target pixels of `bitmap`
// (alpha 0 of a 32-bit pixel is never the target), every segment is a
// straight run of consecutive pixels, no step between two pixels is drawn
// twice, and every path is a whole chain: its inner pixels have two drawn
// neighbours and the ends of an open path do not. With `merged`, also that
// no point lies inside a straight run. Otherwise, what is wrong. With a
// tolerance, a target pixel is one whose every channel lies within it of
// the target's.
std::string PathProblem(const TBitmap& bitmap, TColor target,
                        const std::vector<PixelPolyline>& paths, bool merged = true,
                        int tolerance = 0);

// The distance from a point to a polyline (a closed one with its closing
// segment).
double DistanceToPolyline(PixelPoint p, const PixelPolyline& polyline);

}  // namespace kevrale::test
