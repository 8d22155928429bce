#include "thinning/RowRing.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/VectorClones.h"
#include "thinning/DeletionWord.h"

namespace kevrale {

namespace {

enum Bitset { kLoaded = 0, kPresent = 1, kDeleted = 2 };

// Word w of a bitset with its neighbours; words -1 and w + 1 exist.
inline WordTriple TripleAt(const uint64_t* bits, size_t w) {
  return {bits[w - 1], bits[w], bits[w + 1]};
}

// The answers of a pass for words [0, count) of a row, each from the row
// as it was when the pass began: free of branches and of any dependence
// between words, so that the compiler does several words at once.
KEVRALE_VECTOR_CLONES void AnswerWords(const uint64_t* __restrict row,
                                       const uint64_t* __restrict up,
                                       const uint64_t* __restrict up_marks,
                                       const uint64_t* __restrict down, size_t count,
                                       uint64_t* __restrict west_kept,
                                       uint64_t* __restrict west_gone) {
  for (size_t w = 0; w < count; ++w) {
    const WordAnswers answers =
        AnswerWord(TripleAt(row, w), TripleAt(up, w), TripleAt(up_marks, w), TripleAt(down, w));
    west_kept[w] = answers.west_kept;
    west_gone[w] = answers.west_gone;
  }
}

}  // namespace

RowRing::RowRing(int width)
    : width_(std::max(width, 0)),
      stride_((size_t(width_) + 2 + 63) / 64 + 1),
      words_(1 + size_t(kSlots) * 3 * stride_, 0),
      clear_(1 + stride_, 0),
      last_pass_(kSlots, 0),
      any_present_(kSlots, 0),
      west_kept_(stride_),
      west_gone_(stride_) {}

void RowRing::Load(int slot, const uint8_t* pixels, int bytes_per_pixel, const TargetRule& rule) {
  uint64_t* loaded = Bits(slot, kLoaded);
  std::fill_n(loaded, stride_, 0);
  MarkTargetPixels(rule, pixels, width_, bytes_per_pixel, loaded);
  uint64_t any = 0;
  for (size_t w = 0; w < stride_; ++w) any |= loaded[w];
  std::memcpy(Bits(slot, kPresent), loaded, stride_ * sizeof(uint64_t));
  std::fill_n(Bits(slot, kDeleted), stride_, 0);
  last_pass_[size_t(slot)] = 0;
  any_present_[size_t(slot)] = any != 0;
}

void RowRing::LoadBits(int slot, const uint64_t* bits) {
  uint64_t any = 0;
  for (size_t w = 0; w < stride_; ++w) any |= bits[w];
  std::memcpy(Bits(slot, kLoaded), bits, stride_ * sizeof(uint64_t));
  std::memcpy(Bits(slot, kPresent), bits, stride_ * sizeof(uint64_t));
  last_pass_[size_t(slot)] = 0;
  any_present_[size_t(slot)] = any != 0;
}

void RowRing::LoadEmpty(int slot) {
  std::fill_n(Bits(slot, 0), 3 * stride_, 0);
  last_pass_[size_t(slot)] = 0;
  any_present_[size_t(slot)] = 0;
}

bool RowRing::RunPass(int pass, int above, int slot, int below) {
  if (!any_present_[size_t(slot)]) return false;
  const uint64_t* up = Bits(above, kPresent);
  // The row above had this pass one step ago, unless the pass count was
  // too low then; only then can it hold marks -pass.
  const uint64_t* up_marks =
      last_pass_[size_t(above)] == pass ? Bits(above, kDeleted) : clear_.data() + 1;
  const uint64_t* down = Bits(below, kPresent);
  uint64_t* row = Bits(slot, kPresent);
  uint64_t* marks = Bits(slot, kDeleted);

  // The answers of every word first, then the deletions word by word, left
  // to right: only whether the cell before a word went links one word to
  // the next.
  const size_t words = stride_ - 1;
  AnswerWords(row, up, up_marks, down, words, west_kept_.data(), west_gone_.data());
  bool west_deleted = false;
  uint64_t any_gone = 0;
  uint64_t any_left = 0;
  for (size_t w = 0; w < words; ++w) {
    const uint64_t cells = row[w];
    uint64_t gone = 0;
    if (cells != 0) {
      gone = ResolveWord({west_kept_[w], west_gone_[w]}, west_deleted);
      row[w] = cells & ~gone;
      any_left |= cells & ~gone;
    } else {
      west_deleted = false;
    }
    marks[w] = gone;
    any_gone |= gone;
  }
  last_pass_[size_t(slot)] = pass;
  any_present_[size_t(slot)] = any_left != 0;
  return any_gone != 0;
}

bool AnyRemovedCells(const uint64_t* loaded, const uint64_t* present, size_t stride) {
  for (size_t w = 0; w < stride; ++w)
    if ((loaded[w] & ~present[w]) != 0) return true;
  return false;
}

bool PaintRemovedCells(const uint64_t* loaded, const uint64_t* present, size_t stride,
                       uint8_t* pixels, int bytes_per_pixel, uint32_t surround,
                       std::optional<uint8_t> alpha) {
  const uint8_t blue = uint8_t(surround >> 16);
  const uint8_t green = uint8_t(surround >> 8);
  const uint8_t red = uint8_t(surround);
  const bool set_alpha = alpha.has_value() && bytes_per_pixel == 4;
  const uint8_t alpha_byte = alpha.value_or(0);
  bool painted = false;
  for (size_t w = 0; w < stride; ++w) {
    uint64_t gone = loaded[w] & ~present[w];
    painted |= gone != 0;
    while (gone != 0) {
      const int x = int(w * 64) + std::countr_zero(gone) - 1;
      uint8_t* p = pixels + size_t(x) * size_t(bytes_per_pixel);
      p[0] = blue;
      p[1] = green;
      p[2] = red;
      if (set_alpha) p[3] = alpha_byte;
      gone &= gone - 1;
    }
  }
  return painted;
}

bool RowRing::AnyRemoved(int slot) const {
  return AnyRemovedCells(Bits(slot, kLoaded), Bits(slot, kPresent), stride_);
}

bool RowRing::WriteBack(int slot, uint8_t* pixels, int bytes_per_pixel, uint32_t surround,
                        std::optional<uint8_t> alpha) const {
  return PaintRemovedCells(Bits(slot, kLoaded), Bits(slot, kPresent), stride_, pixels,
                           bytes_per_pixel, surround, alpha);
}

}  // namespace kevrale
