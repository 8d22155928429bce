#include "picture/BmpRowReader.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "picture/BmpReader.h"
#include "picture/DibRowDecoder.h"
#include "platform/Stream.h"

namespace kevrale {

namespace {

// The most bytes of stored rows that Check reads at once.
constexpr size_t kCheckChunkBytes = size_t(1) << 20;

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

// Runs `read` and turns a stream that ends too soon into the BMP refusal
// that ReadBmp gives for it.
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

BmpRowReader::BmpRowReader(TStream& stream, const TLoadLimits& limits)
    : stream_(stream), header_(ReadBmpHeader(stream, limits)) {
  streams_ = !header_.Rle() && header_.Pixels() > 0;
  format_ = header_.Format();
}

void BmpRowReader::ReadStored(int32_t first, int32_t count, std::vector<uint8_t>& buffer) {
  const uint64_t stride = header_.Stride();
  buffer.resize(size_t(stride) * size_t(count));
  stream_.ReadBufferAt(buffer.data(), buffer.size(),
                       int64_t(header_.pixels_at + uint64_t(first) * stride));
}

void BmpRowReader::Check() {
  if (!streams_) throw std::logic_error("BmpRowReader: no rows to check");
  if (checked_) return;
  const bool short_palette =
      header_.bit_count <= 8 && header_.palette.size() < (size_t(1) << header_.bit_count);
  if (short_palette || header_.alpha_if_any) {
    // Indices past the colour table, and the fourth bytes, of every row.
    const DibRowDecoder decoder(header_.bit_count, header_.palette, header_.masks, 4);
    std::vector<uint8_t> row(size_t(header_.width) * 4);
    AlphaBytes alpha;
    const int32_t rows_at_once =
        int32_t(std::clamp<uint64_t>(kCheckChunkBytes / header_.Stride(), 1, 1 << 16));
    Reading([&] {
      for (int32_t first = 0; first < header_.height && !alpha.Mixed(); first += rows_at_once) {
        const int32_t count = std::min(rows_at_once, header_.height - first);
        ReadStored(first, count, stored_);
        for (int32_t i = 0; i < count; ++i) {
          const uint8_t* src = stored_.data() + size_t(i) * size_t(header_.Stride());
          if (short_palette) {
            if (!decoder.Decode(src, size_t(header_.width), row.data()))
              throw EInvalidBmp(BmpRefusal::PaletteIndex);
          } else {
            alpha.Add(src, size_t(header_.width));
          }
        }
      }
    });
    if (header_.alpha_if_any && !alpha.Mixed()) format_ = TPixelFormat::pf24bit;
  }
  std::vector<uint8_t>().swap(stored_);
  checked_ = true;
}

void BmpRowReader::ReadRows(int y0, TBitmap& band) {
  const int count = band.Height();
  if (!checked_ || band.Width() != header_.width || y0 < 0 || count > header_.height - y0)
    throw std::logic_error("BmpRowReader: rows outside the picture");
  if (count == 0) return;
  const uint64_t stride = header_.Stride();
  // Stored rows [first, first + count): bottom-up files store the band's
  // last row first, as the band holds its rows; top-down files the other
  // way round.
  const int32_t first = header_.top_down ? y0 : header_.height - y0 - count;
  // A picture without alpha widened to 32 bits is opaque, whatever its
  // fourth bytes hold.
  const bool widened = band.HasAlpha() && format_ != TPixelFormat::pf32bit;
  Reading([&] {
    if (header_.SameLayout(band.PixelFormat())) {
      if (!header_.top_down) {
        stream_.ReadBufferAt(band.Bits(), size_t(stride) * size_t(count),
                             int64_t(header_.pixels_at + uint64_t(first) * stride));
      } else {
        for (int i = 0; i < count; ++i)
          stream_.ReadBufferAt(band.ScanLine(i), size_t(stride),
                               int64_t(header_.pixels_at + uint64_t(first + i) * stride));
      }
      if (widened) MakeOpaque(band);
      ZeroPadding(band);
      return;
    }
    const int out_bytes = band.BytesPerPixel();
    std::optional<DibRowDecoder>& decoder = decoders_[out_bytes == 4 ? 1 : 0];
    if (!decoder) decoder.emplace(header_.bit_count, header_.palette, header_.masks, out_bytes);
    ReadStored(first, count, stored_);
    for (int i = 0; i < count; ++i) {
      const uint8_t* src = stored_.data() + size_t(i) * size_t(stride);
      const int y = header_.StoredRow(first + i) - y0;
      if (!decoder->Decode(src, size_t(header_.width), band.ScanLine(y)))
        throw EInvalidBmp(BmpRefusal::PaletteIndex);
    }
    if (widened) MakeOpaque(band);
    ZeroPadding(band);
  });
}

}  // namespace kevrale
