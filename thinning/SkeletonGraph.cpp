#include "thinning/SkeletonGraph.h"

#include <algorithm>
#include <bit>
#include <cstddef>

#include "picture/TBitmap.h"
#include "thinning/TargetRule.h"

namespace kevrale {

namespace {

// The bits set in a word, in a few arithmetic steps: std::popcount is a
// library call where the target may lack the instruction.
inline uint32_t BitCount(uint64_t v) {
  v -= (v >> 1) & 0x5555555555555555u;
  v = (v & 0x3333333333333333u) + ((v >> 2) & 0x3333333333333333u);
  v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
  return uint32_t((v * 0x0101010101010101u) >> 56);
}

// The target pixels of one row as bits x + 1 (bit 0 and the bits past the
// width clear), with the number of bits in the words before each word, so
// that a node's place among the row's nodes is one count away.
class RowBits {
 public:
  explicit RowBits(int width) : words_(size_t(width + 2 + 63) / 64 + 1), before_(words_.size()) {}

  void Clear() {
    std::fill(words_.begin(), words_.end(), 0);
    std::fill(before_.begin(), before_.end(), 0);
    count_ = 0;
  }
  void Mark(const TargetRule& rule, const TBitmap& bitmap, int y) {
    std::fill(words_.begin(), words_.end(), 0);
    MarkTargetPixels(rule, bitmap.ScanLine(y), bitmap.Width(), bitmap.BytesPerPixel(),
                     words_.data());
    uint32_t count = 0;
    for (size_t w = 0; w < words_.size(); ++w) {
      before_[w] = count;
      if (words_[w] != 0) count += BitCount(words_[w]);
    }
    count_ = count;
  }

  const std::vector<uint64_t>& Words() const { return words_; }
  uint32_t Count() const { return count_; }
  // Bits b, b + 1 and b + 2 as the three low bits; b + 2 is always inside
  // the words, as a row keeps a clear word past its end.
  unsigned Three(size_t b) const {
    const size_t w = b >> 6;
    const unsigned s = unsigned(b & 63);
    uint64_t v = words_[w] >> s;
    if (s > 61) v |= words_[w + 1] << (64 - s);
    return unsigned(v & 7);
  }
  // The set bits below bit b.
  uint32_t Below(size_t b) const {
    const size_t w = b >> 6;
    return before_[w] + BitCount(words_[w] & ((uint64_t(1) << (b & 63)) - 1));
  }

 private:
  std::vector<uint64_t> words_;
  std::vector<uint32_t> before_;
  uint32_t count_ = 0;
};

// The links of a node from its neighbours: every orthogonal one, and a
// diagonal one only when neither orthogonal pixel beside it is present.
constexpr uint8_t LinksOf(uint8_t near) {
  using G = SkeletonGraph;
  const auto has = [near](int d) { return (near & (1u << d)) != 0; };
  uint8_t links =
      near & uint8_t((1u << G::kEast) | (1u << G::kNorth) | (1u << G::kWest) | (1u << G::kSouth));
  if (has(G::kNorthEast) && !has(G::kNorth) && !has(G::kEast)) links |= 1u << G::kNorthEast;
  if (has(G::kNorthWest) && !has(G::kNorth) && !has(G::kWest)) links |= 1u << G::kNorthWest;
  if (has(G::kSouthWest) && !has(G::kSouth) && !has(G::kWest)) links |= 1u << G::kSouthWest;
  if (has(G::kSouthEast) && !has(G::kSouth) && !has(G::kEast)) links |= 1u << G::kSouthEast;
  return links;
}

// LinksOf for every set of neighbours: the tests above branch on the
// picture, and a lookup does not.
struct LinkTable {
  uint8_t links[256];
  constexpr LinkTable() : links() {
    for (int near = 0; near < 256; ++near) links[near] = LinksOf(uint8_t(near));
  }
};
constexpr LinkTable kLinkTable;

}  // namespace

SkeletonGraph::SkeletonGraph(const TBitmap& bitmap, const TargetRule& rule) {
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  // The row above, this row and the row below: a node's neighbours are
  // read from the three rows' bits.
  RowBits above(width), row(width), below(width);
  if (height > 0) below.Mark(rule, bitmap, 0);
  uint32_t above_begin = 0;  // the first node of the row above
  for (int y = 0; y < height; ++y) {
    std::swap(above, row);
    std::swap(row, below);
    if (y + 1 < height)
      below.Mark(rule, bitmap, y + 1);
    else
      below.Clear();
    const size_t begin = x_.size();
    const size_t end = begin + row.Count();
    // The nodes of the row below follow this row's.
    const uint32_t below_begin = uint32_t(end);
    x_.resize(end);
    y_.resize(end, y);
    above_.resize(end);
    below_.resize(end);
    near_.resize(end);
    size_t i = begin;
    const std::vector<uint64_t>& words = row.Words();
    for (size_t w = 0; w < words.size(); ++w)
      for (uint64_t word = words[w]; word != 0; word &= word - 1, ++i) {
        // Pixel x is bit x + 1, so bits x, x + 1 and x + 2 are the pixels
        // x - 1, x and x + 1.
        const size_t x = w * 64 + size_t(std::countr_zero(word)) - 1;
        const unsigned up = above.Three(x), down = below.Three(x), side = row.Three(x);
        x_[i] = int32_t(x);
        above_[i] = above_begin + above.Below(x);
        below_[i] = below_begin + below.Below(x);
        near_[i] =
            uint8_t((side >> 2) << kEast | (up & 4) >> 2 << kNorthEast | (up & 2) >> 1 << kNorth |
                    (up & 1) << kNorthWest | (side & 1) << kWest | down << kSouthWest);
      }
    above_begin = uint32_t(begin);
  }
  // Growth by doubling leaves up to half of each array unused.
  x_.shrink_to_fit();
  y_.shrink_to_fit();
  above_.shrink_to_fit();
  below_.shrink_to_fit();
  near_.shrink_to_fit();
  links_.resize(near_.size());
  for (size_t i = 0; i < near_.size(); ++i) links_[i] = kLinkTable.links[near_[i]];
}

size_t SkeletonGraph::Neighbour(size_t node, int direction) const {
  const auto has = [this, node](int d) { return size_t((near_[node] >> d) & 1); };
  switch (direction) {
    case kEast:
      return node + 1;
    case kWest:
      return node - 1;
    case kNorthWest:
      return above_[node];
    case kNorth:
      return above_[node] + has(kNorthWest);
    case kNorthEast:
      return above_[node] + has(kNorthWest) + has(kNorth);
    case kSouthWest:
      return below_[node];
    case kSouth:
      return below_[node] + has(kSouthWest);
    default:  // kSouthEast
      return below_[node] + has(kSouthWest) + has(kSouth);
  }
}

size_t SkeletonGraph::MemoryBytes() const {
  return x_.capacity() * sizeof(int32_t) + y_.capacity() * sizeof(int32_t) +
         above_.capacity() * sizeof(uint32_t) + below_.capacity() * sizeof(uint32_t) +
         near_.capacity() + links_.capacity();
}

}  // namespace kevrale
