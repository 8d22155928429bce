// The deletion test on 64 neighbouring cells of a row at once, as logic on
// bitsets: the same answers as the step-by-step test (DeletionTest.h) for
// every cell, without looking at the cells one by one.
//
//      x4 x3 x2        the row above: present, or deleted in this pass
//      x5  P x1        the row itself, as it was when the pass began
//      x6 x7 x8        the row below: present
//
// One thing is not known in advance: whether x5 goes in this very pass,
// which is the answer for the cell before. AnswerWord gives both answers
// for every cell; ResolveWord then settles them from left to right.
#pragma once

#include <cstdint>

namespace kevrale {

// Three neighbouring words of a bitset: the word itself and the words
// before and after it (bit 63 of `before` lies just left of bit 0 of `at`).
struct WordTriple {
  uint64_t before = 0;
  uint64_t at = 0;
  uint64_t after = 0;
};

// Bit i set when the cell just left (West) or right (East) of bit i is.
inline uint64_t West(const WordTriple& t) {
  return t.at << 1 | t.before >> 63;
}
inline uint64_t East(const WordTriple& t) {
  return t.at >> 1 | t.after << 63;
}

// The answers of pass t for each present cell of a word.
struct WordAnswers {
  uint64_t west_kept = 0;  // deleted if x5 is not deleted in this pass
  uint64_t west_gone = 0;  // deleted if x5 is; always within west_kept
};

// Bit i set when exactly one of the four is set there.
inline uint64_t ExactlyOne(uint64_t c1, uint64_t c3, uint64_t c5, uint64_t c7) {
  return (c1 ^ c3 ^ c5 ^ c7) & ~((c1 & c3) | (c5 & c7));
}

// `row`: the cells holding 1 when the pass began; `above`: the row above,
// its cells holding 1; `above_marks`: its cells holding -t; `below`: the
// row below, its cells holding 1. A cell is never both in `above` and in
// `above_marks`.
inline WordAnswers AnswerWord(const WordTriple& row, const WordTriple& above,
                              const WordTriple& above_marks, const WordTriple& below) {
  // The pass view a: present, or deleted in this pass. Only the row above
  // can hold marks of this pass (x5 is settled in ResolveWord).
  const WordTriple up{above.before | above_marks.before, above.at | above_marks.at,
                      above.after | above_marks.after};
  const uint64_t a1 = East(row), a2 = East(up), a3 = up.at, a4 = West(up), a5 = West(row);
  const uint64_t a6 = West(below), a7 = below.at, a8 = East(below);

  const uint64_t interior = a1 & a3 & a5 & a7;
  // At least two of a1..a8: end points (one) and lone cells (none) stay.
  uint64_t one = a1, two = 0;
  for (const uint64_t a : {a2, a3, a4, a5, a6, a7, a8}) {
    two |= one & a;
    one |= a;
  }
  // The remaining view b, x5 aside: something still there around the cell.
  const uint64_t remaining = a1 | East(above) | above.at | West(above) | a6 | a7 | a8;

  // The connectivity number is 1 when exactly one of the four corners
  // c_k = (1 - a_k) * max(a_k+1, a_k+2) is 1.
  const uint64_t c1 = ~a1 & (a2 | a3), c3 = ~a3 & (a4 | a5), c5 = ~a5 & (a6 | a7),
                 c7 = ~a7 & (a8 | a1);
  const uint64_t connected = ExactlyOne(c1, c3, c5, c7);
  // x3 deleted in this pass: connected also without it (a3 = 0).
  const uint64_t north_gone = above_marks.at;
  const uint64_t north_ok = ~north_gone | ExactlyOne(~a1 & a2, a4 | a5, c5, c7);
  // x5 deleted in this pass: connected also without it (a5 = 0).
  const uint64_t west_ok = ExactlyOne(c1, ~a3 & a4, a6 | a7, c7);

  const uint64_t common = row.at & ~interior & two & connected & north_ok;
  return {common & (remaining | a5), common & remaining & west_ok};
}

// The cells that the pass deletes, from the answers, left to right.
// `west_deleted` says whether the cell just left of bit 0 went in this
// pass; on return it says the same of bit 63.
//
// A cell in west_gone goes either way; one in neither stays. A cell only in
// west_kept goes when its west neighbour stays, so along a run of such
// cells the answers alternate from the first one on, which goes when the
// cell before the run stayed.
inline uint64_t ResolveWord(const WordAnswers& answers, bool& west_deleted) {
  constexpr uint64_t kEven = 0x5555555555555555u;  // bits 0, 2, 4, ...
  const uint64_t always = answers.west_gone;
  const uint64_t flip = answers.west_kept & ~answers.west_gone;
  // Bit 0 starts a run of its own; before any other run lies a cell of
  // `always` or none.
  const uint64_t starts = flip & ~(flip << 1);
  const uint64_t before_gone = always << 1 | uint64_t(west_deleted);
  const uint64_t first_goes = starts & ~before_gone;
  // Runs whose even cells go: those starting at an even bit whose first
  // cell goes, or at an odd bit whose first cell stays. Adding a run's
  // lowest bit clears the whole run, so it picks out such runs.
  const uint64_t even_starts = starts & ~(kEven ^ first_goes);
  const uint64_t even_runs = flip & ~(flip + even_starts);
  const uint64_t gone = always | (even_runs & kEven) | (flip & ~even_runs & ~kEven);
  west_deleted = (gone >> 63) != 0;
  return gone;
}

}  // namespace kevrale
