#include "BaselineRowRing.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "thinning/DeletionTable.h"

namespace kevrale::bench {

namespace {

enum Bitset { kLoaded = 0, kPresent = 1, kDeleted = 2 };

// Ring columns c, c + 1 and c + 2 of a bitset as bits 0, 1 and 2 (c >= 0).
// The bitset ends with a clear word, so the bytes read are its own.
inline uint32_t ThreeAt(const uint64_t* bits, int c) {
  if constexpr (std::endian::native == std::endian::little) {
    // Bit c of the bitset is bit c % 8 of byte c / 8.
    uint64_t v;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(bits) + (unsigned(c) >> 3), sizeof v);
    return uint32_t(v >> (unsigned(c) & 7)) & 7;
  } else {
    const size_t word = size_t(c) >> 6;
    const unsigned shift = unsigned(c) & 63;
    // Two shifts, so that a shift of 0 drops the next word instead of
    // being a shift by 64.
    const uint64_t v = (bits[word] >> shift) | ((bits[word + 1] << 1) << (63 - shift));
    return uint32_t(v) & 7;
  }
}

// ORs `value` into the bitset, its bit 0 at bit `at`.
inline void OrBits(uint64_t* bits, int at, uint64_t value) {
  const size_t word = size_t(at) >> 6;
  const unsigned shift = unsigned(at) & 63;
  bits[word] |= value << shift;
  if (shift != 0) bits[word + 1] |= value >> (64 - shift);
}

inline bool IsTarget(const uint8_t* p, uint32_t target) {
  return p[0] == uint8_t(target >> 16) && p[1] == uint8_t(target >> 8) && p[2] == uint8_t(target);
}

#if defined(__SSE2__)

// For every 12-bit value, its bits 0, 3, 6 and 9 packed into bits 0..3.
struct EveryThirdBit {
  uint8_t pack[1 << 12];
  constexpr EveryThirdBit() : pack() {
    for (int v = 0; v < (1 << 12); ++v)
      pack[v] = uint8_t((v & 1) | (v >> 2 & 2) | (v >> 4 & 4) | (v >> 6 & 8));
  }
};
constexpr EveryThirdBit kEveryThirdBit;

// Sixteen 24-bit pixels (48 bytes) against the target: bit j set when
// pixel j matches. Bytes are compared 16 at a time; a pixel matches when
// its three bytes do.
inline uint32_t Match24(const uint8_t* p, const __m128i (&key)[3]) {
  const auto eq = [&](int i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    return uint64_t(uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(v, key[i]))));
  };
  const uint64_t bytes = eq(0) | eq(1) << 16 | eq(2) << 32;
  const uint64_t pixels = bytes & bytes >> 1 & bytes >> 2;
  return uint32_t(kEveryThirdBit.pack[pixels & 0xFFF]) |
         uint32_t(kEveryThirdBit.pack[pixels >> 12 & 0xFFF]) << 4 |
         uint32_t(kEveryThirdBit.pack[pixels >> 24 & 0xFFF]) << 8 |
         uint32_t(kEveryThirdBit.pack[pixels >> 36 & 0xFFF]) << 12;
}

// Sixteen 32-bit pixels; the fourth byte is not compared.
inline uint32_t Match32(const uint8_t* p, __m128i key, __m128i mask) {
  uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    const __m128i eq = _mm_cmpeq_epi32(_mm_and_si128(v, mask), key);
    bits |= uint32_t(_mm_movemask_ps(_mm_castsi128_ps(eq))) << (4 * i);
  }
  return bits;
}

// Loads the target bits of pixels 0..n-1 where n is the largest multiple
// of 16 not above `width`; returns n.
int LoadVector(uint64_t* loaded, const uint8_t* pixels, int width, int bytes_per_pixel,
               uint32_t target) {
  const uint8_t b = uint8_t(target >> 16), g = uint8_t(target >> 8), r = uint8_t(target);
  int x = 0;
  if (bytes_per_pixel == 3) {
    alignas(16) uint8_t pattern[48];
    for (int i = 0; i < 48; i += 3) {
      pattern[i] = b;
      pattern[i + 1] = g;
      pattern[i + 2] = r;
    }
    const __m128i key[3] = {_mm_load_si128(reinterpret_cast<const __m128i*>(pattern)),
                            _mm_load_si128(reinterpret_cast<const __m128i*>(pattern + 16)),
                            _mm_load_si128(reinterpret_cast<const __m128i*>(pattern + 32))};
    for (; x + 16 <= width; x += 16) {
      const uint32_t bits = Match24(pixels + size_t(x) * 3, key);
      if (bits != 0) OrBits(loaded, x + 1, bits);
    }
  } else {
    const __m128i key = _mm_set1_epi32(int(uint32_t(b) | uint32_t(g) << 8 | uint32_t(r) << 16));
    const __m128i mask = _mm_set1_epi32(0x00FFFFFF);
    for (; x + 16 <= width; x += 16) {
      const uint32_t bits = Match32(pixels + size_t(x) * 4, key, mask);
      if (bits != 0) OrBits(loaded, x + 1, bits);
    }
  }
  return x;
}

#else

int LoadVector(uint64_t*, const uint8_t*, int, int, uint32_t) {
  return 0;
}

#endif

}  // namespace

BaselineRowRing::BaselineRowRing(int width)
    : width_(std::max(width, 0)),
      stride_((size_t(width_) + 2 + 63) / 64 + 1),
      words_(size_t(kSlots) * 3 * stride_, 0),
      clear_(stride_, 0),
      last_pass_(kSlots, 0),
      any_present_(kSlots, 0) {}

void BaselineRowRing::Load(int slot, const uint8_t* pixels, int bytes_per_pixel, uint32_t target) {
  uint64_t* loaded = Bits(slot, kLoaded);
  std::fill_n(loaded, stride_, 0);
  // Ring column x + 1 holds picture column x.
  int x = LoadVector(loaded, pixels, width_, bytes_per_pixel, target);
  for (; x < width_; ++x)
    if (IsTarget(pixels + size_t(x) * size_t(bytes_per_pixel), target))
      loaded[size_t(x + 1) >> 6] |= uint64_t(1) << ((x + 1) & 63);
  uint64_t any = 0;
  for (size_t w = 0; w < stride_; ++w) any |= loaded[w];
  std::memcpy(Bits(slot, kPresent), loaded, stride_ * sizeof(uint64_t));
  std::fill_n(Bits(slot, kDeleted), stride_, 0);
  last_pass_[size_t(slot)] = 0;
  any_present_[size_t(slot)] = any != 0;
}

void BaselineRowRing::LoadEmpty(int slot) {
  std::fill_n(Bits(slot, 0), 3 * stride_, 0);
  last_pass_[size_t(slot)] = 0;
  any_present_[size_t(slot)] = 0;
}

bool BaselineRowRing::RunPass(int pass, int above, int slot, int below) {
  if (!any_present_[size_t(slot)]) return false;
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
  // and the deletions go to `marks` until the row is done. Whether x5 went
  // in this pass picks one of the two answers of the table entry.
  int last_deleted = -2;  // ring column of the latest deletion in this pass
  uint64_t any_gone = 0;
  for (size_t w = 0; w + 1 < stride_; ++w) {
    uint64_t todo = row[w];
    uint64_t gone = 0;
    while (todo != 0) {
      const int b = std::countr_zero(todo);
      const int left = int(w * 64) + b - 1;
      const uint32_t index = ThreeAt(up, left) | ThreeAt(up_marks, left) << 3 |
                             ThreeAt(down, left) << 6 | ThreeAt(row, left) << 9;
      const uint32_t west_deleted = last_deleted == left ? 1 : 0;
      const uint32_t deletes = (uint32_t(table[index]) >> west_deleted) & 1;
      gone |= uint64_t(deletes) << b;
      last_deleted = deletes != 0 ? left + 1 : last_deleted;
      todo &= todo - 1;
    }
    marks[w] = gone;
    any_gone |= gone;
  }
  last_pass_[size_t(slot)] = pass;
  if (any_gone == 0) return false;
  uint64_t any = 0;
  for (size_t w = 0; w + 1 < stride_; ++w) {
    row[w] &= ~marks[w];
    any |= row[w];
  }
  any_present_[size_t(slot)] = any != 0;
  return true;
}

bool BaselineRowRing::WriteBack(int slot, uint8_t* pixels, int bytes_per_pixel,
                                uint32_t surround) const {
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

void BaselineThinning(TBitmap& bitmap, TColor target, TColor surround) {
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  const int bytes_per_pixel = bitmap.BytesPerPixel();
  if (width == 0 || height == 0) return;
  target &= kColorMask;
  surround &= kColorMask;

  BaselineRowRing ring(width);
  int passes = 1;
  for (int step = 0;; ++step) {
    const int y = step;
    const int slot = BaselineRowRing::SlotOf(y);
    if (y < height)
      ring.Load(slot, bitmap.ScanLine(y), bytes_per_pixel, target);
    else
      ring.LoadEmpty(slot);
    int highest = 0;
    for (int pass = 1; pass <= passes; ++pass) {
      const int row = y - pass;
      if (row < 0 || row >= height) continue;
      if (ring.RunPass(pass, BaselineRowRing::SlotOf(row - 1), BaselineRowRing::SlotOf(row),
                       BaselineRowRing::SlotOf(row + 1)))
        highest = pass;
    }
    passes = highest + 1 > 18 ? highest : highest + 1;
    if (step >= 19) {
      const int out = step - 19;
      ring.WriteBack(BaselineRowRing::SlotOf(out), bitmap.ScanLine(out), bytes_per_pixel, surround);
      if (out + 1 > height - 1) break;
    }
  }
}

}  // namespace kevrale::bench
