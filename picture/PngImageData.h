// The image data of a non-interlaced PNG whose rows libpng would hand over
// as they are stored (8-bit grey, palette, RGB or RGBA), unpacked in one go
// with libdeflate, twice as fast as zlib a band at a time, where the
// unpacked rows take at most kMostBytes; the rows are then unfiltered a
// group at a time (UnfilterRowGroup), or one by one where they are wider
// than it takes. Anything unexpected (a checksum, data too short or too
// long) leaves the file to libpng, which decides as the plug-in does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kevrale {

class TStream;

class PngImageData {
 public:
  static constexpr size_t kMostBytes = size_t(64) << 20;

  // The image data of the PNG file in `stream`, `height` rows of
  // `row_bytes` with `pixel_bytes` a pixel; nullptr where it does not
  // unpack to exactly those rows, or would take more than kMostBytes.
  static std::unique_ptr<PngImageData> Unpack(TStream& stream, size_t row_bytes, size_t pixel_bytes,
                                              int height);

  // Back to the first row.
  void Restart();
  // The next `count` rows, unfiltered, `stride` apart from `rows`; false
  // where a row names a filter that does not exist.
  bool NextRows(uint8_t* rows, size_t stride, int count);

 private:
  PngImageData(std::unique_ptr<uint8_t[]> data, size_t row_bytes, size_t pixel_bytes, int height);

  std::unique_ptr<uint8_t[]> data_;  // rows of a filter byte and row_bytes_
  size_t row_bytes_;
  size_t pixel_bytes_;
  int height_;
  int next_ = 0;
  std::vector<uint8_t> last_;  // the row before the next one, unfiltered
};

}  // namespace kevrale
