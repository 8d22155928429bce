// A picture file read one band of rows at a time, top down, without
// holding the picture: BMP by the BMP row reader, PNG, TIFF and JPEG by
// the program's own decoders. Rows come out exactly as loading the whole
// file gives them (through the BMP reader or the bundled plug-in of the
// format): B G R, or B G R A for a picture with alpha.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "picture/TBitmap.h"
#include "picture/TGraphic.h"

namespace kevrale {

class TStream;

// What a file says of its colours before its pixels are read.
struct SourceFacts {
  // The colours of a grey or palette picture (0xAARRGGBB, opaque): every
  // pixel is one of them. None where the pixels themselves must tell.
  std::optional<std::vector<uint32_t>> colours;
  // Pixels per metre; 0 where the file does not say.
  uint32_t x_ppm = 0;
  uint32_t y_ppm = 0;
};

class ImageRowSource {
 public:
  virtual ~ImageRowSource() = default;

  int Width() const { return width_; }
  int Height() const { return height_; }
  const SourceFacts& Facts() const { return facts_; }

  // Reads what the format of the rows depends on: whether a picture that
  // may carry alpha does (which takes a pass over its pixels), and every
  // check the whole-picture load makes of the pixels before it gives any.
  // Raises what that load raises.
  virtual void Check() = 0;
  // The format the whole-picture load gives the picture; after Check().
  TPixelFormat Format() const { return format_; }

  // Fills `band` with rows y0 .. y0 + band.Height() - 1, in the band's own
  // format (Format(), or 32 bits from a picture without alpha: every
  // pixel then opaque). Bands may come in any order; a decoder that can
  // only go forward starts over for rows above the last one it read.
  virtual void ReadRows(int y0, TBitmap& band) = 0;
  // Says that the rows will not be read again: a decoder lets go of what
  // it keeps for another reading (a PNG's unpacked image data) now, on the
  // caller's thread, rather than when the source goes. Reading again
  // still works, at the cost of the first reading.
  virtual void DropKeptData() {}

 protected:
  int width_ = 0;
  int height_ = 0;
  TPixelFormat format_ = TPixelFormat::pf24bit;
  SourceFacts facts_;
};

// Which decoders a file is for: the program's BMP reader (a name that the
// format registry gives to the bitmap), or those of the bundled plug-ins,
// which tell PNG, TIFF and JPEG by their first bytes.
enum class RowSourceKind { Bmp, Codec };

// Opens `stream` (which must outlive the source) as a row source where its
// file streams: BMP without RLE, non-interlaced PNG, TIFF and JPEG. Returns
// nullptr for every other file, which loads as a whole. A BMP file raises
// what the BMP reader raises for its header; a picture of another format
// that the load would refuse or decode in another way (too wide, too many
// pixels, a layout this decoder leaves to the plug-in) gives nullptr, so
// that the whole-picture load reports it.
std::unique_ptr<ImageRowSource> OpenRowSource(TStream& stream, RowSourceKind kind,
                                              const TLoadLimits& limits = {});

// The facts of a file that these decoders read (an RLE-coded BMP and an
// interlaced PNG included), without its pixels; none for any other file.
std::optional<SourceFacts> ReadSourceFacts(const std::string& path, RowSourceKind kind);

// Raised by the decoders of PNG, TIFF and JPEG rows where the file turns
// out to be broken; the whole-picture load then says what is wrong.
class ERowSourceFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace kevrale
