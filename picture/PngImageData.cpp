#include "picture/PngImageData.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "picture/PngFilters.h"
#include "picture/PngSignature.h"
#include "platform/BigEndian.h"
#include "platform/PagePopulator.h"
#include "platform/Stream.h"

namespace kevrale {

namespace {

// Unpacked data from this size up has its pages put in place beside the
// unpacking (PagePopulator.h).
constexpr size_t kPopulatedFrom = size_t(4) << 20;

// The compressed image data: the contents of the IDAT chunks, which follow
// one another. Empty where the chunks cannot be read to the last of them.
std::vector<uint8_t> ReadCompressed(TStream& stream) {
  std::vector<uint8_t> data;
  uint8_t head[8];
  if (stream.ReadAt(head, 8, 0) != 8 || std::memcmp(head, kPngSignature, 8) != 0) return {};
  const int64_t size = stream.Size();
  bool in_data = false;
  for (int64_t at = 8; at + 12 <= size;) {
    if (stream.ReadAt(head, 8, at) != 8) return {};
    const uint32_t length = GetBig32(head);
    if (length > 0x7FFFFFFFu || int64_t(length) > size - at - 12) return {};
    const bool idat = std::memcmp(head + 4, "IDAT", 4) == 0;
    if (!idat && in_data) return data;
    if (std::memcmp(head + 4, "IEND", 4) == 0) return {};
    if (idat) {
      in_data = true;
      const size_t old = data.size();
      data.resize(old + length);
      if (stream.ReadAt(data.data() + old, length, at + 8) != length) return {};
    }
    at += 12 + int64_t(length);
  }
  return {};
}

struct DecompressorDeleter {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

}  // namespace

std::unique_ptr<PngImageData> PngImageData::Unpack(TStream& stream, size_t row_bytes,
                                                   size_t pixel_bytes, int height) {
  if (height <= 0 || row_bytes == 0 || (row_bytes + 1) > kMostBytes / size_t(height))
    return nullptr;
  const size_t unpacked = (row_bytes + 1) * size_t(height);
  const std::vector<uint8_t> compressed = ReadCompressed(stream);
  if (compressed.empty()) return nullptr;
  const std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor(
      libdeflate_alloc_decompressor());
  if (!decompressor) return nullptr;
  std::unique_ptr<uint8_t[]> data(new uint8_t[unpacked]);
  // The back two thirds are put in place beside the unpacking, which
  // reaches the first third on its own meanwhile.
  std::optional<PagePopulator> populator;
  if (unpacked >= kPopulatedFrom) populator.emplace(data.get(), unpacked, unpacked / 3);
  // Exactly the rows, from exactly the chunks' data: a stream that ends
  // early or late, or extra data, is libpng's to judge.
  size_t used = 0, got = 0;
  if (libdeflate_zlib_decompress_ex(decompressor.get(), compressed.data(), compressed.size(),
                                    data.get(), unpacked, &used, &got) != LIBDEFLATE_SUCCESS ||
      used != compressed.size() || got != unpacked)
    return nullptr;
  populator.reset();
  return std::unique_ptr<PngImageData>(
      new PngImageData(std::move(data), row_bytes, pixel_bytes, height));
}

PngImageData::PngImageData(std::unique_ptr<uint8_t[]> data, size_t row_bytes, size_t pixel_bytes,
                           int height)
    : data_(std::move(data)),
      row_bytes_(row_bytes),
      pixel_bytes_(pixel_bytes),
      height_(height),
      last_(row_bytes, 0) {}

void PngImageData::Restart() {
  next_ = 0;
  std::fill(last_.begin(), last_.end(), uint8_t(0));
}

bool PngImageData::NextRows(uint8_t* rows, size_t stride, int count) {
  if (count <= 0) return true;
  if (count > height_ - next_) return false;
  if (row_bytes_ <= kMostGroupRowBytes) {
    // A group of rows at a time, in the lanes of a vector.
    for (int done = 0; done < count;) {
      const int group = std::min(count - done, int(kMostGroupRows));
      const uint8_t* above = done == 0 ? last_.data() : rows + size_t(done - 1) * stride;
      if (!UnfilterRowGroup(data_.get() + size_t(next_) * (row_bytes_ + 1), row_bytes_ + 1, above,
                            rows + size_t(done) * stride, stride, row_bytes_, pixel_bytes_, group))
        return false;
      done += group;
      next_ += group;
    }
    std::memcpy(last_.data(), rows + size_t(count - 1) * stride, row_bytes_);
    return true;
  }
  for (int i = 0; i < count; ++i, ++next_) {
    const uint8_t* stored = data_.get() + size_t(next_) * (row_bytes_ + 1);
    const uint8_t* above = i == 0 ? last_.data() : rows + size_t(i - 1) * stride;
    uint8_t* out = rows + size_t(i) * stride;
    const uint8_t* next_stored = stored + row_bytes_ + 1;
    if (stored[0] == 4 && i + 1 < count && next_stored[0] == 4) {
      // Two Paeth rows in a row, the commonest filter of photographs and
      // colour scans.
      UnpaethTwoRows(stored + 1, next_stored + 1, above, out, out + stride, row_bytes_,
                     pixel_bytes_);
      ++i;
      ++next_;
      continue;
    }
    if (!UnfilterRow(stored[0], stored + 1, above, out, row_bytes_, pixel_bytes_)) return false;
  }
  std::memcpy(last_.data(), rows + size_t(count - 1) * stride, row_bytes_);
  return true;
}

}  // namespace kevrale
