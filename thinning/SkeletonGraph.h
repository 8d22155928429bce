// The pixels of the target colour of a bitmap as a graph: each pixel a node,
// linked to its neighbours in the eight directions, with one rule that makes
// an 8-connected line of one pixel a simple chain: two pixels that touch
// diagonally are linked only when neither of the two pixels beside both of
// them is present. Where such a pixel is present the two are already joined
// through it, and the diagonal link would close a triangle, giving the
// middle pixel of every L corner and staircase step a third neighbour.
//
// So a pixel with one link is an end point, with two lies inside a chain
// or a loop, and with three or more is a junction.
//
// Memory is proportional to the number of target pixels: nodes are held in
// row order and find their neighbours in the rows above and below by index,
// without any array the size of the picture.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "picture/PixelPolyline.h"
#include "platform/Color.h"
#include "thinning/TargetRule.h"

namespace kevrale {

class TBitmap;

// The bits set in each byte, without relying on a population-count
// instruction that the target may lack.
struct ByteBitCount {
  uint8_t count[256];
  constexpr ByteBitCount() : count() {
    for (int v = 0; v < 256; ++v) count[v] = uint8_t(std::popcount(unsigned(v)));
  }
};
inline constexpr ByteBitCount kByteBitCount{};

class SkeletonGraph {
 public:
  // Directions counter-clockwise from east; y grows downwards, so north is
  // the row above.
  enum Direction : int {
    kEast,
    kNorthEast,
    kNorth,
    kNorthWest,
    kWest,
    kSouthWest,
    kSouth,
    kSouthEast
  };
  static constexpr int Opposite(int direction) { return (direction + 4) & 7; }
  static constexpr int StepX(int direction) {
    constexpr int kDx[8] = {1, 1, 0, -1, -1, -1, 0, 1};
    return kDx[direction];
  }
  static constexpr int StepY(int direction) {
    constexpr int kDy[8] = {0, -1, -1, -1, 0, 1, 1, 1};
    return kDy[direction];
  }

  // Reads the pixels of the bitmap that the rule counts as the target
  // colour, as the thinning run does.
  SkeletonGraph(const TBitmap& bitmap, const TargetRule& rule);

  // Nodes in row order: top to bottom, left to right in each row.
  size_t Size() const { return x_.size(); }
  PixelPoint Point(size_t node) const { return {x_[node], y_[node]}; }
  // Bit d set: linked to the neighbour in direction d.
  uint8_t Links(size_t node) const { return links_[node]; }
  int Degree(size_t node) const { return kByteBitCount.count[links_[node]]; }
  // The node in direction d, which must be present (linked or not).
  size_t Neighbour(size_t node, int direction) const;
  // Bit d set: a target pixel lies in direction d (linked or not).
  uint8_t Neighbours(size_t node) const { return near_[node]; }

  // The bytes the graph holds.
  size_t MemoryBytes() const;

 private:
  std::vector<int32_t> x_;
  std::vector<int32_t> y_;
  // The first node of the row above (below) whose column is at least this
  // node's column - 1: its north-west (south-west) neighbour if present;
  // the north (south) and north-east (south-east) ones follow it.
  std::vector<uint32_t> above_;
  std::vector<uint32_t> below_;
  std::vector<uint8_t> near_;
  std::vector<uint8_t> links_;
};

}  // namespace kevrale
