// Removal of spurs: the short side branches that noise on the edge of a
// stroke leaves on its skeleton.
#pragma once

#include <cstddef>

#include "platform/Color.h"

namespace kevrale {

class TBitmap;

// Removes, in one round, every branch of the target pixels (see
// SkeletonGraph) that runs from an end point to a junction and has fewer
// than `shorter_than` pixels, the junction not counted. The branches are
// all found first, so removing one never makes another one a branch. Their
// pixels are painted in the surround colour; the junction stays. A lone
// pixel, and a stroke without a junction, stay whatever their length.
// `tolerance` is the run's: the line pixels are the target colour within
// it. Returns the number of pixels painted.
size_t PruneSpurs(TBitmap& bitmap, TColor target, TColor surround, int shorter_than,
                  int tolerance = 0);

}  // namespace kevrale
