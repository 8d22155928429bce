// The thinning engine on generated pictures, in megapixels per second.
// Each iteration thins a fresh copy; making the copy is not timed. The
// benchmarks of SkeletonBench.cpp (tracing, SVG, pruning) run after them.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>

#include "BenchImages.h"
#include "SkeletonBench.h"
#include "picture/TPicture.h"
#include "thinning/ThinningEngine.h"

namespace kevrale::bench {
namespace {

const TBitmap& Image(const ImageRecipe& recipe) {
  static std::map<std::string, TBitmap> cache;
  auto it = cache.find(recipe.name);
  if (it == cache.end()) it = cache.emplace(recipe.name, MakeImage(recipe)).first;
  return it->second;
}

void Thin(benchmark::State& state, const ImageRecipe& recipe) {
  const TBitmap& source = Image(recipe);
  int64_t ink = 0;
  for (int y = 0; y < source.Height(); ++y)
    for (int x = 0; x < source.Width(); ++x) ink += source.Pixel(x, y) == clBlack;
  TPicture picture;
  const ThinningHooks hooks;
  for (auto _ : state) {
    state.PauseTiming();
    picture.SetGraphic(std::make_unique<TBitmap>(source));
    state.ResumeTiming();
    RunThinning(picture, clBlack, clWhite, hooks);
    benchmark::ClobberMemory();
  }
  const double pixels = double(source.Width()) * double(source.Height());
  state.counters["Mpx/s"] =
      benchmark::Counter(pixels * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
  state.counters["ink%"] = 100.0 * double(ink) / pixels;
}

// The standard pictures, then a matrix on 2048 x 2048 line art: stroke
// widths x ink share, and the 32-bit pixel format.
void RegisterAll() {
  static std::vector<ImageRecipe> recipes;
  for (const ImageRecipe& r : StandardImages()) recipes.push_back(r);
  for (const auto& [lo, hi] : {std::pair{2, 3}, std::pair{4, 6}, std::pair{8, 12}})
    for (const double ink : {0.05, 0.10, 0.20}) {
      recipes.push_back({"lineart-2k/w" + std::to_string(lo) + "-" + std::to_string(hi) + "/ink" +
                             std::to_string(int(ink * 100)),
                         2048, 2048, Strokes::kLineArt, Background::kWhite, ink, lo, hi});
    }
  ImageRecipe rgba = *FindImage("lineart-4k");
  rgba.name = "lineart-4k/32bit";
  rgba.format = TPixelFormat::pf32bit;
  recipes.push_back(rgba);
  for (const ImageRecipe& r : recipes)
    benchmark::RegisterBenchmark(("Thin/" + r.name).c_str(), Thin, r)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0);
}

}  // namespace
}  // namespace kevrale::bench

int main(int argc, char** argv) {
  kevrale::bench::RegisterAll();
  kevrale::bench::RegisterSkeletonBenchmarks();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
