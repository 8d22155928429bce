// A PNG or TIFF result written while the run goes on, before the source's
// colours are all known, in grey of as few bits as the colours of its
// first rows (and the surround) need: line art shows its colours in its
// first rows. The writing thread, which has time to spare, packs the rows
// from their codes and compresses them as they come, and where the whole
// picture's colour type turns out the same the run has only to copy the
// file; else the guess is dropped and the result is written from the
// kept codes, as without it.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "cli/CodedRows.h"
#include "picture/ImageFileFormat.h"
#include "picture/ImageRowWriter.h"
#include "picture/RasterLayout.h"
#include "platform/Stream.h"

namespace kevrale::cli {

class GuessedResult {
 public:
  GuessedResult(TImageFileFormat format, int width, int height, TPixelFormat pixel_format);

  // The guess: the layout that the colours of the first band give, before
  // it is added. One that is not grey ends the guessing.
  void Start(const RasterLayout& guess);
  // Rows y0 .. y0 + count - 1 of the result, in order, as `codes` keeps
  // them; a colour that the guessed grey does not hold ends the guessing.
  void Add(int y0, int count, CodedRows& codes);
  // Whether the file written is the one `layout` gives.
  bool Matches(const RasterLayout& layout) const;
  // Ends the file written and copies it to `out`.
  void WriteTo(TStream& out);

 private:
  TImageFileFormat format_;
  int width_;
  int height_;
  TPixelFormat pixel_format_;
  bool given_up_ = false;
  std::optional<RasterLayout> layout_;
  std::vector<uint8_t> row_;  // one row's samples
  TMemoryStream file_;
  std::unique_ptr<ImageRowWriter> writer_;
};

}  // namespace kevrale::cli
