// The deletion test on whole words against the table built from the
// step-by-step rules, and the left-to-right settling of the answers
// against a cell-by-cell walk.
#include <gtest/gtest.h>

#include <random>

#include "thinning/DeletionTable.h"
#include "thinning/DeletionWord.h"

namespace kevrale::test {
namespace {

// Sets the cell at `column` (of word `at`; -1 is bit 63 of `before`, 64 bit
// 0 of `after`).
void SetCell(WordTriple& t, int column) {
  if (column < 0)
    t.before |= uint64_t(1) << (64 + column);
  else if (column > 63)
    t.after |= uint64_t(1) << (column - 64);
  else
    t.at |= uint64_t(1) << column;
}

// Every table index, at both ends and inside a word: the table's bit
// layout (see DeletionTable.h) turned into the four bitsets.
TEST(DeletionWord, AnswersMatchTheTableForEveryNeighbourhood) {
  for (const int p : {0, 1, 30, 62, 63}) {
    for (uint32_t index = 0; index < uint32_t(DeletionTable::kSize); ++index) {
      if (((index >> 10) & 1) == 0) continue;  // the cell itself is present
      // A cell above is present or deleted, never both.
      if ((index & 7) & ((index >> 3) & 7)) continue;
      WordTriple row, above, marks, below;
      for (int k = 0; k < 3; ++k) {
        if ((index >> k) & 1) SetCell(above, p - 1 + k);
        if ((index >> (3 + k)) & 1) SetCell(marks, p - 1 + k);
        if ((index >> (6 + k)) & 1) SetCell(below, p - 1 + k);
        if ((index >> (9 + k)) & 1) SetCell(row, p - 1 + k);
      }
      const WordAnswers answers = AnswerWord(row, above, marks, below);
      const uint64_t bit = uint64_t(1) << p;
      const uint8_t both = DeletionTable::Table()[index];
      ASSERT_EQ((answers.west_kept & bit) != 0, (both & 1) != 0)
          << "index " << index << " at " << p;
      ASSERT_EQ((answers.west_gone & bit) != 0, (both & 2) != 0)
          << "index " << index << " at " << p;
      // Cells that are not present get no answer.
      ASSERT_EQ(answers.west_kept & ~row.at, 0u) << "index " << index;
    }
  }
}

// The answers settled one cell at a time, as a pass walks the row.
uint64_t WalkedDeletions(const WordAnswers& a, bool& west_deleted) {
  uint64_t gone = 0;
  for (int i = 0; i < 64; ++i) {
    const uint64_t bit = uint64_t(1) << i;
    west_deleted = ((west_deleted ? a.west_gone : a.west_kept) & bit) != 0;
    if (west_deleted) gone |= bit;
  }
  return gone;
}

TEST(DeletionWord, SettlingAgreesWithACellByCellWalk) {
  std::mt19937_64 rng(42);
  std::vector<WordAnswers> cases = {
      {~uint64_t(0), 0},             // every cell flips: alternating
      {~uint64_t(0), ~uint64_t(0)},  // every cell goes
      {0x5555555555555555u, 0},      // flips apart from each other
      {0xF0F0F0F0F0F0F0F0u, 0x8080808080808080u},
      {uint64_t(1) << 63, 0},
  };
  for (int i = 0; i < 20000; ++i) {
    // Runs of every length: sparse, dense and in between.
    const int density = i % 4;
    uint64_t kept = rng();
    for (int d = 0; d < density; ++d) kept |= rng();
    uint64_t gone = kept & rng() & rng();
    cases.push_back({kept, gone});
  }
  for (const WordAnswers& a : cases) {
    for (const bool west : {false, true}) {
      bool walked_west = west;
      bool settled_west = west;
      const uint64_t expected = WalkedDeletions(a, walked_west);
      ASSERT_EQ(ResolveWord(a, settled_west), expected)
          << std::hex << a.west_kept << " " << a.west_gone << " west " << west;
      ASSERT_EQ(settled_west, walked_west);
    }
  }
}

}  // namespace
}  // namespace kevrale::test
