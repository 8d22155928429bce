// The colours of a source that does not declare them, found by reading
// every pixel before the run. While they fit in a byte and the picture is
// not too large, each pixel's colour code is kept, so that the run reads
// its rows from here instead of decoding the file a second time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "picture/RasterLayout.h"
#include "picture/TBitmap.h"

namespace kevrale {
class ImageRowSource;
}

namespace kevrale::cli {

class ScannedPixels {
 public:
  // Reads every row of `reader` (decoded on a thread of its own where
  // `threads` allows) into `table`, until the table overflows.
  void Scan(ImageRowSource& reader, int threads, int band_rows, ColourTable& table);

  // Whether every pixel's code is kept.
  bool Kept() const { return keep_; }

  // Fills a band with rows y0 .. from the codes, as the source gives them.
  void Fill(int y0, TBitmap& band) const;

 private:
  template <int kBytes>
  void AddRowOf(const uint8_t* row, int y, ColourTable& table);
  // Repacks the codes of rows 0 .. rows - 1 at `bits` each.
  void Widen(int bits, int rows);
  uint8_t* PackedRow(int y) const { return codes_.get() + size_t(y) * stride_; }

  int width_ = 0;
  int height_ = 0;
  bool keep_ = false;
  // The codes, `bits_` each (as few as the colours found so far need: one
  // for black and white line art), rows of `stride_` bytes: the memory a
  // picture's codes take is fresh from the system, and on a virtual
  // machine its first touch costs more than the coding itself.
  int bits_ = 1;
  size_t stride_ = 0;
  std::unique_ptr<uint8_t[]> codes_;
  std::vector<uint8_t> row_codes_;  // one row's codes, a byte each
  std::array<uint32_t, 256> colours_{};
};

}  // namespace kevrale::cli
