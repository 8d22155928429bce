// Reads the rows of a BMP file one band at a time, top down, without
// holding the picture: each band is read from the file when it is asked
// for. Rows come out exactly as the whole-picture reader (ReadBmp) decodes
// them: B G R, or B G R A for a picture with alpha, row padding zero.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "picture/BmpHeader.h"
#include "picture/DibRowDecoder.h"
#include "picture/TBitmap.h"
#include "picture/TGraphic.h"

namespace kevrale {

class TStream;

class BmpRowReader {
 public:
  // Reads and checks the headers at the stream's position, as ReadBmp
  // does, and raises what it raises: a picture wider than limits.MaxWidth
  // is refused before anything past its header is read. The stream must
  // outlive the reader; ReadRows reads it with ReadAt only, so the stream's
  // position is free for others.
  BmpRowReader(TStream& stream, const TLoadLimits& limits = {});

  // Whether the file's rows can be read here one band at a time: every
  // uncompressed and bit-field variant with pixels, not RLE data (whose
  // rows lie bottom-up in one stream of codes) nor an empty picture. The
  // other methods need it to be true.
  bool Streams() const { return streams_; }

  int Width() const { return header_.width; }
  int Height() const { return header_.height; }

  // Reads the pixels that ReadBmp would reject or judge as a whole: every
  // colour index of a picture whose colour table is shorter than its bit
  // count allows (EInvalidBmp when one lies past it), and the fourth bytes
  // of a 32-bit picture that has alpha only if they vary. After it, the
  // format is known and no row can fail but by the stream itself.
  void Check();

  // The format that ReadBmp gives the picture; after Check().
  TPixelFormat Format() const { return format_; }

  // Fills `band` with rows y0 .. y0 + band.Height() - 1, decoded into the
  // band's own format (Format(), or 32 bits from a 24-bit picture: every
  // pixel then opaque). The band is as wide as the picture.
  void ReadRows(int y0, TBitmap& band);

 private:
  // Reads stored rows [first, first + count) into `buffer`, lowest first.
  void ReadStored(int32_t first, int32_t count, std::vector<uint8_t>& buffer);

  TStream& stream_;
  BmpHeader header_;
  bool streams_ = false;
  bool checked_ = false;
  TPixelFormat format_ = TPixelFormat::pf24bit;
  std::vector<uint8_t> stored_;  // stored rows on their way into a band
  // Decoders into 3 and 4 bytes per pixel, made when first needed.
  std::array<std::optional<DibRowDecoder>, 2> decoders_;
};

}  // namespace kevrale
