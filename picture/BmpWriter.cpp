#include "picture/BmpWriter.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "picture/TBitmap.h"
#include "platform/LittleEndian.h"
#include "platform/Stream.h"

namespace kevrale {

namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kV5HeaderSize = 124;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kLcsSrgb = 0x73524742;      // 'sRGB'
constexpr uint32_t kPelsPerMetre96Dpi = 3780;  // 96 dots per inch

class BmpRowWriter final : public ImageRowWriter {
 public:
  BmpRowWriter(TStream& stream, int width, int height, TPixelFormat format)
      : stream_(stream),
        height_(height),
        stride_(TBitmap::StrideOf(width, format)),
        start_(stream.WritesAtPosition() ? stream.Position() : -1) {
    const bool alpha = format == TPixelFormat::pf32bit;
    const uint32_t info_size = alpha ? kV5HeaderSize : kInfoHeaderSize;
    offset_ = kFileHeaderSize + info_size;
    const uint32_t bits_size = uint32_t(stride_ * size_t(height));

    uint8_t header[kFileHeaderSize + kV5HeaderSize] = {};
    uint8_t* f = header;
    f[0] = 'B';
    f[1] = 'M';
    Put32(f + 2, offset_ + bits_size);
    Put32(f + 10, offset_);

    uint8_t* h = header + kFileHeaderSize;
    Put32(h + 0, info_size);
    Put32(h + 4, uint32_t(width));
    Put32(h + 8, uint32_t(height));  // positive: bottom-up rows
    Put16(h + 12, 1);
    Put16(h + 14, alpha ? 32 : 24);
    Put32(h + 16, alpha ? kBiBitfields : kBiRgb);
    Put32(h + 20, bits_size);
    Put32(h + 24, kPelsPerMetre96Dpi);
    Put32(h + 28, kPelsPerMetre96Dpi);
    if (alpha) {
      Put32(h + 40, 0x00FF0000);  // red mask
      Put32(h + 44, 0x0000FF00);  // green
      Put32(h + 48, 0x000000FF);  // blue
      Put32(h + 52, 0xFF000000);  // alpha
      Put32(h + 56, kLcsSrgb);
      Put32(h + 108, 4);  // rendering intent: LCS_GM_IMAGES
    }
    stream_.WriteBuffer(header, offset_);
    // The rows are written from the last band up: the whole file's room
    // at once.
    if (start_ >= 0) stream_.Reserve(start_ + int64_t(offset_) + int64_t(bits_size));
  }

  void WriteRows(int y0, const TBitmap& band) override {
    const int count = band.Height();
    if (y0 != next_ || count > height_ - y0 || band.Stride() != stride_)
      throw std::logic_error("BmpRowWriter: rows out of order or of another size");
    next_ += count;
    const size_t size = stride_ * size_t(count);
    if (size == 0) return;
    // The band holds its rows bottom-up, as the file does: its lowest row
    // lies where row y0 + count - 1 goes.
    const size_t at = size_t(height_ - y0 - count) * stride_;
    if (start_ >= 0) {
      stream_.SetPosition(start_ + int64_t(offset_ + at));
      stream_.WriteBuffer(band.Bits(), size);
    } else if (count == height_) {
      stream_.WriteBuffer(band.Bits(), size);
    } else {
      held_.resize(stride_ * size_t(height_));
      std::memcpy(held_.data() + at, band.Bits(), size);
    }
  }

  void Finish() override {
    if (next_ != height_) throw std::logic_error("BmpRowWriter: rows missing");
    if (!held_.empty()) stream_.WriteBuffer(held_.data(), held_.size());
    // The stream ends after the last row, wherever the bands left it.
    if (start_ >= 0) stream_.SetPosition(start_ + int64_t(offset_ + stride_ * size_t(height_)));
  }

 private:
  TStream& stream_;
  int height_;
  size_t stride_;
  int64_t start_;  // where the file begins in the stream; -1 when it cannot seek
  uint32_t offset_ = 0;
  int next_ = 0;
  std::vector<uint8_t> held_;  // the rows, where the stream cannot seek
};

}  // namespace

std::unique_ptr<ImageRowWriter> MakeBmpRowWriter(TStream& stream, int width, int height,
                                                 TPixelFormat format) {
  return std::make_unique<BmpRowWriter>(stream, width, height, format);
}

void WriteBmp(const TBitmap& bitmap, TStream& stream) {
  WriteImage(TImageFileFormat::Bmp, bitmap, stream);
}

}  // namespace kevrale
