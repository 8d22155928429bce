// The image data of a non-interlaced PNG whose rows libpng would hand over
// as they are stored (8-bit grey, palette, RGB or RGBA) and that a group of
// rows takes (kMostGroupRowBytes), unpacked as the rows are asked for with
// ISA-L's inflate, three times as fast as zlib, one group of rows at a
// time into a buffer that the processor's caches hold, and the group then
// unfiltered together (UnfilterRowGroup). A failure names no cause:
// whatever this cannot read (a chunk, a stream that ends early or declares
// a small window, a filter past 4) is left to libpng from the same row
// on, which decides as the plug-in does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct inflate_state;

namespace kevrale {

class TStream;

class PngImageData {
 public:
  // The image data of the PNG file in `stream`, `height` rows of
  // `row_bytes` with `pixel_bytes` a pixel; nothing is read yet.
  PngImageData(TStream& stream, size_t row_bytes, size_t pixel_bytes, int height);
  ~PngImageData();
  PngImageData(const PngImageData&) = delete;
  PngImageData& operator=(const PngImageData&) = delete;

  // Back to the first row.
  void Restart();
  // The next `count` rows, unfiltered, `stride` apart from `rows`; false
  // where the fast path cannot give them (the rows are then unspecified).
  bool NextRows(uint8_t* rows, size_t stride, int count);

 private:
  // Unpacks exactly `bytes` into `out`.
  bool Inflate(uint8_t* out, size_t bytes);
  // The next piece of the IDAT chunks' contents into input_; false where
  // there is none or a chunk cannot be read (ReadInput also where reading
  // raises).
  bool ReadInput();
  bool ReadNextPiece();
  bool NextInputByte(uint8_t& byte);
  // Reads and checks the zlib header before the deflate stream.
  bool SkipZlibHeader();

  TStream& stream_;
  size_t row_bytes_;
  size_t pixel_bytes_;
  int height_;
  size_t window_stride_;  // SpreadRowStride of a stored row
  int next_ = 0;

  std::unique_ptr<inflate_state> state_;
  bool header_read_ = false;  // the zlib header
  bool broken_ = false;       // the data failed once: false until Restart
  // Where the chunks are read: the next chunk's header, or the rest of
  // the current IDAT chunk's contents.
  int64_t file_size_ = -1;  // read with the first chunk
  int64_t chunk_at_ = 8;
  int64_t data_at_ = 0;
  int64_t data_left_ = 0;
  bool idat_met_ = false;
  bool data_ended_ = false;  // a chunk after the IDAT ones was met
  std::vector<uint8_t> input_;
  // One group of stored rows, each its filter byte first.
  std::vector<uint8_t> window_;
  std::vector<uint8_t> last_;  // the row before the next one, unfiltered
};

}  // namespace kevrale
