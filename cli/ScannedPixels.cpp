#include "cli/ScannedPixels.h"

#include <algorithm>
#include <cstring>

#include "cli/RowPipeline.h"
#include "picture/ImageRowSource.h"

namespace kevrale::cli {

namespace {

// The most pixels whose colour codes a run keeps.
constexpr int64_t kMostScannedPixels = int64_t(32) << 20;

// The fewest bits (1, 2, 4 or 8) that hold codes below `count`.
int BitsFor(size_t count) {
  if (count <= 2) return 1;
  if (count <= 4) return 2;
  if (count <= 16) return 4;
  return 8;
}

size_t StrideOf(int width, int bits) {
  return (size_t(width) * size_t(bits) + 7) / 8;
}

}  // namespace

void ScannedPixels::Scan(ImageRowSource& reader, int threads, int band_rows, ColourTable& table) {
  width_ = reader.Width();
  height_ = reader.Height();
  keep_ = int64_t(width_) * height_ <= kMostScannedPixels;
  if (keep_) {
    bits_ = 1;
    stride_ = StrideOf(width_, bits_);
    codes_.reset(new uint8_t[stride_ * size_t(height_)]);
    row_codes_.resize(size_t(width_));
  }
  // The decoding runs on a thread of its own beside the coding here.
  RowPipeline rows(
      width_, height_, reader.Format(), threads, band_rows,
      [&reader](int y0, TBitmap& band) { reader.ReadRows(y0, band); }, [](int, const TBitmap&) {},
      0);
  rows.Run([&] {
    for (int y = 0; y < height_ && !table.Overflowed(); ++y) {
      const SweepRow row = rows.Load(y);
      if (row.bytes_per_pixel == 4)
        AddRowOf<4>(row.pixels, y, table);
      else
        AddRowOf<3>(row.pixels, y, table);
      rows.Done(y, false);
    }
  });
  keep_ = keep_ && !table.Overflowed();
  if (!keep_) {
    codes_.reset();
    row_codes_ = {};
    return;
  }
  colours_ = CodeColours(table.Colours(), 0);
}

template <int kBytes>
void ScannedPixels::AddRowOf(const uint8_t* row, int y, ColourTable& table) {
  uint32_t last = ~ColourAt(row, kBytes);
  uint8_t code = 0;
  for (int x = 0; x < width_;) {
    const uint8_t* first = row + size_t(x) * kBytes;
    const int end = RunEnd<kBytes>(row, x + 1, width_, first);
    const uint32_t c = ColourAt(first, kBytes);
    if (c != last) {
      table.Add(c);
      if (table.Overflowed()) return;
      code = uint8_t(table.Find(c));
      last = c;
    }
    if (keep_) std::memset(row_codes_.data() + x, code, size_t(end - x));
    x = end;
  }
  if (!keep_) return;
  const int bits = BitsFor(table.Colours().size());
  if (bits > bits_) Widen(bits, y);
  PackCodes(row_codes_.data(), width_, bits_, PackedRow(y));
}

void ScannedPixels::Widen(int bits, int rows) {
  const size_t stride = StrideOf(width_, bits);
  std::unique_ptr<uint8_t[]> codes(new uint8_t[stride * size_t(height_)]);
  std::vector<uint8_t> row(static_cast<size_t>(width_));
  for (int y = 0; y < rows; ++y) {
    UnpackCodes(PackedRow(y), width_, bits_, row.data());
    PackCodes(row.data(), width_, bits, codes.get() + size_t(y) * stride);
  }
  codes_ = std::move(codes);
  bits_ = bits;
  stride_ = stride;
}

void ScannedPixels::Fill(int y0, TBitmap& band) const {
  const int out_bytes = band.BytesPerPixel();
  const size_t used = size_t(width_) * size_t(out_bytes);
  std::vector<uint8_t> row(bits_ == 8 ? 0 : size_t(width_));
  for (int i = 0; i < band.Height(); ++i) {
    const uint8_t* codes = PackedRow(y0 + i);
    if (bits_ != 8) {
      UnpackCodes(codes, width_, bits_, row.data());
      codes = row.data();
    }
    uint8_t* out = band.ScanLine(i);
    PutCodedColours(codes, width_, colours_, out, out_bytes);
    std::fill(out + used, out + band.Stride(), uint8_t(0));  // the padding
  }
}

}  // namespace kevrale::cli
