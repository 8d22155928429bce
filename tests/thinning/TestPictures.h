// Pictures for the thinning tests: drawn as text, or made at random, and
// compared pixel for pixel.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "picture/TBitmap.h"
#include "picture/TPicture.h"
#include "thinning/ThinningEngine.h"

namespace kevrale::test {

// The colours of the drawn pictures: '#' target, '.' background, 'r'
// surround, 'o' a colour one step away from the target.
constexpr TColor kTarget = clBlack;
constexpr TColor kSurround = RGB(255, 0, 0);
constexpr TColor kBackground = clWhite;
constexpr TColor kNearTarget = RGB(0, 0, 1);

// A 24-bit bitmap drawn from rows of text, all of one length.
TBitmap BitmapOf(const std::vector<std::string>& rows);
// The rows of text that a bitmap reads as; '?' for any other colour.
std::vector<std::string> RowsOf(const TBitmap& bitmap);

// A bitmap of the background colour, with `draw` run on it.
TBitmap Blank(int width, int height, TPixelFormat format = TPixelFormat::pf24bit);
void FillRect(TBitmap& bitmap, int x0, int y0, int x1, int y1, TColor color);  // inclusive

// Random content: each pixel the target with probability `density`,
// otherwise background (or, with `mix`, now and then another colour,
// the surround colour among them).
TBitmap Noise(int width, int height, double density, std::mt19937& rng, bool mix = false,
              TPixelFormat format = TPixelFormat::pf24bit);
// Thick straight strokes, capsule-shaped, widths from 1 to `max_width`.
void DrawStrokes(TBitmap& bitmap, int count, int max_width, std::mt19937& rng);
// Filled discs and ellipses of radius up to `max_radius`.
void DrawBlobs(TBitmap& bitmap, int count, int max_radius, std::mt19937& rng);

// A scan-like picture: strokes of `ink` whose edges blend into a light,
// uneven paper, every channel of every pixel shifted by up to `noise`.
TBitmap AntiAliased(int width, int height, TColor ink, int strokes, int noise, std::mt19937& rng,
                    TPixelFormat format = TPixelFormat::pf24bit);

// Runs the engine on a copy of `input` held by a picture; the result.
TBitmap Thinned(const TBitmap& input, TColor target = kTarget, TColor surround = kSurround,
                const ThinningOptions& options = {});
// The same with the plain model.
TBitmap ReferenceThinned(const TBitmap& input, TColor target = kTarget, TColor surround = kSurround,
                         const ThinningOptions& options = {});

// Empty when both bitmaps hold the same pixels (all four bytes of a 32-bit
// pixel), else where and how they first differ.
std::string Difference(const TBitmap& expected, const TBitmap& actual);

}  // namespace kevrale::test
