#include "cli/CodedRows.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "cli/RowPipeline.h"
#include "picture/ImageRowSource.h"

namespace kevrale::cli {

namespace {

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

CodedRows::CodedRows(int width, int height)
    : width_(width),
      height_(height),
      stride_(StrideOf(width, bits_)),
      codes_(new uint8_t[stride_ * size_t(height)]),
      row_codes_(size_t(width)) {}

bool CodedRows::Add(const uint8_t* row, int bytes_per_pixel, int y) {
  return bytes_per_pixel == 4 ? AddOf<4>(row, y) : AddOf<3>(row, y);
}

template <int kBytes>
bool CodedRows::AddOf(const uint8_t* row, int y) {
  if (table_.Overflowed()) return false;
  uint32_t last = ~ColourAt(row, kBytes);
  uint8_t code = 0;
  for (int x = 0; x < width_;) {
    const uint8_t* first = row + size_t(x) * kBytes;
    const int end = RunEnd<kBytes>(row, x, width_);
    const uint32_t c = ColourAt(first, kBytes);
    if (c != last) {
      table_.Add(c);
      if (table_.Overflowed()) {
        codes_.reset();
        return false;
      }
      code = uint8_t(table_.Find(c));
      last = c;
    }
    std::memset(row_codes_.data() + x, code, size_t(end - x));
    x = end;
  }
  const int bits = BitsFor(table_.Colours().size());
  if (bits > bits_) Widen(bits, y);
  PackCodes(row_codes_.data(), width_, bits_, PackedRow(y));
  if (table_.Colours().size() != coded_colours_) {
    coded_colours_ = table_.Colours().size();
    colours_ = CodeColours(table_.Colours(), 0);
  }
  return true;
}

void CodedRows::Widen(int bits, int rows) {
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

void CodedRows::Fill(int y0, TBitmap& band) const {
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

void CodedRows::Pack(int y, const RasterLayout& layout, uint8_t* out) {
  // The samples are found again for another layout, and for codes added
  // or widened since (a result packed while it is coded).
  if (packed_for_ != &layout || packed_colours_ != table_.Colours().size() ||
      packed_bits_ != bits_) {
    if (layout.kind != RasterKind::Grey && layout.kind != RasterKind::Palette)
      throw std::logic_error("CodedRows: a layout without samples to pack");
    const std::vector<uint32_t>& colours = table_.Colours();
    for (size_t code = 0; code < colours.size(); ++code) {
      const auto at = std::find(layout.colours.begin(), layout.colours.end(), colours[code]);
      if (at == layout.colours.end())
        throw std::logic_error("CodedRows: a colour outside the file's colours");
      samples_[code] = layout.kind == RasterKind::Grey ? uint8_t((*at & 0xFF) >> (8 - layout.bits))
                                                       : uint8_t(at - layout.colours.begin());
    }
    same_samples_ = layout.bits == bits_;
    for (size_t code = 0; code < colours.size(); ++code)
      same_samples_ = same_samples_ && samples_[code] == code;
    inverted_samples_ = layout.bits == 1 && bits_ == 1 && colours.size() == 2 && samples_[0] == 1 &&
                        samples_[1] == 0;
    packed_for_ = &layout;
    packed_colours_ = colours.size();
    packed_bits_ = bits_;
  }
  const size_t bytes = StrideOf(width_, layout.bits);
  if (same_samples_) {
    std::memcpy(out, PackedRow(y), bytes);
    return;
  }
  if (inverted_samples_) {
    // Black and white the other way round: the bits inverted, the padding
    // bits of the last byte zero again.
    const uint8_t* in = PackedRow(y);
    for (size_t i = 0; i < bytes; ++i) out[i] = uint8_t(~in[i]);
    if (width_ % 8 != 0) out[bytes - 1] &= uint8_t(0xFF << (8 - width_ % 8));
    return;
  }
  UnpackCodes(PackedRow(y), width_, bits_, row_codes_.data());
  for (uint8_t& code : row_codes_) code = samples_[code];
  PackCodes(row_codes_.data(), width_, layout.bits, out);
}

void ScanColours(ImageRowSource& reader, int threads, int band_rows, ColourTable& table,
                 CodedRows* kept) {
  const int height = reader.Height();
  RowPipeline rows(
      reader.Width(), height, reader.Format(), threads, band_rows,
      [&reader](int y0, TBitmap& band) { reader.ReadRows(y0, band); }, [](int, const TBitmap&) {},
      0);
  // The kept rows' own table is the table, in the same order.
  const ColourTable& colours = kept != nullptr ? kept->Table() : table;
  rows.Run([&] {
    for (int y = 0; y < height && !colours.Overflowed(); ++y) {
      const SweepRow row = rows.Load(y);
      if (kept != nullptr)
        kept->Add(row.pixels, row.bytes_per_pixel, y);
      else
        table.AddRow(row.pixels, reader.Width(), row.bytes_per_pixel);
      rows.Done(y, false);
    }
  });
  if (kept != nullptr) table = kept->Table();
}

}  // namespace kevrale::cli
