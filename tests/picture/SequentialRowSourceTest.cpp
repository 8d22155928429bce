// A decoder that only goes forward, read through the buffer of rows it
// decodes ahead: bands of any height, in order, give the rows the decoder
// made, without starting the file over; a band above the rows read starts
// it over, once; and after the kept data is dropped, reading works again.
#include <gtest/gtest.h>

#include <vector>

#include "picture/RowDecoders.h"

namespace kevrale {
namespace {

// Row y's pixels are (y, x, 7) in B G R, decoded one row after another.
class CountingSource final : public SequentialRowSource {
 public:
  CountingSource(int width, int height) : SequentialRowSource(3) {
    width_ = width;
    height_ = height;
  }
  void Check() override { checked_ = true; }
  int restarts = 0;
  int decoded = 0;

 private:
  void Restart() override {
    ++restarts;
    next_ = 0;
  }
  void DecodeNext(uint8_t* rows, int count) override {
    ASSERT_LE(next_ + count, height_);
    for (int i = 0; i < count; ++i, ++next_)
      for (int x = 0; x < width_; ++x) {
        uint8_t* p = rows + size_t(i) * RowStride() + size_t(x) * 3;
        p[0] = uint8_t(next_);
        p[1] = uint8_t(x);
        p[2] = 7;
      }
    decoded += count;
  }
  void Convert(const uint8_t* in, uint8_t* out, int) const override {
    std::copy(in, in + StoredRowBytes(), out);
  }
  int next_ = 0;
};

void ExpectRows(const TBitmap& band, int y0) {
  for (int y = 0; y < band.Height(); ++y)
    for (int x = 0; x < band.Width(); ++x) {
      const uint8_t* p = band.ScanLine(y) + size_t(x) * 3;
      ASSERT_EQ(p[0], uint8_t(y0 + y)) << "row " << y0 + y;
      ASSERT_EQ(p[1], uint8_t(x));
    }
}

TEST(SequentialRowSource, BandsOfAnyHeightInOrderDecodeEachRowOnce) {
  for (const int band_rows : {1, 5, 16, 21, 31, 32, 33, 64, 100}) {
    CountingSource source(7, 150);
    source.Check();
    TBitmap band;
    for (int y0 = 0; y0 < 150; y0 += band_rows) {
      band.Allocate(7, std::min(band_rows, 150 - y0), TPixelFormat::pf24bit);
      source.ReadRows(y0, band);
      ExpectRows(band, y0);
    }
    EXPECT_EQ(source.restarts, 1) << band_rows << " rows a band";
    EXPECT_EQ(source.decoded, 150) << band_rows << " rows a band";
  }
}

TEST(SequentialRowSource, RowsAboveStartOverAndDroppedDataComesBack) {
  CountingSource source(4, 100);
  source.Check();
  TBitmap band;
  band.Allocate(4, 10, TPixelFormat::pf24bit);
  for (const int y0 : {40, 45, 50, 3, 3, 90, 20}) {
    source.ReadRows(y0, band);
    ExpectRows(band, y0);
  }
  // 40 on: one start; 3 (above the rows from 40 in the buffer): a second;
  // 3 again comes from the buffer; 20 (above 90): a third.
  EXPECT_EQ(source.restarts, 3);
  source.DropKeptData();
  source.ReadRows(20, band);
  ExpectRows(band, 20);
  EXPECT_EQ(source.restarts, 4);
}

}  // namespace
}  // namespace kevrale
