// The deletion test as a table, so that the engine decides a pixel with one
// lookup.
//
// In pass t a neighbour can hold the mark -t only where pass t has already
// been: x2, x3, x4 (the row above, done one step earlier) and x5 (the pixel
// to the left, done just before). x1 and x6..x8 hold 1 or background. So
// the answer is a function of a few bits:
//
//      x4 x3 x2        bit  0, 1, 2    above: present (cell 1)
//      x5  P x1        bit  3, 4, 5    above: deleted in this pass (cell -t)
//      x6 x7 x8        bit  6, 7, 8    below: present
//                      bit  9          x5 was present when the pass began
//                      bit 10          P itself (ignored: always present)
//                      bit 11          x1 present
//
// and of whether x5 was deleted in this pass, which depends on the answer
// for the pixel before. Each entry holds both answers (bit 0: x5 not deleted
// in this pass, bit 1: x5 deleted in this pass), so the engine looks up the
// entry before it knows the answer for x5.
//
// The groups of three run x-1, x, x+1, so each is three adjacent bits of a
// row's bitset; bits 9..11 are the three bits of the pixel's own row.
#pragma once

#include <array>
#include <cstdint>

#include "thinning/DeletionTest.h"

namespace kevrale {

class DeletionTable {
 public:
  static constexpr int kSize = 1 << 12;

  // The neighbourhood that an index stands for in pass `pass`, with x5
  // deleted in this pass or not. A bit combination that cannot occur
  // (present and deleted at once) reads as deleted.
  static constexpr Neighbourhood NeighbourhoodOf(uint32_t index, int pass, bool west_deleted) {
    const auto bit = [index](int n) { return (index >> n) & 1u; };
    const auto cell = [pass](uint32_t present, uint32_t deleted) {
      return deleted ? -pass : present ? 1 : 0;
    };
    Neighbourhood x{};
    x[0] = cell(bit(11), 0);                    // x1
    x[1] = cell(bit(2), bit(5));                // x2
    x[2] = cell(bit(1), bit(4));                // x3
    x[3] = cell(bit(0), bit(3));                // x4
    x[4] = cell(bit(9), west_deleted ? 1 : 0);  // x5
    x[5] = cell(bit(6), 0);                     // x6
    x[6] = cell(bit(7), 0);                     // x7
    x[7] = cell(bit(8), 0);                     // x8
    return x;
  }

  // The answer for an index, the same in every pass, since the test only
  // tells 1, -t and anything else apart.
  static bool Deletes(uint32_t index, bool west_deleted);
  // Both answers per index, as described above.
  static const std::array<uint8_t, kSize>& Table();
};

namespace detail {

constexpr std::array<uint8_t, DeletionTable::kSize> BuildDeletionTable() {
  std::array<uint8_t, DeletionTable::kSize> table{};
  for (uint32_t i = 0; i < uint32_t(DeletionTable::kSize); ++i) {
    const bool kept_west = DeletionTestDeletes(DeletionTable::NeighbourhoodOf(i, 1, false), 1);
    // x5 can be deleted in this pass only if it was present.
    const bool gone_west = (i >> 9) & 1
                               ? DeletionTestDeletes(DeletionTable::NeighbourhoodOf(i, 1, true), 1)
                               : kept_west;
    table[i] = uint8_t((kept_west ? 1 : 0) | (gone_west ? 2 : 0));
  }
  return table;
}

inline constexpr std::array<uint8_t, DeletionTable::kSize> kDeletionTable = BuildDeletionTable();

}  // namespace detail

inline bool DeletionTable::Deletes(uint32_t index, bool west_deleted) {
  return ((detail::kDeletionTable[index & (kSize - 1)] >> (west_deleted ? 1 : 0)) & 1) != 0;
}

inline const std::array<uint8_t, DeletionTable::kSize>& DeletionTable::Table() {
  return detail::kDeletionTable;
}

}  // namespace kevrale
