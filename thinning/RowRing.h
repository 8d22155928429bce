// The engine's working store: the newest 20 rows of the picture, each held
// as bitsets over the ring columns 0..W+1 (ring column x+1 is picture column
// x; columns 0 and W+1 are the border and stay clear). Per row:
//   loaded   the target pixels as the row was read
//   present  the cells still 1
//   deleted  the cells that the row's latest pass deleted (its marks -t)
// A cell holding the mark of an earlier pass is loaded but neither present
// nor in `deleted`; the deletion test reads such a cell as background, so
// nothing more is kept of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "thinning/TargetRule.h"

namespace kevrale {

// Paints every pixel of a row whose cell is in `loaded` but not in
// `present` (bitsets of `stride` words in the ring's layout) with
// `surround`; the fourth byte of 32-bit pixels becomes `alpha`, or stays
// without it. True when it painted anything.
bool PaintRemovedCells(const uint64_t* loaded, const uint64_t* present, size_t stride,
                       uint8_t* pixels, int bytes_per_pixel, uint32_t surround,
                       std::optional<uint8_t> alpha);
// True when PaintRemovedCells would paint a pixel.
bool AnyRemovedCells(const uint64_t* loaded, const uint64_t* present, size_t stride);

class RowRing {
 public:
  static constexpr int kSlots = 20;
  // Where picture row -1 would go: the top border row, clear at the start.
  static constexpr int kTopBorderSlot = 18;

  // A ring for a picture `width` pixels wide, every slot clear.
  explicit RowRing(int width);

  static constexpr int SlotOf(int y) { return (y + 19) % kSlots; }

  // Loads picture row `pixels` (`bytes_per_pixel` 3 or 4, B G R [A]) into a
  // slot: a cell is 1 where the rule counts the pixel as the target colour.
  void Load(int slot, const uint8_t* pixels, int bytes_per_pixel, const TargetRule& rule);
  // The same where the low 24 bits of the pixel equal `target` (0x00BBGGRR).
  void Load(int slot, const uint8_t* pixels, int bytes_per_pixel, uint32_t target) {
    Load(slot, pixels, bytes_per_pixel, TargetRule{.target = target});
  }
  // Loads a row of cells given as bits in the ring's own layout (Stride()
  // words, bit x + 1 for picture column x): the result of an earlier sweep.
  void LoadBits(int slot, const uint64_t* bits);
  // Clears a slot: an empty row past the bottom edge.
  void LoadEmpty(int slot);

  // Runs pass `pass` over the row in `slot` with the rows above and below,
  // left to right; true when it deleted at least one pixel.
  bool RunPass(int pass, int above, int slot, int below);

  // Stands for a pass over the slot's row that is known to delete nothing:
  // the row stays as it is and holds no marks of any pass.
  void SkipPass(int slot) { last_pass_[size_t(slot)] = 0; }

  // Paints every loaded pixel of the slot that is no longer present with
  // `surround`; the fourth byte of 32-bit pixels becomes `alpha`, or stays
  // without it. True when it painted anything.
  bool WriteBack(int slot, uint8_t* pixels, int bytes_per_pixel, uint32_t surround,
                 std::optional<uint8_t> alpha = std::nullopt) const;
  // True when WriteBack would paint a pixel of the slot.
  bool AnyRemoved(int slot) const;

  // The words of each bitset, including the clear word past the end.
  size_t Stride() const { return stride_; }
  // The slot's cells as loaded, and those still 1; Stride() words each.
  const uint64_t* Loaded(int slot) const { return Bits(slot, 0); }
  const uint64_t* Present(int slot) const { return Bits(slot, 1); }

 private:
  // Word -1 of every bitset is clear too: the last word of the one before,
  // or the clear word in front of them all.
  uint64_t* Bits(int slot, int which) {
    return words_.data() + 1 + (size_t(slot) * 3 + size_t(which)) * stride_;
  }
  const uint64_t* Bits(int slot, int which) const {
    return words_.data() + 1 + (size_t(slot) * 3 + size_t(which)) * stride_;
  }

  int width_;
  size_t stride_;  // words per bitset, including one clear word past the end
  std::vector<uint64_t> words_;
  std::vector<uint64_t> clear_;  // a clear bitset, for "no marks of this pass"; same layout
  std::vector<int> last_pass_;   // per slot: the pass that filled `deleted`
  std::vector<char> any_present_;
  // A pass's answers for each word of the row it runs over.
  std::vector<uint64_t> west_kept_;
  std::vector<uint64_t> west_gone_;
};

}  // namespace kevrale
