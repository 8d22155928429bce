// Removal of spurs: the short side branches that noise on the edge of a
// stroke leaves on its skeleton.
#pragma once

#include <cstddef>

#include "platform/Color.h"
#include "thinning/TargetRule.h"

namespace kevrale {

class TBitmap;

// Removes, in one round, every branch of the pixels that `rule` counts as
// the target colour (see SkeletonGraph) that runs from an end point to a
// junction and has fewer than `shorter_than` pixels, the junction not
// counted. The branches are all found first, so removing one never makes
// another one a branch. Their pixels are painted as the thinning run paints
// the pixels it removes: the surround colour, opaque, or fully transparent
// with a transparent surround (a 24-bit picture then becomes 32-bit). The
// junction stays. A lone pixel, and a stroke without a junction, stay
// whatever their length. Returns the number of pixels painted.
size_t PruneSpurs(TBitmap& bitmap, const TargetRule& rule, TColor surround,
                  bool transparent_surround, int shorter_than);

}  // namespace kevrale
