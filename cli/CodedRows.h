// The rows of a picture of few colours, kept as a code a pixel in a table
// of up to 256 colours, in as few bits as the colours found so far need
// (one for black and white line art): the source rows a colour scan has
// read, or the result rows of a run, held until the result's colour type
// is known, in an eighth of the memory of their pixels or less.
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

class CodedRows {
 public:
  // The most pixels whose codes are kept.
  static constexpr int64_t kMostPixels = int64_t(32) << 20;

  // Rows of `width` pixels, `height` of them (at most kMostPixels in all).
  CodedRows(int width, int height);

  // Codes row y (rows come top down), adding its colours to the table;
  // false, and nothing kept any more, once the table overflows.
  bool Add(const uint8_t* row, int bytes_per_pixel, int y);
  // The colours, in the order of their codes.
  const ColourTable& Table() const { return table_; }
  // Fills a band with rows y0 .. as they were added, in the band's format.
  void Fill(int y0, TBitmap& band) const;
  // Row y as the packed samples of `layout`, a Grey or Palette layout that
  // holds every colour of the table (std::logic_error where it does not),
  // into `out`: the layout's bytes of a row. Rows may be packed while
  // others are still to be added.
  void Pack(int y, const RasterLayout& layout, uint8_t* out);

 private:
  template <int kBytes>
  bool AddOf(const uint8_t* row, int y);
  // Repacks the codes of rows 0 .. rows - 1 at `bits` each.
  void Widen(int bits, int rows);
  uint8_t* PackedRow(int y) const { return codes_.get() + size_t(y) * stride_; }

  int width_;
  int height_;
  ColourTable table_;
  std::array<uint32_t, 256> colours_{};  // the colour of each code
  size_t coded_colours_ = 0;             // how many of them colours_ has
  // The memory a picture's codes take is fresh from the system, and on a
  // virtual machine its first touch costs more than the coding itself.
  int bits_ = 1;
  size_t stride_;
  std::unique_ptr<uint8_t[]> codes_;
  std::vector<uint8_t> row_codes_;  // one row's codes, a byte each
  // Pack's sample of each code, for the layout, the colours and the bits
  // of the codes it was made for.
  const RasterLayout* packed_for_ = nullptr;
  size_t packed_colours_ = 0;
  int packed_bits_ = 0;
  std::array<uint8_t, 256> samples_{};
  bool same_samples_ = false;      // each code its own sample, at the same bits
  bool inverted_samples_ = false;  // one bit, each code the other sample
};

// Reads every row of `reader` (decoded on a thread of its own where
// `threads` allows) into `table` until the table overflows, and keeps the
// rows in `kept` where that is given and the colours fit.
void ScanColours(ImageRowSource& reader, int threads, int band_rows, ColourTable& table,
                 CodedRows* kept);

}  // namespace kevrale::cli
