// Deterministic pictures for the benchmarks: black line work (the target
// colour) on white or on a full-colour background, drawn from a fixed seed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture/TBitmap.h"

namespace kevrale::bench {

enum class Background { kWhite, kColour };
enum class Strokes { kLineArt, kBars };

struct ImageRecipe {
  std::string name;
  int width;
  int height;
  Strokes strokes;
  Background background;
  double ink;      // share of the pixels in the target colour
  int min_stroke;  // stroke widths in pixels (bars: thickness)
  int max_stroke;
  TPixelFormat format = TPixelFormat::pf24bit;
};

// The pictures that the engine benchmark and the CLI benchmark share:
// lineart-4k, wide-12500, thick-bars, colour-mix.
const std::vector<ImageRecipe>& StandardImages();
// Pictures for the CLI's memory only, written when named: tall-20000, a
// 12500 x 20000 line art (750 MB as a BMP file).
const std::vector<ImageRecipe>& LargeImages();
// One of either list by its name; null when there is none.
const ImageRecipe* FindImage(const std::string& name);

// Draws a picture. Strokes stay 16 pixels away from the edges.
TBitmap MakeImage(const ImageRecipe& recipe);

}  // namespace kevrale::bench
