#include "cli/GuessedResult.h"

#include <stdexcept>

namespace kevrale::cli {

GuessedResult::GuessedResult(TImageFileFormat format, int width, int height,
                             TPixelFormat pixel_format)
    : format_(format), width_(width), height_(height), pixel_format_(pixel_format) {}

void GuessedResult::Start(const RasterLayout& guess) {
  if (layout_ || given_up_) return;
  if (guess.kind != RasterKind::Grey) {
    given_up_ = true;
    return;
  }
  // Every grey the bits hold, whichever of them the rows bring.
  layout_ = guess;
  layout_->colours.clear();
  const unsigned levels = 1u << guess.bits;
  for (unsigned i = 0; i < levels; ++i) {
    const uint32_t grey = i * 255 / (levels - 1);
    layout_->colours.push_back(0xFF000000u | grey << 16 | grey << 8 | grey);
  }
  writer_ = MakeImageRowWriter(format_, file_, width_, height_, pixel_format_, *layout_);
  row_.resize((size_t(width_) * size_t(guess.bits) + 7) / 8);
}

void GuessedResult::Add(int y0, int count, CodedRows& codes) {
  if (given_up_ || !writer_) return;
  try {
    for (int y = y0; y < y0 + count; ++y) {
      codes.Pack(y, *layout_, row_.data());
      writer_->WritePackedRow(y, row_.data());
    }
  } catch (const std::logic_error&) {
    // A colour that the guessed grey does not hold.
    given_up_ = true;
    writer_.reset();
    file_.Clear();
  }
}

bool GuessedResult::Matches(const RasterLayout& layout) const {
  return !given_up_ && writer_ && layout.kind == RasterKind::Grey && layout.bits == layout_->bits &&
         layout.x_ppm == layout_->x_ppm && layout.y_ppm == layout_->y_ppm;
}

void GuessedResult::WriteTo(TStream& out) {
  writer_->Finish();
  out.WriteBuffer(file_.Memory(), file_.Data().size());
}

}  // namespace kevrale::cli
