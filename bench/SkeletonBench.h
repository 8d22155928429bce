// Benchmarks of what is done with a thinned picture: tracing its lines,
// writing them as SVG, pruning spurs.
#pragma once

namespace kevrale::bench {

// Registers them on the standard pictures, each thinned once beforehand.
void RegisterSkeletonBenchmarks();

}  // namespace kevrale::bench
