// The order in which a pen draws the polylines: greedily the nearest one
// next, entered at whichever end lies nearer (an open polyline is reversed
// when its last point is the nearer end). The pen starts at (0, 0).
#pragma once

#include <vector>

#include "picture/PixelPolyline.h"

namespace kevrale {

// The distance the pen travels lifted: from (0, 0) to the first point of
// the first polyline, and from the end of each polyline (a closed one ends
// where it began) to the start of the next.
double PenTravel(const std::vector<PixelPolyline>& polylines);

// Reorders (and reverses) the polylines to shorten the pen's travel.
void OrderForPen(std::vector<PixelPolyline>& polylines);

}  // namespace kevrale
