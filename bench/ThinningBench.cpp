// The thinning engine on generated pictures, in megapixels per second,
// beside the engine's earlier row ring (Baseline/...) on the same pictures
// in the same run. Each iteration thins a fresh copy; making the copy is
// not timed. The benchmarks of SkeletonBench.cpp (tracing, SVG, pruning)
// run after them.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "BaselineRowRing.h"
#include "BenchImages.h"
#include "SkeletonBench.h"
#include "picture/TPicture.h"
#include "thinning/ThinningEngine.h"
#include "thinning/ThinningMask.h"
#include "thinning/ThinningRows.h"

namespace kevrale::bench {
namespace {

const TBitmap& Image(const ImageRecipe& recipe) {
  static std::map<std::string, TBitmap> cache;
  auto it = cache.find(recipe.name);
  if (it == cache.end()) it = cache.emplace(recipe.name, MakeImage(recipe)).first;
  return it->second;
}

void Report(benchmark::State& state, const TBitmap& source) {
  int64_t ink = 0;
  for (int y = 0; y < source.Height(); ++y)
    for (int x = 0; x < source.Width(); ++x) ink += source.Pixel(x, y) == clBlack;
  const double pixels = double(source.Width()) * double(source.Height());
  state.counters["Mpx/s"] =
      benchmark::Counter(pixels * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
  state.counters["ink%"] = 100.0 * double(ink) / pixels;
}

// A figure is worth nothing if the two engines disagree: compare once per
// picture before timing it.
void CheckSameResult(const ImageRecipe& recipe) {
  static std::set<std::string> checked;
  if (!checked.insert(recipe.name).second) return;
  TBitmap expected(Image(recipe));
  BaselineThinning(expected, clBlack, clWhite);
  TPicture picture;
  picture.SetGraphic(std::make_unique<TBitmap>(Image(recipe)));
  if (RunThinning(picture, clBlack, clWhite) != ThinningResult::Thinned) std::abort();
  if (std::memcmp(expected.Bits(), picture.Bitmap().Bits(), expected.BitsSize()) != 0) {
    std::fprintf(stderr, "%s: the engine and the baseline give different pictures\n",
                 recipe.name.c_str());
    std::exit(1);
  }
}

void Thin(benchmark::State& state, const ImageRecipe& recipe, ThinningOptions options) {
  CheckSameResult(recipe);
  const TBitmap& source = Image(recipe);
  TPicture picture;
  for (auto _ : state) {
    state.PauseTiming();
    picture.SetGraphic(std::make_unique<TBitmap>(source));
    state.ResumeTiming();
    benchmark::DoNotOptimize(RunThinning(picture, clBlack, clWhite, options));
    benchmark::ClobberMemory();
  }
  Report(state, source);
}

// The rows of a bitmap read only, to count the sweeps that `all` takes.
class ReadRows final : public ThinningRows {
 public:
  explicit ReadRows(TBitmap& bitmap) : bitmap_(bitmap) {}
  SweepRow Load(int y) override { return {bitmap_.ScanLine(y), bitmap_.BytesPerPixel()}; }
  SweepRow Output(int, bool) override { return {}; }
  void Done(int, bool) override {}

 private:
  TBitmap& bitmap_;
};

// Repeated sweeps, beside one sweep of the same picture: "sweeps" is how
// many ran (for all: until one removed nothing, that one included).
void Sweeps(benchmark::State& state, const ImageRecipe& recipe, int sweeps) {
  Thin(state, recipe, ThinningOptions{.sweeps = sweeps});
  TBitmap copy(Image(recipe));
  ReadRows rows(copy);
  const ThinningOptions options{.sweeps = sweeps};
  state.counters["sweeps"] =
      ThinsInTwoReadings(options, copy.Height())
          ? ThinningMask(rows, copy.Width(), copy.Height(), clBlack, options, false).Sweeps()
          : sweeps;
}

void Baseline(benchmark::State& state, const ImageRecipe& recipe) {
  const TBitmap& source = Image(recipe);
  for (auto _ : state) {
    state.PauseTiming();
    TBitmap bitmap(source);
    state.ResumeTiming();
    BaselineThinning(bitmap, clBlack, clWhite);
    benchmark::ClobberMemory();
  }
  Report(state, source);
}

// The standard pictures, then a matrix on 2048 x 2048 line art: stroke
// widths x ink share, and the 32-bit pixel format. Each picture runs with
// today's engine and the baseline one after the other.
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
  for (const ImageRecipe& r : recipes) {
    benchmark::RegisterBenchmark(("Thin/" + r.name).c_str(), Thin, r, ThinningOptions{})
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0);
    benchmark::RegisterBenchmark(("Baseline/" + r.name).c_str(), Baseline, r)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0);
  }
  // The options' costs: near shades of the line colour, and a transparent
  // surround that turns the 24-bit picture into a 32-bit one.
  for (const char* name : {"lineart-4k", "colour-mix"}) {
    const ImageRecipe& r = *FindImage(name);
    benchmark::RegisterBenchmark(("Thin/" + r.name + "/tolerance8").c_str(), Thin, r,
                                 ThinningOptions{.tolerance = 8})
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0);
  }
  // Repeated sweeps: on line art a second sweep removes nothing; the bars
  // up to 60 pixels thick need two.
  for (const char* name : {"lineart-4k", "thick-bars"})
    for (const int sweeps : {1, 2, 3, kSweepsAll}) {
      const std::string count = sweeps == kSweepsAll ? "all" : std::to_string(sweeps);
      benchmark::RegisterBenchmark(("Sweeps/" + std::string(name) + "/" + count).c_str(), Sweeps,
                                   *FindImage(name), sweeps)
          ->Unit(benchmark::kMillisecond)
          ->MinTime(1.0);
    }
  benchmark::RegisterBenchmark("Thin/lineart-4k/transparent", Thin, *FindImage("lineart-4k"),
                               ThinningOptions{.transparent_surround = true})
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
