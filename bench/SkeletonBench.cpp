#include "SkeletonBench.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>
#include <memory>

#include "BenchImages.h"
#include "picture/TPicture.h"
#include "platform/Stream.h"
#include "thinning/PathOrder.h"
#include "thinning/SkeletonGraph.h"
#include "thinning/SkeletonSvg.h"
#include "thinning/SkeletonTrace.h"
#include "thinning/SpurPruning.h"
#include "thinning/ThinningEngine.h"

namespace kevrale::bench {
namespace {

// The picture after thinning, made once per picture.
const TBitmap& Skeleton(const ImageRecipe& recipe) {
  static std::map<std::string, TBitmap> cache;
  auto it = cache.find(recipe.name);
  if (it == cache.end()) {
    TPicture picture;
    picture.SetGraphic(std::make_unique<TBitmap>(MakeImage(recipe)));
    if (RunThinning(picture, clBlack, clWhite) != ThinningResult::Thinned) std::abort();
    it = cache.emplace(recipe.name, picture.Bitmap()).first;
  }
  return it->second;
}

void SetRate(benchmark::State& state, const TBitmap& b) {
  const double pixels = double(b.Width()) * double(b.Height());
  state.counters["Mpx/s"] =
      benchmark::Counter(pixels * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

// Reading the skeleton into its graph and tracing it exactly; with
// `order`, also ordering the paths for the pen: all that an SVG needs
// before it is written.
void Trace(benchmark::State& state, const ImageRecipe& recipe, bool order) {
  const TBitmap& skeleton = Skeleton(recipe);
  size_t graph_bytes = 0, path_bytes = 0, pixels = 0, paths = 0, points = 0;
  for (auto _ : state) {
    const SkeletonGraph graph(skeleton, TargetRule{.target = clBlack});
    std::vector<PixelPolyline> traced = TraceSkeleton(graph);
    if (order) OrderForPen(traced);
    benchmark::DoNotOptimize(traced.data());
    graph_bytes = graph.MemoryBytes();
    pixels = graph.Size();
    paths = traced.size();
    path_bytes = traced.capacity() * sizeof(PixelPolyline);
    points = 0;
    for (const PixelPolyline& p : traced) {
      points += p.points.size();
      path_bytes += p.points.capacity() * sizeof(PixelPoint);
    }
  }
  SetRate(state, skeleton);
  state.counters["skeleton px"] = double(pixels);
  state.counters["paths"] = double(paths);
  state.counters["points"] = double(points);
  state.counters["graph MB"] = double(graph_bytes) / 1e6;
  state.counters["paths MB"] = double(path_bytes) / 1e6;
}

// The whole SVG into memory: trace, order, write; with `simplify`, the
// paths simplified within that many pixels first.
void Svg(benchmark::State& state, const ImageRecipe& recipe, double simplify) {
  const TBitmap& skeleton = Skeleton(recipe);
  SvgOptions options;
  options.simplify = simplify;
  SkeletonPathStats stats;
  size_t bytes = 0;
  for (auto _ : state) {
    TMemoryStream out;
    WriteSkeletonSvg(skeleton, TargetRule{.target = clBlack}, options, out, &stats);
    bytes = size_t(out.Size());
    benchmark::DoNotOptimize(out.Memory());
  }
  SetRate(state, skeleton);
  state.counters["SVG MB"] = double(bytes) / 1e6;
  state.counters["points"] = double(stats.points);
  state.counters["travel before"] = stats.travel_before;
  state.counters["travel after"] = stats.travel_after;
}

// Pruning spurs shorter than 10 pixels from a fresh copy (not timed).
void Prune(benchmark::State& state, const ImageRecipe& recipe) {
  const TBitmap& skeleton = Skeleton(recipe);
  size_t removed = 0;
  for (auto _ : state) {
    state.PauseTiming();
    TBitmap copy = skeleton;
    state.ResumeTiming();
    removed = PruneSpurs(copy, TargetRule{.target = clBlack}, clWhite, false, 10);
    benchmark::ClobberMemory();
  }
  SetRate(state, skeleton);
  state.counters["removed px"] = double(removed);
}

}  // namespace

void RegisterSkeletonBenchmarks() {
  for (const ImageRecipe& r : StandardImages()) {
    benchmark::RegisterBenchmark(("Trace/" + r.name).c_str(), Trace, r, false)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0);
    benchmark::RegisterBenchmark(("Trace/" + r.name + "/ordered").c_str(), Trace, r, true)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0);
    benchmark::RegisterBenchmark(("Svg/" + r.name).c_str(), Svg, r, 0.0)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0);
    benchmark::RegisterBenchmark(("Svg/" + r.name + "/simplify1").c_str(), Svg, r, 1.0)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0);
    benchmark::RegisterBenchmark(("Prune/" + r.name).c_str(), Prune, r)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0);
  }
}

}  // namespace kevrale::bench
