#include "picture/BmpRowReader.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "picture/BmpReader.h"
#include "picture/DibRowDecoder.h"
#include "platform/Stream.h"

namespace kevrale {

namespace {

// The most bytes of stored rows read at once.
constexpr size_t kChunkBytes = size_t(1) << 20;
// Bytes of RLE codes read at once.
constexpr size_t kRleBufferBytes = size_t(64) << 10;
// Stored rows between two noted places in RLE data.
constexpr int32_t kRleMarkRows = 16;

[[noreturn]] void Invalid(BmpRefusal reason) {
  throw EInvalidBmp(reason);
}

void ZeroPadding(TBitmap& band) {
  const size_t used = size_t(band.Width()) * size_t(band.BytesPerPixel());
  if (used == band.Stride()) return;
  for (int y = 0; y < band.Height(); ++y)
    std::memset(band.ScanLine(y) + used, 0, band.Stride() - used);
}

// Alpha 255 in every pixel of a 32-bit band.
void MakeOpaque(TBitmap& band) {
  for (int y = 0; y < band.Height(); ++y) {
    uint8_t* p = band.ScanLine(y);
    for (int x = 0; x < band.Width(); ++x) p[4 * x + 3] = 255;
  }
}

// Black, and opaque in a 32-bit band.
void MakeBlack(TBitmap& band) {
  if (band.BitsSize() == 0) return;
  std::memset(band.Bits(), 0, band.BitsSize());
  if (band.HasAlpha()) MakeOpaque(band);
}

// Runs `read` and turns a stream that ends too soon into the BMP refusal
// for a truncated file.
template <typename Read>
void Reading(Read read) {
  try {
    read();
  } catch (const EReadError& e) {
    RaiseIfTruncated(e);
    throw;
  }
}

}  // namespace

// The bytes of RLE data from a given place, read through a bounded buffer.
class BmpRowReader::RleCodes {
 public:
  RleCodes(const BmpRowReader& reader, uint64_t offset)
      : reader_(reader), offset_(offset), end_(reader.header_.data_size) {
    if (reader.memory_ == nullptr) buffer_.resize(kRleBufferBytes);
  }
  // False at the end of the data.
  bool Next(uint8_t& byte) {
    if (pos_ == len_ && !Fill()) return false;
    byte = data_[pos_++];
    return true;
  }
  // Like Next, but the data must go on.
  uint8_t Must() {
    uint8_t byte;
    if (!Next(byte)) Invalid(BmpRefusal::RleEnd);
    return byte;
  }
  // The place of the next byte, from the start of the pixel data.
  uint64_t Offset() const { return offset_ - (len_ - pos_); }

 private:
  bool Fill() {
    if (offset_ >= end_) return false;
    if (reader_.memory_ != nullptr) {
      data_ = reader_.memory_ + offset_;
      len_ = size_t(end_ - offset_);
    } else {
      len_ = reader_.stream_->ReadAt(buffer_.data(), buffer_.size(),
                                     int64_t(reader_.header_.pixels_at + offset_));
      data_ = buffer_.data();
      if (len_ == 0) return false;
    }
    offset_ += len_;
    pos_ = 0;
    return true;
  }

  const BmpRowReader& reader_;
  uint64_t offset_;  // of the byte after the buffered ones
  uint64_t end_;
  std::vector<uint8_t> buffer_;
  const uint8_t* data_ = nullptr;
  size_t pos_ = 0;
  size_t len_ = 0;
};

BmpRowReader::BmpRowReader(TStream& stream, const TLoadLimits& limits)
    : stream_(&stream), header_(ReadBmpHeader(stream, limits)) {
  format_ =
      header_.Pixels() == 0 && header_.alpha_if_any ? TPixelFormat::pf24bit : header_.Format();
}

BmpRowReader::BmpRowReader(const DibLayout& layout, const uint8_t* bits)
    : memory_(bits), header_(DibHeader(layout)) {
  format_ = header_.Format();
}

uint64_t BmpRowReader::PixelsEnd() const {
  if (header_.Rle()) return header_.pixels_at + rle_end_;
  return header_.pixels_at + header_.Stride() * uint64_t(header_.height);
}

const uint8_t* BmpRowReader::StoredBytes(uint64_t offset, size_t size,
                                         std::vector<uint8_t>& buffer) {
  if (memory_ != nullptr) return memory_ + offset;
  buffer.resize(size);
  stream_->ReadBufferAt(buffer.data(), size, int64_t(header_.pixels_at + offset));
  return buffer.data();
}

template <typename Visit>
void BmpRowReader::ForEachStored(int32_t first, int32_t count, Visit visit) {
  const uint64_t stride = header_.Stride();
  const size_t width = size_t(header_.width);
  if (stride <= kChunkBytes || memory_ != nullptr) {
    const int32_t rows_at_once =
        memory_ != nullptr ? count : int32_t(std::min<uint64_t>(kChunkBytes / stride, 1 << 16));
    for (int32_t done = 0; done < count;) {
      const int32_t rows = std::min(rows_at_once, count - done);
      const uint8_t* src =
          StoredBytes(uint64_t(first + done) * stride, size_t(stride) * size_t(rows), stored_);
      for (int32_t i = 0; i < rows; ++i)
        if (!visit(first + done + i, size_t(0), width, src + size_t(i) * size_t(stride))) return;
      done += rows;
    }
    return;
  }
  // A row longer than the buffer goes through it piece by piece; each
  // piece is a whole number of bytes (a multiple of 8 pixels).
  const size_t bits = header_.bit_count;
  const size_t piece_pixels = kChunkBytes * 8 / bits / 8 * 8;
  for (int32_t row = first; row < first + count; ++row)
    for (size_t x = 0; x < width; x += piece_pixels) {
      const size_t n = std::min(piece_pixels, width - x);
      const uint8_t* src =
          StoredBytes(uint64_t(row) * stride + x * bits / 8, (n * bits + 7) / 8, stored_);
      if (!visit(row, x, n, src)) return;
    }
}

void BmpRowReader::Check() {
  if (checked_) return;
  if (header_.Pixels() > 0) {
    Reading([&] {
      if (header_.Rle())
        WalkRle(RleState{}, INT32_MAX, nullptr, 0);
      else
        CheckStored();
    });
  }
  std::vector<uint8_t>().swap(stored_);
  checked_ = true;
}

void BmpRowReader::CheckStored() {
  const bool short_palette =
      header_.bit_count <= 8 && header_.palette.size() < (size_t(1) << header_.bit_count);
  if (!short_palette && !header_.alpha_if_any) return;
  // Indices past the colour table, and the fourth bytes, of every row.
  const DibRowDecoder decoder(header_.bit_count, header_.palette, header_.masks, 4);
  std::vector<uint8_t> row;
  AlphaBytes alpha;
  ForEachStored(0, header_.height, [&](int32_t, size_t, size_t count, const uint8_t* src) {
    if (short_palette) {
      row.resize(count * 4);
      if (!decoder.Decode(src, count, row.data())) Invalid(BmpRefusal::PaletteIndex);
    } else {
      alpha.Add(src, count);
    }
    return !alpha.Mixed();
  });
  if (header_.alpha_if_any && !alpha.Mixed()) format_ = TPixelFormat::pf24bit;
}

void BmpRowReader::ReadRows(int y0, TBitmap& band) {
  const int count = band.Height();
  if (!checked_ || band.Width() != header_.width || y0 < 0 || count > header_.height - y0)
    throw std::logic_error("BmpRowReader: rows outside the picture");
  if (count == 0 || header_.Pixels() == 0) return;
  Reading([&] {
    if (header_.Rle())
      ReadRleRows(y0, band);
    else
      ReadStoredRows(y0, band);
  });
}

void BmpRowReader::ReadStoredRows(int y0, TBitmap& band) {
  const int count = band.Height();
  const uint64_t stride = header_.Stride();
  // Stored rows [first, first + count): bottom-up files store the band's
  // last row first, as the band holds its rows; top-down files the other
  // way round.
  const int32_t first = header_.top_down ? y0 : header_.height - y0 - count;
  // A picture without alpha widened to 32 bits is opaque, whatever its
  // fourth bytes hold.
  const bool widened = band.HasAlpha() && format_ != TPixelFormat::pf32bit;
  if (header_.SameLayout(band.PixelFormat())) {
    const uint64_t at = uint64_t(first) * stride;
    if (!header_.top_down) {
      const size_t size = size_t(stride) * size_t(count);
      if (memory_ != nullptr)
        std::memcpy(band.Bits(), memory_ + at, size);
      else
        stream_->ReadBufferAt(band.Bits(), size, int64_t(header_.pixels_at + at));
    } else {
      for (int i = 0; i < count; ++i) {
        const uint64_t row_at = at + uint64_t(i) * stride;
        if (memory_ != nullptr)
          std::memcpy(band.ScanLine(i), memory_ + row_at, size_t(stride));
        else
          stream_->ReadBufferAt(band.ScanLine(i), size_t(stride),
                                int64_t(header_.pixels_at + row_at));
      }
    }
  } else {
    const int out_bytes = band.BytesPerPixel();
    std::optional<DibRowDecoder>& decoder = decoders_[out_bytes == 4 ? 1 : 0];
    if (!decoder) decoder.emplace(header_.bit_count, header_.palette, header_.masks, out_bytes);
    ForEachStored(first, count, [&](int32_t row, size_t x, size_t n, const uint8_t* src) {
      uint8_t* dst = band.ScanLine(header_.StoredRow(row) - y0) + x * size_t(out_bytes);
      if (!decoder->Decode(src, n, dst)) Invalid(BmpRefusal::PaletteIndex);
      return true;
    });
  }
  if (widened) MakeOpaque(band);
  ZeroPadding(band);
}

void BmpRowReader::ReadRleRows(int y0, TBitmap& band) {
  MakeBlack(band);
  // RLE data is stored bottom-up: the band is stored rows [first, stop).
  const int32_t stop = header_.height - y0;
  const int32_t first = stop - band.Height();
  const size_t mark = size_t(first / kRleMarkRows);
  // Rows that the codes never reach stay black.
  if (mark < marks_.size()) WalkRle(marks_[mark], stop, &band, first);
}

// Decodes RLE8, RLE4 or RLE24 codes; pixels that the codes skip stay
// black. Any run or skip beyond the picture is refused. The data may end
// without its end-of-bitmap mark only once every row is complete.
void BmpRowReader::WalkRle(RleState state, int32_t stop, TBitmap* band, int32_t first) {
  const std::vector<uint32_t>& palette = header_.palette;
  const int32_t width = header_.width;
  const int32_t height = header_.height;
  const BmpCoding coding = header_.coding;
  const size_t out_bytes = band != nullptr ? size_t(band->BytesPerPixel()) : 0;
  const int32_t band_top = header_.height - stop;  // the picture row of the band's first row
  RleCodes in(*this, state.offset);
  int32_t x = state.x;
  int32_t y = state.y;
  if (band == nullptr) marks_.assign(1, state);
  // Notes the state at the first code of every marked row reached.
  const auto moved_up = [&] {
    if (band != nullptr) return;
    while (int64_t(marks_.size()) * kRleMarkRows <= int64_t(y) && y < height)
      marks_.push_back(RleState{in.Offset(), x, y});
  };
  const auto index_colour = [&](uint32_t index) {
    if (index >= palette.size()) Invalid(BmpRefusal::PaletteIndex);
    return palette[index];
  };
  // Where a run of `count` pixels goes: nullptr outside the band.
  const auto target = [&](int count) -> uint8_t* {
    if (y >= height || count > width - x) Invalid(BmpRefusal::RleOutside);
    uint8_t* p = nullptr;
    if (band != nullptr && y >= first)
      p = band->ScanLine(height - 1 - y - band_top) + size_t(x) * out_bytes;
    x += count;
    return p;
  };
  const auto put = [out_bytes](uint8_t* p, uint32_t c) {
    if (p == nullptr) return p;
    p[0] = uint8_t(c);
    p[1] = uint8_t(c >> 8);
    p[2] = uint8_t(c >> 16);
    return p + out_bytes;
  };
  const auto finish = [&] {
    if (band == nullptr) rle_end_ = in.Offset();
  };
  while (y < stop) {
    uint8_t count;
    if (!in.Next(count)) {
      if (y >= height || (y == height - 1 && x == width)) return finish();
      Invalid(BmpRefusal::RleEnd);
    }
    if (count > 0) {
      // An encoded run: one colour, or two alternating ones in RLE4.
      uint8_t* p = target(count);
      if (coding == BmpCoding::Rle24) {
        const uint8_t b = in.Must(), g = in.Must(), r = in.Must();
        const uint32_t c = uint32_t(r) << 16 | uint32_t(g) << 8 | b;
        for (int i = 0; i < count; ++i) p = put(p, c);
      } else if (coding == BmpCoding::Rle8) {
        const uint32_t c = index_colour(in.Must());
        for (int i = 0; i < count; ++i) p = put(p, c);
      } else {
        const uint8_t pair = in.Must();
        const uint32_t c[2] = {index_colour(pair >> 4), index_colour(pair & 0x0F)};
        for (int i = 0; i < count; ++i) p = put(p, c[i & 1]);
      }
      continue;
    }
    const uint8_t escape = in.Must();
    if (escape == 0) {  // end of line
      if (y >= height) Invalid(BmpRefusal::RleOutside);
      x = 0;
      ++y;
      moved_up();
    } else if (escape == 1) {  // end of bitmap
      return finish();
    } else if (escape == 2) {  // skip right and up
      const uint8_t dx = in.Must(), dy = in.Must();
      if (dx > width - x || dy > height - y) Invalid(BmpRefusal::RleOutside);
      x += dx;
      y += dy;
      if (dy > 0) moved_up();
    } else {  // a literal run of `escape` pixels, padded to 16 bits
      uint8_t* p = target(escape);
      size_t bytes = 0;
      if (coding == BmpCoding::Rle24) {
        for (int i = 0; i < escape; ++i) {
          const uint8_t b = in.Must(), g = in.Must(), r = in.Must();
          p = put(p, uint32_t(r) << 16 | uint32_t(g) << 8 | b);
        }
        bytes = size_t(escape) * 3;
      } else if (coding == BmpCoding::Rle8) {
        for (int i = 0; i < escape; ++i) p = put(p, index_colour(in.Must()));
        bytes = escape;
      } else {
        uint8_t pair = 0;
        for (int i = 0; i < escape; ++i) {
          if ((i & 1) == 0) pair = in.Must();
          p = put(p, index_colour((i & 1) == 0 ? pair >> 4 : pair & 0x0F));
        }
        bytes = (size_t(escape) + 1) / 2;
      }
      if (bytes & 1) in.Must();
    }
  }
}

}  // namespace kevrale
