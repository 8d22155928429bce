#include "thinning/RowRing.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "thinning/DeletionTable.h"

namespace kevrale {

namespace {

enum Bitset { kLoaded = 0, kPresent = 1, kDeleted = 2 };

// Ring columns c, c + 1 and c + 2 of a bitset as bits 0, 1 and 2. The word
// after c's word always exists (each bitset ends with a clear word).
inline uint32_t ThreeAt(const uint64_t* bits, int c) {
  const size_t word = size_t(c) >> 6;
  const unsigned shift = unsigned(c) & 63;
  // Two shifts, so that a shift of 0 drops the next word instead of being
  // a shift by 64.
  const uint64_t v = (bits[word] >> shift) | ((bits[word + 1] << 1) << (63 - shift));
  return uint32_t(v) & 7;
}

// The bytes B, G, R (and a fourth that is ignored) of a pixel, read as one
// word in the machine's own byte order, with the key and mask to compare it.
struct PixelKey {
  uint32_t key;
  uint32_t mask;
};

PixelKey KeyFor(uint32_t color) {
  const uint8_t key_bytes[4] = {uint8_t(color >> 16), uint8_t(color >> 8), uint8_t(color), 0};
  const uint8_t mask_bytes[4] = {0xFF, 0xFF, 0xFF, 0};
  PixelKey k{};
  std::memcpy(&k.key, key_bytes, 4);
  std::memcpy(&k.mask, mask_bytes, 4);
  return k;
}

inline uint32_t Word32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// One word of a row's loaded bits: ring columns c0..c0+63, that is picture
// columns c0-1..c0+62, those of them in [x_begin, x_end). Reads four bytes
// per pixel, so the caller keeps the last pixel of a 24-bit row out of it.
template <int kBytesPerPixel>
inline uint64_t MatchWord(const uint8_t* pixels, int c0, int x_begin, int x_end, PixelKey k) {
  uint64_t bits = 0;
  const uint8_t* p = pixels + size_t(x_begin) * kBytesPerPixel;
  for (int x = x_begin; x < x_end; ++x, p += kBytesPerPixel)
    bits |= uint64_t((Word32(p) & k.mask) == k.key) << (x + 1 - c0);
  return bits;
}

}  // namespace

RowRing::RowRing(int width)
    : width_(std::max(width, 0)),
      stride_((size_t(width_) + 2 + 63) / 64 + 1),
      words_(size_t(kSlots) * 3 * stride_, 0),
      clear_(stride_, 0),
      last_pass_(kSlots, 0),
      present_count_(kSlots, 0) {}

void RowRing::Load(int slot, const uint8_t* pixels, int bytes_per_pixel, uint32_t target) {
  const PixelKey k = KeyFor(target);
  uint64_t* loaded = Bits(slot, kLoaded);
  // The last pixel of a 24-bit row may end the pixel array: its three bytes
  // are read one by one.
  bool last_matches = false;
  if (bytes_per_pixel == 3 && width_ > 0) {
    const uint8_t* last = pixels + size_t(width_ - 1) * 3;
    last_matches = last[0] == uint8_t(target >> 16) && last[1] == uint8_t(target >> 8) &&
                   last[2] == uint8_t(target);
  }
  const int fast_end = bytes_per_pixel == 4 ? width_ : width_ - 1;
  int count = 0;
  for (size_t w = 0; w < stride_; ++w) {
    const int c0 = int(w * 64);
    const int x_begin = std::max(0, c0 - 1);
    const int x_end = std::min(fast_end, c0 + 63);
    uint64_t bits = 0;
    if (x_begin < x_end) {
      bits = bytes_per_pixel == 4 ? MatchWord<4>(pixels, c0, x_begin, x_end, k)
                                  : MatchWord<3>(pixels, c0, x_begin, x_end, k);
    }
    loaded[w] = bits;
    count += std::popcount(bits);
  }
  if (last_matches) {
    loaded[size_t(width_) >> 6] |= uint64_t(1) << (width_ & 63);
    ++count;
  }
  std::memcpy(Bits(slot, kPresent), loaded, stride_ * sizeof(uint64_t));
  std::fill_n(Bits(slot, kDeleted), stride_, 0);
  last_pass_[size_t(slot)] = 0;
  present_count_[size_t(slot)] = count;
}

void RowRing::LoadEmpty(int slot) {
  std::fill_n(Bits(slot, 0), 3 * stride_, 0);
  last_pass_[size_t(slot)] = 0;
  present_count_[size_t(slot)] = 0;
}

bool RowRing::RunPass(int pass, int above, int slot, int below) {
  if (present_count_[size_t(slot)] == 0) return false;
  const uint64_t* up = Bits(above, kPresent);
  // The row above had this pass one step ago, unless the pass count was
  // too low then; only then can it hold marks -pass.
  const uint64_t* up_marks =
      last_pass_[size_t(above)] == pass ? Bits(above, kDeleted) : clear_.data();
  const uint64_t* down = Bits(below, kPresent);
  uint64_t* row = Bits(slot, kPresent);
  uint64_t* marks = Bits(slot, kDeleted);
  const uint8_t* table = DeletionTable::Table().data();

  // The row's own bits are read as they were when the pass began (x1 is not
  // yet visited; x5 counts as present whether or not the pass deleted it),
  // and the deletions go to `marks` until the row is done.
  int last_deleted = -2;  // ring column of the latest deletion in this pass
  for (size_t w = 0; w + 1 < stride_; ++w) {
    uint64_t todo = row[w];
    uint64_t gone = 0;
    while (todo != 0) {
      const int b = std::countr_zero(todo);
      const int left = int(w * 64) + b - 1;
      const uint32_t index = ThreeAt(up, left) | ThreeAt(up_marks, left) << 3 |
                             ThreeAt(down, left) << 6 | (ThreeAt(row, left) & 5) << 9 |
                             uint32_t(last_deleted == left) << 10;
      if (table[index] != 0) {
        gone |= uint64_t(1) << b;
        last_deleted = left + 1;
      }
      todo &= todo - 1;
    }
    marks[w] = gone;
  }
  if (last_deleted < 0) {
    last_pass_[size_t(slot)] = pass;
    return false;
  }
  int count = 0;
  for (size_t w = 0; w + 1 < stride_; ++w) {
    row[w] &= ~marks[w];
    count += std::popcount(marks[w]);
  }
  present_count_[size_t(slot)] -= count;
  last_pass_[size_t(slot)] = pass;
  return true;
}

bool RowRing::WriteBack(int slot, uint8_t* pixels, int bytes_per_pixel, uint32_t surround) const {
  const uint64_t* loaded = Bits(slot, kLoaded);
  const uint64_t* present = Bits(slot, kPresent);
  const uint8_t blue = uint8_t(surround >> 16);
  const uint8_t green = uint8_t(surround >> 8);
  const uint8_t red = uint8_t(surround);
  bool painted = false;
  for (size_t w = 0; w < stride_; ++w) {
    uint64_t gone = loaded[w] & ~present[w];
    painted |= gone != 0;
    while (gone != 0) {
      const int x = int(w * 64) + std::countr_zero(gone) - 1;
      uint8_t* p = pixels + size_t(x) * size_t(bytes_per_pixel);
      p[0] = blue;
      p[1] = green;
      p[2] = red;
      gone &= gone - 1;
    }
  }
  return painted;
}

}  // namespace kevrale
