// Repeated sweeps against the plain whole-picture model applied again and
// again, on shapes wider than one sweep can thin: through the picture's
// own rows and through rows handed in and out one at a time, chained and
// in two readings.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ReferenceThinning.h"
#include "TestPictures.h"
#include "thinning/ThinningMask.h"
#include "thinning/ThinningRows.h"

namespace kevrale::test {
namespace {

void FillDisc(TBitmap& bitmap, double cx, double cy, double r, TColor color) {
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x)
      if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) bitmap.SetPixel(x, y, color);
}

// Bars 40, 80 and 150 pixels thick, lying and standing.
TBitmap Bars() {
  TBitmap b = Blank(200, 960);
  FillRect(b, 10, 20, 189, 59, kTarget);
  FillRect(b, 10, 100, 189, 179, kTarget);
  FillRect(b, 10, 230, 189, 379, kTarget);
  FillRect(b, 20, 420, 59, 940, kTarget);
  FillRect(b, 100, 420, 179, 940, kTarget);
  return b;
}

// Discs, and a ring 50 pixels wide.
TBitmap DiscsAndRing() {
  TBitmap b = Blank(240, 960);
  FillDisc(b, 120, 90, 80, kTarget);
  FillDisc(b, 60, 260, 45, kTarget);
  FillDisc(b, 120, 600, 110, kTarget);
  FillDisc(b, 120, 600, 60, kBackground);
  FillDisc(b, 170, 860, 70, kTarget);
  return b;
}

// One filled blob over most of the picture, touching all four edges, with
// a few holes.
TBitmap EdgeBlob() {
  TBitmap b = Blank(180, 330);
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const double ex = (x - 90) / 110.0, ey = (y - 165) / 190.0;
      if (ex * ex + ey * ey <= 1.0) b.SetPixel(x, y, kTarget);
    }
  FillDisc(b, 60, 100, 12, kBackground);
  FillDisc(b, 120, 240, 20, kBackground);
  return b;
}

struct Shape {
  std::string name;
  TBitmap bitmap;
};

std::vector<Shape> Shapes() {
  return {{"bars", Bars()}, {"discs and ring", DiscsAndRing()}, {"blob at the edges", EdgeBlob()}};
}

TBitmap Model(const TBitmap& input, const ThinningOptions& options, TColor target = kTarget,
              TColor surround = kSurround, int* sweeps = nullptr) {
  TPicture picture;
  picture.SetGraphic(std::make_unique<TBitmap>(input));
  const int ran = WholeImageThinning(picture, target, surround, options);
  if (sweeps != nullptr) *sweeps = ran;
  return picture.Bitmap();
}

// Rows handed to the sweeps one at a time from a copy of the source, and
// taken back into a result, checking the order that ThinRows promises and
// how many rows it holds.
class HandedRows final : public ThinningRows {
 public:
  HandedRows(const TBitmap& source, int most_held)
      : source_(source), result_(source), most_held_(most_held) {}

  SweepRow Load(int y) override {
    if (y == 0 && next_load_ == source_.Height() && next_out_ == 0) {
      ++readings_;  // the second reading starts
      next_load_ = 0;
    }
    EXPECT_EQ(y, next_load_++);
    std::vector<uint8_t>& row = held_[y];
    row.assign(source_.ScanLine(y), source_.ScanLine(y) + source_.Stride());
    if (int(held_.size()) > largest_held_) largest_held_ = int(held_.size());
    EXPECT_LE(int(held_.size()), most_held_ + 1) << "row " << y;
    return {row.data(), source_.BytesPerPixel()};
  }
  SweepRow Output(int y, bool) override {
    EXPECT_EQ(y, next_out_);
    EXPECT_EQ(held_.count(y), 1u);
    output_ = true;
    return {held_[y].data(), source_.BytesPerPixel()};
  }
  void Done(int y, bool) override {
    EXPECT_EQ(held_.count(y), 1u);
    // Without Output, only the first of two readings.
    if (output_) {
      EXPECT_EQ(y, next_out_);
      std::memcpy(result_.ScanLine(y), held_[y].data(), held_[y].size());
      ++next_out_;
    } else {
      EXPECT_EQ(readings_, 1);
    }
    output_ = false;
    held_.erase(y);
  }

  const TBitmap& Result() const { return result_; }
  int Readings() const { return readings_; }
  int RowsWritten() const { return next_out_; }

 private:
  const TBitmap& source_;
  TBitmap result_;
  int most_held_;
  std::map<int, std::vector<uint8_t>> held_;
  int next_load_ = 0;
  int next_out_ = 0;
  int readings_ = 1;
  int largest_held_ = 0;
  bool output_ = false;  // Output(y) came for the row that Done takes next
};

TBitmap Handed(const TBitmap& input, const ThinningOptions& options, int* readings = nullptr,
               TColor target = kTarget, TColor surround = kSurround) {
  const bool twice = ThinsInTwoReadings(options, input.Height());
  HandedRows rows(input, twice ? 1 : RowsHeldBySweeps(options.sweeps));
  ThinRows(rows, input.Width(), input.Height(), target, surround, options, input.HasAlpha());
  EXPECT_EQ(rows.RowsWritten(), input.Height());
  EXPECT_EQ(rows.Readings(), twice ? 2 : 1);
  if (readings != nullptr) *readings = rows.Readings();
  return rows.Result();
}

std::string SweepName(int sweeps) {
  return sweeps == kSweepsAll ? "all" : std::to_string(sweeps);
}

TEST(ThinningSweeps, WideShapesMatchTheModelSweptAgainAndAgain) {
  for (const Shape& shape : Shapes()) {
    int readings_seen = 0;
    for (const int sweeps : {1, 2, 3, kSweepsAll}) {
      const ThinningOptions options{.sweeps = sweeps};
      int model_sweeps = 0;
      const TBitmap expected = Model(shape.bitmap, options, kTarget, kSurround, &model_sweeps);
      const std::string what = shape.name + ", sweeps " + SweepName(sweeps);
      EXPECT_EQ(Difference(expected, Thinned(shape.bitmap, kTarget, kSurround, options)), "")
          << what << ", whole picture";
      int readings = 0;
      EXPECT_EQ(Difference(expected, Handed(shape.bitmap, options, &readings)), "")
          << what << ", handed rows";
      readings_seen |= 1 << readings;
      if (sweeps == kSweepsAll) {
        HandedRows rows(shape.bitmap, 1);
        const ThinningMask mask(rows, shape.bitmap.Width(), shape.bitmap.Height(), kTarget, options,
                                false);
        EXPECT_EQ(mask.Sweeps(), model_sweeps) << what;
        // Every shape here is wider than one sweep can thin.
        EXPECT_GE(model_sweeps, 3) << what;
        RecordProperty(shape.name + " sweeps", model_sweeps);
      }
    }
    // Both ways of running the handed rows were tried on the tall shapes.
    if (shape.bitmap.Height() >= 3 * kRowsPerChainedSweep) {
      EXPECT_EQ(readings_seen, 2 | 4);
    }
  }
}

// Random thick strokes and blobs, where the rows that one sweep leaves as
// they were and those it changes alternate irregularly: a later sweep that
// skips work must still give what a full sweep gives.
TEST(ThinningSweeps, RandomThickShapesMatchTheModel) {
  for (unsigned seed = 1; seed <= 8; ++seed) {
    std::mt19937 rng(seed);
    // Short pictures run in two readings, the tall narrow ones chained.
    const bool tall = seed % 2 == 0;
    TBitmap b = Blank(tall ? 50 + int(seed) * 3 : 100 + int(rng() % 60),
                      tall ? 2 * kRowsPerChainedSweep + 30 : 90 + int(rng() % 60));
    DrawStrokes(b, 3 + int(rng() % 4), 40 + int(rng() % 60), rng);
    DrawBlobs(b, 2 + int(rng() % 4), 30 + int(rng() % 40), rng);
    // Lines one pixel wide through it all, which no sweep changes away
    // from the shapes: rows that a sweep leaves as they were right below
    // and beside the thick cores of the one before.
    for (int i = 0; i < 3; ++i) {
      const int x = int(rng() % unsigned(b.Width()));
      FillRect(b, x, 0, x, b.Height() - 1, kTarget);
      const int y = int(rng() % unsigned(b.Height()));
      FillRect(b, 0, y, b.Width() - 1, y, kTarget);
    }
    for (const int sweeps : {2, kSweepsAll}) {
      const ThinningOptions options{.sweeps = sweeps};
      const TBitmap expected = Model(b, options);
      const std::string what = "seed " + std::to_string(seed) + ", sweeps " + SweepName(sweeps);
      EXPECT_EQ(Difference(expected, Thinned(b, kTarget, kSurround, options)), "") << what;
      EXPECT_EQ(Difference(expected, Handed(b, options)), "") << what;
    }
  }
}

// Small pictures of noise with thick blobs in it, in many variants: where a
// sweep changes a row and leaves its neighbours as they were, in every
// arrangement that comes up.
TEST(ThinningSweeps, NoiseWithBlobsMatchesTheModel) {
  for (unsigned seed = 1; seed <= 300; ++seed) {
    std::mt19937 rng(seed);
    TBitmap b = Noise(20 + int(rng() % 50), 20 + int(rng() % 50), 0.1 + 0.1 * (seed % 6), rng);
    DrawBlobs(b, 1 + int(rng() % 3), 20 + int(rng() % 30), rng);
    const ThinningOptions options{.sweeps = kSweepsAll};
    EXPECT_EQ(Difference(Model(b, options), Thinned(b, kTarget, kSurround, options)), "")
        << "seed " << seed;
  }
  // The same in tall narrow pictures, where two sweeps run chained.
  for (unsigned seed = 1; seed <= 60; ++seed) {
    std::mt19937 rng(seed);
    TBitmap b = Noise(20 + int(rng() % 30), 2 * kRowsPerChainedSweep + int(rng() % 40),
                      0.02 * (seed % 12), rng);
    DrawBlobs(b, 4 + int(rng() % 8), 20 + int(rng() % 30), rng);
    const ThinningOptions options{.sweeps = 2};
    EXPECT_EQ(Difference(Model(b, options), Handed(b, options)), "") << "tall, seed " << seed;
  }
}

TEST(ThinningSweeps, OneSweepIsTheSweepOfOldAndMoreSweepsAfterTheLastChangeChangeNothing) {
  const TBitmap bars = Bars();
  int needed = 0;
  const TBitmap all = Model(bars, {.sweeps = kSweepsAll}, kTarget, kSurround, &needed);
  EXPECT_EQ(Difference(ReferenceThinned(bars), Thinned(bars, kTarget, kSurround, {.sweeps = 1})),
            "");
  // A sweep count below 0 acts as one sweep.
  EXPECT_EQ(Difference(Thinned(bars), Thinned(bars, kTarget, kSurround, {.sweeps = -3})), "");
  // More sweeps than needed give the result of `all`, chained or not.
  for (const int sweeps : {needed, needed + 1, 50}) {
    const ThinningOptions options{.sweeps = sweeps};
    EXPECT_EQ(Difference(all, Thinned(bars, kTarget, kSurround, options)), "") << sweeps;
    EXPECT_EQ(Difference(all, Handed(bars, options)), "") << sweeps;
  }
  // A picture without the target colour, and one of a single row.
  const TBitmap blank = Blank(70, 30);
  EXPECT_EQ(Difference(blank, Thinned(blank, kTarget, kSurround, {.sweeps = kSweepsAll})), "");
  TBitmap line = Blank(70, 1);
  FillRect(line, 3, 0, 60, 0, kTarget);
  EXPECT_EQ(Difference(line, Handed(line, {.sweeps = kSweepsAll})), "");
}

// With a tolerance, the target cells are those of the source: the surround
// colour here lies within the tolerance, so a removed pixel would count as
// the target again if a sweep looked at colours; kept pixels keep their
// shades.
TEST(ThinningSweeps, ToleranceKeepsTheSourcesTargetCellsAndShades) {
  constexpr TColor kDarkSurround = RGB(3, 3, 3);
  std::mt19937 rng(7);
  TBitmap shades = Bars();
  for (int y = 0; y < shades.Height(); ++y)
    for (int x = 0; x < shades.Width(); ++x)
      if (shades.Pixel(x, y) == kTarget) {
        const auto v = uint8_t(rng() % 6);
        shades.SetPixel(x, y, RGB(v, uint8_t(5 - v), v));
      }
  for (const int sweeps : {2, 3, kSweepsAll}) {
    const ThinningOptions options{.tolerance = 6, .sweeps = sweeps};
    const TBitmap expected = Model(shades, options, kTarget, kDarkSurround);
    const TBitmap thinned = Thinned(shades, kTarget, kDarkSurround, options);
    EXPECT_EQ(Difference(expected, thinned), "") << SweepName(sweeps);
    EXPECT_EQ(Difference(expected, Handed(shades, options, nullptr, kTarget, kDarkSurround)), "")
        << SweepName(sweeps);
    int kept_shades = 0;
    for (int y = 0; y < shades.Height(); ++y)
      for (int x = 0; x < shades.Width(); ++x) {
        const TColor before = shades.Pixel(x, y), after = thinned.Pixel(x, y);
        if (before != after) {
          EXPECT_EQ(after, kDarkSurround);
        }
        kept_shades += before == after && before != kBackground && before != kTarget;
      }
    EXPECT_GT(kept_shades, 0);
  }
}

// Transparency: a fully transparent pixel of the target colour is never
// the target, and a transparent surround widens a 24-bit picture.
TEST(ThinningSweeps, TransparencyOfTheSourceAndOfTheSurround) {
  TBitmap rgba = Blank(180, 330, TPixelFormat::pf32bit);
  const TBitmap blob = EdgeBlob();
  for (int y = 0; y < rgba.Height(); ++y)
    for (int x = 0; x < rgba.Width(); ++x) {
      uint8_t* p = rgba.ScanLine(y) + x * 4;
      if (blob.Pixel(x, y) == kTarget) rgba.SetPixel(x, y, kTarget);
      p[3] = (x / 30 + y / 40) % 5 == 0 ? 0 : 255;  // see-through patches, some of them black
    }
  for (const bool transparent : {false, true})
    for (const int sweeps : {2, kSweepsAll}) {
      const ThinningOptions options{.transparent_surround = transparent, .sweeps = sweeps};
      const std::string what =
          SweepName(sweeps) + (transparent ? ", transparent surround" : ", opaque surround");
      const TBitmap expected = Model(rgba, options);
      EXPECT_EQ(Difference(expected, Thinned(rgba, kTarget, kSurround, options)), "") << what;
      EXPECT_EQ(Difference(expected, Handed(rgba, options)), "") << what;
      const TBitmap widened = Thinned(blob, kTarget, kSurround, options);
      EXPECT_EQ(widened.HasAlpha(), transparent) << what;
      EXPECT_EQ(Difference(Model(blob, options), widened), "") << what << ", 24-bit";
    }
}

}  // namespace
}  // namespace kevrale::test
