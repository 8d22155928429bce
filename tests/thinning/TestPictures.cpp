#include "TestPictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "ReferenceThinning.h"

namespace kevrale::test {

TBitmap BitmapOf(const std::vector<std::string>& rows) {
  const int height = int(rows.size());
  const int width = height == 0 ? 0 : int(rows[0].size());
  TBitmap bitmap = Blank(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      switch (rows[size_t(y)][size_t(x)]) {
        case '#':
          bitmap.SetPixel(x, y, kTarget);
          break;
        case 'r':
          bitmap.SetPixel(x, y, kSurround);
          break;
        case 'o':
          bitmap.SetPixel(x, y, kNearTarget);
          break;
        default:
          break;
      }
    }
  return bitmap;
}

namespace {

char GlyphOf(TColor c) {
  if (c == kTarget) return '#';
  if (c == kSurround) return 'r';
  if (c == kBackground) return '.';
  if (c == kNearTarget) return 'o';
  return '?';
}

}  // namespace

std::vector<std::string> RowsOf(const TBitmap& bitmap) {
  std::vector<std::string> rows;
  for (int y = 0; y < bitmap.Height(); ++y) {
    std::string row;
    for (int x = 0; x < bitmap.Width(); ++x) row += GlyphOf(bitmap.Pixel(x, y));
    rows.push_back(row);
  }
  return rows;
}

TBitmap Blank(int width, int height, TPixelFormat format) {
  TBitmap bitmap(width, height, format);
  FillRect(bitmap, 0, 0, width - 1, height - 1, kBackground);
  return bitmap;
}

void FillRect(TBitmap& bitmap, int x0, int y0, int x1, int y1, TColor color) {
  for (int y = std::max(y0, 0); y <= std::min(y1, bitmap.Height() - 1); ++y)
    for (int x = std::max(x0, 0); x <= std::min(x1, bitmap.Width() - 1); ++x)
      bitmap.SetPixel(x, y, color);
}

TBitmap Noise(int width, int height, double density, std::mt19937& rng, bool mix,
              TPixelFormat format) {
  TBitmap bitmap = Blank(width, height, format);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const TColor others[] = {kNearTarget, kSurround, RGB(0, 1, 0), RGB(1, 0, 0), RGB(90, 160, 20)};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      if (unit(rng) < density)
        bitmap.SetPixel(x, y, kTarget);
      else if (mix && unit(rng) < 0.3)
        bitmap.SetPixel(x, y, others[rng() % 5]);
      if (format == TPixelFormat::pf32bit) bitmap.ScanLine(y)[x * 4 + 3] = uint8_t(rng());
    }
  return bitmap;
}

void DrawStrokes(TBitmap& bitmap, int count, int max_width, std::mt19937& rng) {
  const int w = bitmap.Width();
  const int h = bitmap.Height();
  std::uniform_real_distribution<double> ux(0, w), uy(0, h);
  for (int i = 0; i < count; ++i) {
    const double x0 = ux(rng), y0 = uy(rng), x1 = ux(rng), y1 = uy(rng);
    const double r = (1 + int(rng() % unsigned(max_width))) / 2.0;
    const double dx = x1 - x0, dy = y1 - y0, len2 = std::max(dx * dx + dy * dy, 1e-9);
    for (int y = int(std::min(y0, y1) - r) - 1; y <= int(std::max(y0, y1) + r) + 1; ++y)
      for (int x = int(std::min(x0, x1) - r) - 1; x <= int(std::max(x0, x1) + r) + 1; ++x) {
        if (!bitmap.Contains(x, y)) continue;
        const double t = std::clamp(((x - x0) * dx + (y - y0) * dy) / len2, 0.0, 1.0);
        const double ex = x - (x0 + t * dx), ey = y - (y0 + t * dy);
        if (ex * ex + ey * ey <= r * r) bitmap.SetPixel(x, y, kTarget);
      }
  }
}

void DrawBlobs(TBitmap& bitmap, int count, int max_radius, std::mt19937& rng) {
  std::uniform_real_distribution<double> ux(0, bitmap.Width()), uy(0, bitmap.Height());
  std::uniform_real_distribution<double> ur(1, max_radius);
  for (int i = 0; i < count; ++i) {
    const double cx = ux(rng), cy = uy(rng), rx = ur(rng), ry = ur(rng);
    for (int y = int(cy - ry) - 1; y <= int(cy + ry) + 1; ++y)
      for (int x = int(cx - rx) - 1; x <= int(cx + rx) + 1; ++x) {
        const double ex = (x - cx) / rx, ey = (y - cy) / ry;
        if (bitmap.Contains(x, y) && ex * ex + ey * ey <= 1.0) bitmap.SetPixel(x, y, kTarget);
      }
  }
}

TBitmap AntiAliased(int width, int height, TColor ink, int strokes, int noise, std::mt19937& rng,
                    TPixelFormat format) {
  TBitmap bitmap(width, height, format);
  // Coverage of each pixel by the strokes, 0..1.
  std::vector<double> cover(size_t(width) * size_t(height), 0.0);
  std::uniform_real_distribution<double> ux(0, width), uy(0, height), uw(1.0, 7.0);
  for (int i = 0; i < strokes; ++i) {
    const double x0 = ux(rng), y0 = uy(rng), x1 = ux(rng), y1 = uy(rng), r = uw(rng) / 2;
    const double dx = x1 - x0, dy = y1 - y0, len2 = std::max(dx * dx + dy * dy, 1e-9);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const double t = std::clamp(((x - x0) * dx + (y - y0) * dy) / len2, 0.0, 1.0);
        const double ex = x - (x0 + t * dx), ey = y - (y0 + t * dy);
        const double c = std::clamp(r + 0.5 - std::sqrt(ex * ex + ey * ey), 0.0, 1.0);
        double& at = cover[size_t(y) * size_t(width) + size_t(x)];
        at = std::max(at, c);
      }
  }
  std::uniform_int_distribution<int> shift(-noise, noise), paper(225, 250);
  const auto channel = [&](int ink_value, int paper_value, double c) {
    const int v = int(std::lround(c * ink_value + (1 - c) * paper_value)) + shift(rng);
    return uint8_t(std::clamp(v, 0, 255));
  };
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const double c = cover[size_t(y) * size_t(width) + size_t(x)];
      const int p = paper(rng);
      bitmap.SetPixel(x, y,
                      RGB(channel(GetRValue(ink), p, c), channel(GetGValue(ink), p, c),
                          channel(GetBValue(ink), p - 10, c)));
    }
  return bitmap;
}

TBitmap Thinned(const TBitmap& input, TColor target, TColor surround,
                const ThinningOptions& options) {
  TPicture picture;
  picture.SetGraphic(std::make_unique<TBitmap>(input));
  EXPECT_EQ(RunThinning(picture, target, surround, options), ThinningResult::Thinned);
  return picture.Bitmap();
}

TBitmap ReferenceThinned(const TBitmap& input, TColor target, TColor surround,
                         const ThinningOptions& options) {
  TPicture picture;
  picture.SetGraphic(std::make_unique<TBitmap>(input));
  EXPECT_EQ(ReferenceThinning(picture, target, surround, options), ThinningResult::Thinned);
  return picture.Bitmap();
}

std::string Difference(const TBitmap& expected, const TBitmap& actual) {
  if (expected.Width() != actual.Width() || expected.Height() != actual.Height() ||
      expected.BytesPerPixel() != actual.BytesPerPixel())
    return "sizes or pixel formats differ";
  const int bpp = expected.BytesPerPixel();
  for (int y = 0; y < expected.Height(); ++y) {
    const uint8_t* e = expected.ScanLine(y);
    const uint8_t* a = actual.ScanLine(y);
    if (std::memcmp(e, a, size_t(expected.Width()) * size_t(bpp)) == 0) continue;
    for (int x = 0; x < expected.Width(); ++x)
      if (std::memcmp(e + x * bpp, a + x * bpp, size_t(bpp)) != 0)
        return "first difference at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
  }
  return {};
}

}  // namespace kevrale::test
