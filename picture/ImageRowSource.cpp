#include "picture/ImageRowSource.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "picture/BmpHeader.h"
#include "picture/BmpRowReader.h"
#include "picture/PngSignature.h"
#include "picture/RowDecoders.h"
#include "platform/Stream.h"

namespace kevrale {

namespace {

enum class SourceKind { None, Png, Tiff, Jpeg };

// The kind of a file for the bundled plug-ins, by its first bytes as they
// tell it.
SourceKind CodecOf(TStream& stream) {
  uint8_t head[8] = {};
  const size_t got = stream.ReadAt(head, sizeof head, 0);
  if (got >= 8 && std::memcmp(head, kPngSignature, 8) == 0) return SourceKind::Png;
  if (got >= 4 &&
      ((head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) && head[3] == 0) ||
       (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43))))
    return SourceKind::Tiff;
  if (got >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return SourceKind::Jpeg;
  return SourceKind::None;
}

uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The colour table and density of a BMP file.
SourceFacts BmpFacts(TStream& stream) {
  SourceFacts facts;
  stream.SetPosition(0);
  const BmpHeader header = ReadBmpHeader(stream);
  if (header.bit_count <= 8) {
    std::vector<uint32_t> colours;
    for (uint32_t c : header.palette) colours.push_back(c | 0xFF000000u);
    facts.colours = std::move(colours);
  }
  // The densities of an information header of 40 bytes or more.
  uint8_t info[32] = {};
  if (stream.ReadAt(info, sizeof info, 14) == sizeof info && Le32(info) >= 40) {
    facts.x_ppm = Le32(info + 24);
    facts.y_ppm = Le32(info + 28);
  }
  return facts;
}

class BmpRowSource final : public ImageRowSource {
 public:
  BmpRowSource(TStream& stream, const TLoadLimits& limits) : reader_(stream, limits) {
    width_ = reader_.Width();
    height_ = reader_.Height();
    facts_ = BmpFacts(stream);
  }
  bool Streams() const { return reader_.Streams(); }
  void Check() override {
    reader_.Check();
    format_ = reader_.Format();
  }
  void ReadRows(int y0, TBitmap& band) override { reader_.ReadRows(y0, band); }

 private:
  BmpRowReader reader_;
};

}  // namespace

bool StreamableSize(uint64_t width, uint64_t height, const TLoadLimits& limits) {
  if (width == 0 || height == 0) return false;
  if (limits.MaxWidth > 0 && width > uint64_t(limits.MaxWidth)) return false;
  return width * height <= uint64_t(TBitmap::kMaxPixels);
}

std::vector<uint32_t> GreyRamp(uint32_t levels, bool inverted) {
  std::vector<uint32_t> table;
  for (uint32_t i = 0; i < levels; ++i) {
    const uint32_t level = levels > 1 ? (i * 255 + (levels - 1) / 2) / (levels - 1) : 0;
    const uint32_t v = inverted ? 255 - level : level;
    table.push_back(0xFF000000u | v << 16 | v << 8 | v);
  }
  return table;
}

void SequentialRowSource::RequireRows(int y0, const TBitmap& band) const {
  if (!checked_ || band.Width() != width_ || y0 < 0 || band.Height() > height_ - y0)
    throw std::logic_error("row source: rows outside the picture");
}

const uint8_t* SequentialRowSource::Decode(int y0, int count) {
  if (count <= 0 || count > kRowsAtOnce || y0 < 0 || count > height_ - y0)
    throw std::logic_error("row source: rows outside the picture");
  const size_t row_bytes = RowStride();
  if (started_ && y0 >= first_row_ && y0 + count <= next_row_)
    return buffer_.data() + size_t(y0 - first_row_) * row_bytes;
  if (!started_ || y0 < first_row_) {
    started_ = false;
    Restart();
    started_ = true;
    next_row_ = 0;
    first_row_ = 0;
    buffer_.resize(row_bytes * kRowsAtOnce);
  }
  // Rows of the request already decoded move to the front; rows before it
  // are decoded and passed over.
  int kept = 0;
  if (y0 < next_row_) {
    kept = next_row_ - y0;
    std::memmove(buffer_.data(), buffer_.data() + size_t(y0 - first_row_) * row_bytes,
                 size_t(kept) * row_bytes);
  }
  while (next_row_ < y0) {
    const int skip = std::min(kRowsAtOnce, y0 - next_row_);
    DecodeNext(buffer_.data(), skip);
    next_row_ += skip;
  }
  const int rows = std::max(count, std::min(kRowsAtOnce, height_ - y0));
  DecodeNext(buffer_.data() + size_t(kept) * row_bytes, rows - kept);
  first_row_ = y0;
  next_row_ = y0 + rows;
  return buffer_.data();
}

void SequentialRowSource::DropKeptData() {
  started_ = false;
  first_row_ = next_row_ = 0;
  std::vector<uint8_t>().swap(buffer_);
  DropDecoder();
}

void SequentialRowSource::ReadRows(int y0, TBitmap& band) {
  RequireRows(y0, band);
  const int out_bytes = band.BytesPerPixel();
  const size_t used = size_t(width_) * size_t(out_bytes);
  for (int done = 0; done < band.Height();) {
    const int count = std::min(kRowsAtOnce, band.Height() - done);
    const uint8_t* rows = Decode(y0 + done, count);
    for (int i = 0; i < count; ++i) {
      uint8_t* out = band.ScanLine(done + i);
      Convert(rows + size_t(i) * RowStride(), out, out_bytes);
      std::memset(out + used, 0, band.Stride() - used);
    }
    done += count;
  }
}

std::unique_ptr<ImageRowSource> OpenRowSource(TStream& stream, RowSourceKind kind,
                                              const TLoadLimits& limits) {
  if (kind == RowSourceKind::Bmp) {
    stream.SetPosition(0);
    auto source = std::make_unique<BmpRowSource>(stream, limits);
    if (!source->Streams()) return nullptr;
    return source;
  }
  switch (CodecOf(stream)) {
    case SourceKind::Png:
      return OpenPngRowSource(stream, limits);
    case SourceKind::Tiff:
      return OpenTiffRowSource(stream, limits);
    case SourceKind::Jpeg:
      return OpenJpegRowSource(stream, limits);
    case SourceKind::None:
      break;
  }
  return nullptr;
}

std::optional<SourceFacts> ReadSourceFacts(const std::string& path, RowSourceKind kind) {
  try {
    TFileStream stream(path, TFileStream::Mode::Read);
    if (kind == RowSourceKind::Bmp) return BmpFacts(stream);
    switch (CodecOf(stream)) {
      case SourceKind::Png:
        return ReadPngFacts(stream);
      case SourceKind::Tiff:
        return ReadTiffFacts(stream);
      case SourceKind::Jpeg:
        return ReadJpegFacts(stream);
      case SourceKind::None:
        break;
    }
  } catch (const std::exception&) {
    // A file whose header cannot be read has no facts to give; its load
    // reports what is wrong with it.
  }
  return std::nullopt;
}

}  // namespace kevrale
