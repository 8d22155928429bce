// The BMP decoder. It reads the rows of a BMP file, or of a checked DIB in
// memory, one band at a time, top down, decoded into the layout of a
// bitmap: B G R, or B G R A for a picture with alpha, row padding zero.
// Reading every row at once is how a whole picture is read (ReadBmp), so
// a file decodes the same whichever way it is read.
//
// Uncompressed and bit-field rows are read from where they lie when a band
// asks for them. RLE data is one stream of codes, bottom row first: the
// check walks it once, refuses it as a whole if it is broken, and notes
// where every few rows begin, so that a band decodes only the codes near
// its own rows.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "picture/BmpHeader.h"
#include "picture/DibLayout.h"
#include "picture/DibRowDecoder.h"
#include "picture/TBitmap.h"
#include "picture/TGraphic.h"

namespace kevrale {

class TStream;

class BmpRowReader {
 public:
  // Reads and checks the headers at the stream's position; anything that
  // is not a valid BMP raises EInvalidBmp with its reason, and a picture
  // wider than limits.MaxWidth is refused (EPictureTooWide) before
  // anything past its header is read. The stream must outlive the reader;
  // the rows are read with ReadAt only, so the stream's position is free
  // for others.
  BmpRowReader(TStream& stream, const TLoadLimits& limits = {});
  // The rows of a device-independent bitmap that CheckDib accepted, at
  // `bits`, read as the DIB's BMP form would be. `bits` must outlive the
  // reader.
  BmpRowReader(const DibLayout& layout, const uint8_t* bits);

  // Whether reading the file band by band saves holding it whole: every
  // uncompressed and bit-field variant with pixels. RLE pictures are
  // small and read whole, empty ones have nothing to read.
  bool Streams() const { return !header_.Rle() && header_.Pixels() > 0; }

  int Width() const { return header_.width; }
  int Height() const { return header_.height; }

  // Reads the pixels that decide about the picture as a whole: every code
  // of RLE data (EInvalidBmp for runs or skips that leave the picture, data
  // that ends too soon, indices past the colour table), every colour index
  // of a picture whose colour table is shorter than its bit count allows,
  // and the fourth bytes of a 32-bit picture that has alpha only if they
  // vary. After it, the format is known and no row can fail but by the
  // stream itself. Needed before ReadRows.
  void Check();

  // The format that the picture is read into; after Check().
  TPixelFormat Format() const { return format_; }

  // Fills `band` with rows y0 .. y0 + band.Height() - 1, decoded into the
  // band's own format (Format(), or 32 bits: every pixel then opaque when
  // the picture has no alpha). The band is as wide as the picture.
  void ReadRows(int y0, TBitmap& band);

  // Where the pixel data that the reads took ends in the stream.
  uint64_t PixelsEnd() const;

 private:
  // Calls `visit(row, x, count, src)` for stored rows [first, first + count),
  // lowest first, each handed over whole or, when longer than the read
  // buffer, in pieces of whole bytes; `src` holds `count` pixels from x.
  // A visit that returns false ends the walk.
  template <typename Visit>
  void ForEachStored(int32_t first, int32_t count, Visit visit);
  // `size` bytes at `offset` from the start of the pixel data: in place for
  // a DIB in memory, else read into `buffer`.
  const uint8_t* StoredBytes(uint64_t offset, size_t size, std::vector<uint8_t>& buffer);

  void CheckStored();
  void ReadStoredRows(int y0, TBitmap& band);

  // Where the RLE decoder stands: the next code, the next pixel.
  struct RleState {
    uint64_t offset = 0;  // from the start of the pixel data
    int32_t x = 0;
    int32_t y = 0;  // stored row, from the bottom
  };
  class RleCodes;
  // Walks the codes from `state` while the stored row is below `stop`.
  // With a band, draws the pixels of its stored rows [first, stop);
  // without, checks every code and notes the states of marks_.
  void WalkRle(RleState state, int32_t stop, TBitmap* band, int32_t first);
  void ReadRleRows(int y0, TBitmap& band);

  TStream* stream_ = nullptr;
  const uint8_t* memory_ = nullptr;  // the pixel data of a DIB in memory
  BmpHeader header_;
  bool checked_ = false;
  TPixelFormat format_ = TPixelFormat::pf24bit;
  std::vector<uint8_t> stored_;  // stored rows on their way into a band
  // Decoders into 3 and 4 bytes per pixel, made when first needed.
  std::array<std::optional<DibRowDecoder>, 2> decoders_;
  // RLE: the state at the first code of stored row k * kRleMarkRows, for
  // every k whose row the codes reach; where the codes ended.
  std::vector<RleState> marks_;
  uint64_t rle_end_ = 0;
};

}  // namespace kevrale
