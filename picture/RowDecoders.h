// The row sources of the formats that the bundled plug-ins decode, each
// beside its codec (ImageRowSource.h says what they give).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "picture/ImageRowSource.h"
#include "picture/RowStride.h"

namespace kevrale {

// Whether a picture of this size streams: not empty, no wider than the
// limits allow and no larger than a bitmap may be; any other is left to
// the whole-picture load, which says what is wrong with it.
bool StreamableSize(uint64_t width, uint64_t height, const TLoadLimits& limits);

// The bundled plug-ins' colour table of `levels` greys (0xAARRGGBB, opaque)
// from black to white, or from white to black when `inverted`, each level
// rounded to the nearest of 0..255.
std::vector<uint32_t> GreyRamp(uint32_t levels, bool inverted = false);

// A decoder that only goes forward (PNG, JPEG): rows are decoded a few at
// a time into a buffer, and rows above the next one start the file over.
class SequentialRowSource : public ImageRowSource {
 public:
  void ReadRows(int y0, TBitmap& band) final;
  void DropKeptData() final;

 protected:
  // Rows decoded at a time, the next ones kept for the bands that follow.
  static constexpr int kRowsAtOnce = 32;

  // `stored_bytes` a pixel in the decoded rows.
  explicit SequentialRowSource(int stored_bytes) : stored_bytes_(stored_bytes) {}
  size_t StoredRowBytes() const { return size_t(width_) * size_t(stored_bytes_); }
  // How far apart the decoded rows lie (SpreadRowStride).
  size_t RowStride() const { return SpreadRowStride(StoredRowBytes()); }
  // Rows y0 .. y0 + count - 1 (count at most kRowsAtOnce), decoded, in a
  // buffer RowStride() apart; up to kRowsAtOnce rows are decoded at a
  // time, and rows already decoded are taken from the buffer.
  const uint8_t* Decode(int y0, int count);
  // Raises std::logic_error unless Check() has run and the band lies in
  // the picture.
  void RequireRows(int y0, const TBitmap& band) const;

  bool checked_ = false;

 private:
  // Starts the file over, ready for row 0.
  virtual void Restart() = 0;
  // Lets go of the decoder's state and whatever it keeps; Restart() comes
  // before any further row.
  virtual void DropDecoder() {}
  // Decodes the next `count` rows into `rows`, RowStride() apart.
  virtual void DecodeNext(uint8_t* rows, int count) = 0;
  // One decoded row into a band row of `out_bytes` a pixel.
  virtual void Convert(const uint8_t* in, uint8_t* out, int out_bytes) const = 0;

  int stored_bytes_;
  bool started_ = false;
  int next_row_ = 0;             // the next row the decoder gives
  int first_row_ = 0;            // the row at the start of the buffer
  std::vector<uint8_t> buffer_;  // rows first_row_ .. next_row_ - 1
};

std::unique_ptr<ImageRowSource> OpenPngRowSource(TStream& stream, const TLoadLimits& limits);
std::unique_ptr<ImageRowSource> OpenTiffRowSource(TStream& stream, const TLoadLimits& limits);
std::unique_ptr<ImageRowSource> OpenJpegRowSource(TStream& stream, const TLoadLimits& limits);

std::optional<SourceFacts> ReadPngFacts(TStream& stream);
std::optional<SourceFacts> ReadTiffFacts(TStream& stream);
std::optional<SourceFacts> ReadJpegFacts(TStream& stream);

}  // namespace kevrale
