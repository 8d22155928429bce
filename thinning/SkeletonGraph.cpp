#include "thinning/SkeletonGraph.h"

#include <algorithm>
#include <bit>

#include "picture/TBitmap.h"
#include "thinning/TargetRule.h"

namespace kevrale {

namespace {

constexpr uint8_t Bit(int direction) {
  return uint8_t(1u << direction);
}

// Records in `near` the neighbours that the nodes [from, to) have in the
// adjacent row [other, other_end), and in `first` where each one's search
// of that row begins; `side` is the row's offset (-1 above, +1 below).
void LinkRows(const std::vector<int32_t>& x, size_t from, size_t to, size_t other, size_t other_end,
              int side, std::vector<uint32_t>& first, std::vector<uint8_t>& near) {
  const int west = side < 0 ? SkeletonGraph::kNorthWest : SkeletonGraph::kSouthWest;
  const int middle = side < 0 ? SkeletonGraph::kNorth : SkeletonGraph::kSouth;
  const int east = side < 0 ? SkeletonGraph::kNorthEast : SkeletonGraph::kSouthEast;
  size_t p = other;
  for (size_t i = from; i < to; ++i) {
    while (p < other_end && x[p] < x[i] - 1) ++p;
    first[i] = uint32_t(p);
    for (size_t k = p; k < other_end && x[k] <= x[i] + 1; ++k) {
      const int dx = x[k] - x[i];
      near[i] |= Bit(dx < 0 ? west : dx == 0 ? middle : east);
    }
  }
}

// The links of a node from its neighbours: every orthogonal one, and a
// diagonal one only when neither orthogonal pixel beside it is present.
uint8_t LinksOf(uint8_t near) {
  using G = SkeletonGraph;
  const auto has = [near](int d) { return (near & Bit(d)) != 0; };
  uint8_t links = near & (Bit(G::kEast) | Bit(G::kNorth) | Bit(G::kWest) | Bit(G::kSouth));
  if (has(G::kNorthEast) && !has(G::kNorth) && !has(G::kEast)) links |= Bit(G::kNorthEast);
  if (has(G::kNorthWest) && !has(G::kNorth) && !has(G::kWest)) links |= Bit(G::kNorthWest);
  if (has(G::kSouthWest) && !has(G::kSouth) && !has(G::kWest)) links |= Bit(G::kSouthWest);
  if (has(G::kSouthEast) && !has(G::kSouth) && !has(G::kEast)) links |= Bit(G::kSouthEast);
  return links;
}

}  // namespace

SkeletonGraph::SkeletonGraph(const TBitmap& bitmap, const TargetRule& rule) {
  const int width = bitmap.Width();
  const int bpp = bitmap.BytesPerPixel();
  // The target pixels of a row as bits x + 1, as the engine loads a row,
  // with the clear word past the end that MarkTargetPixels may write.
  std::vector<uint64_t> bits(size_t(width + 2 + 63) / 64 + 1);
  size_t above_begin = 0;  // the nodes of the previous row
  size_t above_end = 0;
  for (int y = 0; y < bitmap.Height(); ++y) {
    const size_t begin = x_.size();
    std::fill(bits.begin(), bits.end(), 0);
    MarkTargetPixels(rule, bitmap.ScanLine(y), width, bpp, bits.data());
    for (size_t w = 0; w < bits.size(); ++w)
      for (uint64_t word = bits[w]; word != 0; word &= word - 1)
        x_.push_back(int32_t(w * 64 + size_t(std::countr_zero(word))) - 1);
    const size_t end = x_.size();
    if (end == begin) {
      above_begin = above_end = end;
      continue;
    }
    y_.resize(end, y);
    above_.resize(end);
    below_.resize(end);
    near_.resize(end, 0);
    for (size_t i = begin; i + 1 < end; ++i)
      if (x_[i + 1] == x_[i] + 1) {
        near_[i] |= Bit(kEast);
        near_[i + 1] |= Bit(kWest);
      }
    LinkRows(x_, begin, end, above_begin, above_end, -1, above_, near_);
    LinkRows(x_, above_begin, above_end, begin, end, +1, below_, near_);
    above_begin = begin;
    above_end = end;
  }
  // Growth by doubling leaves up to half of each array unused.
  x_.shrink_to_fit();
  y_.shrink_to_fit();
  above_.shrink_to_fit();
  below_.shrink_to_fit();
  near_.shrink_to_fit();
  links_.resize(near_.size());
  for (size_t i = 0; i < near_.size(); ++i) links_[i] = LinksOf(near_[i]);
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
