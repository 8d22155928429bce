#include "BenchImages.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace kevrale::bench {

namespace {

constexpr int kMargin = 16;
constexpr double kPi = std::numbers::pi;

// A mask of the strokes, clipped to the picture less its margin, that
// counts its pixels as they are set.
class StrokeMask {
 public:
  StrokeMask(int width, int height)
      : width_(width), height_(height), bits_(size_t(width) * size_t(height), 0) {}

  double Coverage() const { return double(count_) / (double(width_) * double(height_)); }
  bool At(int x, int y) const { return bits_[size_t(y) * size_t(width_) + size_t(x)] != 0; }

  // A capsule: every pixel centre within width / 2 of the segment.
  void Segment(double x0, double y0, double x1, double y1, double width) {
    const double r = std::max(width, 1.0) / 2.0;
    const double dx = x1 - x0;
    const double dy = y1 - y0;
    const double len2 = std::max(dx * dx + dy * dy, 1e-12);
    const int ya = std::max(kMargin, int(std::floor(std::min(y0, y1) - r)));
    const int yb = std::min(height_ - kMargin - 1, int(std::ceil(std::max(y0, y1) + r)));
    const int xa = std::max(kMargin, int(std::floor(std::min(x0, x1) - r)));
    const int xb = std::min(width_ - kMargin - 1, int(std::ceil(std::max(x0, x1) + r)));
    for (int y = ya; y <= yb; ++y)
      for (int x = xa; x <= xb; ++x) {
        const double px = x + 0.5 - x0;
        const double py = y + 0.5 - y0;
        const double t = std::clamp((px * dx + py * dy) / len2, 0.0, 1.0);
        const double ex = px - t * dx;
        const double ey = py - t * dy;
        if (ex * ex + ey * ey <= r * r) Set(x, y);
      }
  }

  // An elliptic arc from angle a0 to a1 (radians) as a chain of capsules.
  void Arc(double cx, double cy, double rx, double ry, double a0, double a1, double width) {
    const int n = std::max(8, int((a1 - a0) * std::max(rx, ry) / 4.0));
    double px = cx + rx * std::cos(a0);
    double py = cy + ry * std::sin(a0);
    for (int i = 1; i <= n; ++i) {
      const double a = a0 + (a1 - a0) * i / n;
      const double qx = cx + rx * std::cos(a);
      const double qy = cy + ry * std::sin(a);
      Segment(px, py, qx, qy, width);
      px = qx;
      py = qy;
    }
  }

  // A filled rectangle of the given length and thickness, centred on
  // (cx, cy), its long side at angle `angle`.
  void Bar(double cx, double cy, double length, double thickness, double angle) {
    const double ux = std::cos(angle);
    const double uy = std::sin(angle);
    const double hl = length / 2;
    const double ht = thickness / 2;
    const double ex = std::abs(ux) * hl + std::abs(uy) * ht;
    const double ey = std::abs(uy) * hl + std::abs(ux) * ht;
    const int ya = std::max(kMargin, int(std::floor(cy - ey)));
    const int yb = std::min(height_ - kMargin - 1, int(std::ceil(cy + ey)));
    const int xa = std::max(kMargin, int(std::floor(cx - ex)));
    const int xb = std::min(width_ - kMargin - 1, int(std::ceil(cx + ex)));
    for (int y = ya; y <= yb; ++y)
      for (int x = xa; x <= xb; ++x) {
        const double px = x + 0.5 - cx;
        const double py = y + 0.5 - cy;
        if (std::abs(px * ux + py * uy) <= hl && std::abs(-px * uy + py * ux) <= ht) Set(x, y);
      }
  }

 private:
  void Set(int x, int y) {
    uint8_t& b = bits_[size_t(y) * size_t(width_) + size_t(x)];
    count_ += b == 0;
    b = 1;
  }

  int width_;
  int height_;
  std::vector<uint8_t> bits_;
  int64_t count_ = 0;
};

class Painter {
 public:
  Painter(const ImageRecipe& recipe, std::mt19937_64& rng)
      : r_(recipe), rng_(rng), mask_(recipe.width, recipe.height) {}

  StrokeMask& Draw() {
    while (mask_.Coverage() < r_.ink) {
      if (r_.strokes == Strokes::kBars) {
        DrawBar();
        continue;
      }
      const double pick = Uniform(0, 1);
      if (pick < 0.30)
        DrawLine();
      else if (pick < 0.50)
        DrawPolyline();
      else if (pick < 0.70)
        DrawArc(false);
      else if (pick < 0.80)
        DrawArc(true);
      else
        DrawWord();
    }
    return mask_;
  }

 private:
  double Uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng_); }
  int Integer(int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng_); }
  double Width() { return Integer(r_.min_stroke, r_.max_stroke); }
  double Short() const { return std::min(r_.width, r_.height); }

  void DrawLine() {
    const double x = Uniform(0, r_.width);
    const double y = Uniform(0, r_.height);
    const double a = Uniform(0, kPi);
    const double len = Uniform(40, std::max(41.0, std::min(700.0, 0.45 * Short())));
    mask_.Segment(x, y, x + len * std::cos(a), y + len * std::sin(a), Width());
  }

  void DrawPolyline() {
    double x = Uniform(0, r_.width);
    double y = Uniform(0, r_.height);
    double a = Uniform(0, 2 * kPi);
    const double w = Width();
    for (int i = Integer(3, 8); i > 0; --i) {
      a += Uniform(-1.4, 1.4);
      const double step = Uniform(30, 160);
      const double nx = x + step * std::cos(a);
      const double ny = y + step * std::sin(a);
      mask_.Segment(x, y, nx, ny, w);
      x = nx;
      y = ny;
    }
  }

  void DrawArc(bool whole) {
    const double cx = Uniform(0, r_.width);
    const double cy = Uniform(0, r_.height);
    const double rx = Uniform(15, std::max(16.0, std::min(300.0, 0.3 * Short())));
    const double ry = rx * Uniform(0.4, 1.6);
    const double a0 = Uniform(0, 2 * kPi);
    const double sweep = whole ? 2 * kPi : Uniform(0.7, 5.8);
    mask_.Arc(cx, cy, rx, ry, a0, a0 + sweep, Width());
  }

  // A run of made-up glyphs: strokes between points of a 4 x 4 lattice,
  // now and then a bowl, like a line of text in an unknown script.
  void DrawWord() {
    const double size = Uniform(16, 72);
    const double w = std::clamp(double(Integer(2, std::max(3, int(size) / 9))),
                                double(r_.min_stroke), double(r_.max_stroke));
    double x = Uniform(0, r_.width);
    const double y = Uniform(0, r_.height);
    for (int g = Integer(3, 10); g > 0; --g) {
      for (int s = Integer(2, 5); s > 0; --s) {
        if (Uniform(0, 1) < 0.25) {
          const double rad = size * Uniform(0.2, 0.5);
          const double a = Uniform(0, 2 * kPi);
          mask_.Arc(x + size * Uniform(0.3, 0.7), y + size * Uniform(0.3, 0.7), rad, rad, a,
                    a + Uniform(1.6, 5.2), w);
        } else {
          const double x0 = x + size * Integer(0, 3) / 3;
          const double y0 = y + size * Integer(0, 3) / 3;
          const double x1 = x + size * Integer(0, 3) / 3;
          const double y1 = y + size * Integer(0, 3) / 3;
          mask_.Segment(x0, y0, x1, y1, w);
        }
      }
      x += size * Uniform(1.1, 1.5);
    }
  }

  void DrawBar() {
    const double thickness = Integer(r_.min_stroke, r_.max_stroke);
    const double length =
        Uniform(100, std::max(101.0, std::min(1200.0, 0.8 * std::max(r_.width, r_.height))));
    const double angle =
        Uniform(0, 1) < 0.5 ? (Integer(0, 1) == 0 ? 0.0 : kPi / 2) : Uniform(0, kPi);
    mask_.Bar(Uniform(0, r_.width), Uniform(0, r_.height), length, thickness, angle);
  }

  const ImageRecipe& r_;
  std::mt19937_64& rng_;
  StrokeMask mask_;
};

uint8_t Clamp(double v) {
  return uint8_t(std::clamp(v, 1.0, 255.0));
}

// Gradient, noise and flat patches, never pure black; then strokes one step
// away from black that an exact-match thinner must leave alone.
void PaintColourBackground(TBitmap& bitmap, std::mt19937_64& rng) {
  const int w = bitmap.Width();
  const int h = bitmap.Height();
  std::uniform_int_distribution<int> noise(-48, 48);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double r = 255.0 * x / std::max(w - 1, 1) + noise(rng);
      const double g = 255.0 * y / std::max(h - 1, 1) + noise(rng);
      const double b = 127.5 + 127.5 * std::sin((x + y) / 97.0) + noise(rng);
      bitmap.SetPixel(x, y, RGB(Clamp(r), Clamp(g), Clamp(b)));
    }
  std::uniform_int_distribution<int> channel(1, 255);
  for (int i = 0; i < 40; ++i) {
    const int pw = std::uniform_int_distribution<int>(20, std::max(21, w / 4))(rng);
    const int ph = std::uniform_int_distribution<int>(20, std::max(21, h / 4))(rng);
    const int px = std::uniform_int_distribution<int>(0, std::max(0, w - pw))(rng);
    const int py = std::uniform_int_distribution<int>(0, std::max(0, h - ph))(rng);
    const TColor c = RGB(uint8_t(channel(rng)), uint8_t(channel(rng)), uint8_t(channel(rng)));
    for (int y = py; y < std::min(h, py + ph); ++y)
      for (int x = px; x < std::min(w, px + pw); ++x) bitmap.SetPixel(x, y, c);
  }
  const TColor shades[] = {RGB(0, 0, 1), RGB(1, 0, 0), RGB(0, 1, 0), RGB(1, 1, 1), RGB(2, 2, 2)};
  for (int i = 0; i < 60; ++i) {
    StrokeMask near(w, h);
    std::uniform_real_distribution<double> u(0, 1);
    const double x0 = u(rng) * w;
    const double y0 = u(rng) * h;
    const double a = u(rng) * kPi;
    const double len = 50 + u(rng) * 0.4 * std::min(w, h);
    const double x1 = x0 + len * std::cos(a);
    const double y1 = y0 + len * std::sin(a);
    near.Segment(x0, y0, x1, y1, 3 + double(rng() % 6));
    const int ya = std::max(0, int(std::min(y0, y1)) - 6);
    const int yb = std::min(h - 1, int(std::max(y0, y1)) + 6);
    const int xa = std::max(0, int(std::min(x0, x1)) - 6);
    const int xb = std::min(w - 1, int(std::max(x0, x1)) + 6);
    for (int y = ya; y <= yb; ++y)
      for (int x = xa; x <= xb; ++x)
        if (near.At(x, y)) bitmap.SetPixel(x, y, shades[i % 5]);
  }
}

}  // namespace

const std::vector<ImageRecipe>& StandardImages() {
  static const std::vector<ImageRecipe> images = {
      {"lineart-4k", 4096, 4096, Strokes::kLineArt, Background::kWhite, 0.10, 2, 12},
      {"wide-12500", 12500, 1600, Strokes::kLineArt, Background::kWhite, 0.10, 2, 12},
      {"thick-bars", 2048, 2048, Strokes::kBars, Background::kWhite, 0.22, 5, 60},
      {"colour-mix", 4096, 4096, Strokes::kLineArt, Background::kColour, 0.10, 2, 12},
  };
  return images;
}

const std::vector<ImageRecipe>& LargeImages() {
  static const std::vector<ImageRecipe> images = {
      {"tall-20000", 12500, 20000, Strokes::kLineArt, Background::kWhite, 0.10, 2, 12},
  };
  return images;
}

const ImageRecipe* FindImage(const std::string& name) {
  for (const auto* list : {&StandardImages(), &LargeImages()})
    for (const ImageRecipe& r : *list)
      if (r.name == name) return &r;
  return nullptr;
}

TBitmap MakeImage(const ImageRecipe& recipe) {
  // FNV-1a of the name: the same pictures on every machine and library.
  uint64_t seed = 14695981039346656037u;
  for (const char c : recipe.name) seed = (seed ^ uint8_t(c)) * 1099511628211u;
  std::mt19937_64 rng(seed ^ 20240611u);
  TBitmap bitmap(recipe.width, recipe.height, recipe.format);
  if (recipe.background == Background::kColour) {
    PaintColourBackground(bitmap, rng);
  } else {
    for (int y = 0; y < recipe.height; ++y)
      std::fill_n(bitmap.ScanLine(y), size_t(recipe.width) * size_t(bitmap.BytesPerPixel()), 0xFF);
  }
  Painter painter(recipe, rng);
  const StrokeMask& mask = painter.Draw();
  for (int y = 0; y < recipe.height; ++y)
    for (int x = 0; x < recipe.width; ++x)
      if (mask.At(x, y)) bitmap.SetPixel(x, y, clBlack);
  return bitmap;
}

}  // namespace kevrale::bench
