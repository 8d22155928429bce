// Writes polylines as an SVG document of the picture's size: one stroked
// path per polyline, in the given order, through the centres of its pixels
// (pixel (x, y) is the point (x + 0.5, y + 0.5)).
#pragma once

#include <string>
#include <vector>

#include "picture/PixelPolyline.h"
#include "platform/Color.h"

namespace kevrale {

class TStream;

// `stroke` is 0x00BBGGRR and is written as #rrggbb. A polyline of one point
// becomes a dot; one without points is left out.
void WriteSvg(TStream& stream, int width, int height, TColor stroke,
              const std::vector<PixelPolyline>& polylines);

// The path data of one polyline: an absolute start, then relative steps
// ("M12.5 3.5h4l1 1v6z").
std::string SvgPathData(const PixelPolyline& polyline);

}  // namespace kevrale
