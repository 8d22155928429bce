// The thinning engine's row ring as it stood before the word-parallel
// passes, kept only as the benchmarks' baseline; nothing in the program
// links it. It holds the newest 20 rows of the picture, each as bitsets
// over the ring columns 0..W+1 (ring column x+1 is picture column x;
// columns 0 and W+1 are the border and stay clear). Per row:
//   loaded   the target pixels as the row was read
//   present  the cells still 1
//   deleted  the cells that the row's latest pass deleted (its marks -t)
// A cell holding the mark of an earlier pass is loaded but neither present
// nor in `deleted`; the deletion test reads such a cell as background, so
// nothing more is kept of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "picture/TBitmap.h"
#include "platform/Color.h"

namespace kevrale::bench {

class BaselineRowRing {
 public:
  static constexpr int kSlots = 20;
  // Where picture row -1 would go: the top border row, clear at the start.
  static constexpr int kTopBorderSlot = 18;

  // A ring for a picture `width` pixels wide, every slot clear.
  explicit BaselineRowRing(int width);

  static constexpr int SlotOf(int y) { return (y + 19) % kSlots; }

  // Loads picture row `pixels` (`bytes_per_pixel` 3 or 4, B G R [A]) into a
  // slot: a cell is 1 where the low 24 bits of the pixel equal `target`
  // (0x00BBGGRR).
  void Load(int slot, const uint8_t* pixels, int bytes_per_pixel, uint32_t target);
  // Clears a slot: an empty row past the bottom edge.
  void LoadEmpty(int slot);

  // Runs pass `pass` over the row in `slot` with the rows above and below,
  // left to right; true when it deleted at least one pixel.
  bool RunPass(int pass, int above, int slot, int below);

  // Paints every loaded pixel of the slot that is no longer present with
  // `surround`, keeping the fourth byte of 32-bit pixels; true when it
  // painted anything.
  bool WriteBack(int slot, uint8_t* pixels, int bytes_per_pixel, uint32_t surround) const;

 private:
  uint64_t* Bits(int slot, int which) {
    return words_.data() + (size_t(slot) * 3 + size_t(which)) * stride_;
  }
  const uint64_t* Bits(int slot, int which) const {
    return words_.data() + (size_t(slot) * 3 + size_t(which)) * stride_;
  }

  int width_;
  size_t stride_;  // words per bitset, including one clear word past the end
  std::vector<uint64_t> words_;
  std::vector<uint64_t> clear_;  // a clear bitset, for "no marks of this pass"
  std::vector<int> last_pass_;   // per slot: the pass that filled `deleted`
  std::vector<char> any_present_;
};

// The whole sweep with the baseline ring: the engine's run without the
// cursor, the width check or any option.
void BaselineThinning(TBitmap& bitmap, TColor target, TColor surround);

}  // namespace kevrale::bench
