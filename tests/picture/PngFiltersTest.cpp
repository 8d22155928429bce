// Rows unfiltered together, against PNG's filters undone byte by byte as
// the format defines them: one, three and four bytes a pixel, every
// filter, mixed from row to row, at widths around the vector's sixteen
// bytes and group sizes from one row to 32, below a row above of any
// bytes; in the widest vectors the processor has, and in SSE2's.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "picture/PngFilters.h"

namespace kevrale {
namespace {

uint8_t PaethOf(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return uint8_t(a);
  return uint8_t(pb <= pc ? b : c);
}

// Row by row, byte by byte.
std::vector<uint8_t> Reference(const std::vector<uint8_t>& stored, std::vector<uint8_t> above,
                               size_t n, size_t bpp, int count) {
  std::vector<uint8_t> out;
  for (int k = 0; k < count; ++k) {
    const uint8_t* row = stored.data() + size_t(k) * (n + 1);
    std::vector<uint8_t> made(n);
    for (size_t x = 0; x < n; ++x) {
      const int a = x >= bpp ? made[x - bpp] : 0, b = above[x], c = x >= bpp ? above[x - bpp] : 0;
      const int prediction = row[0] == 1   ? a
                             : row[0] == 2 ? b
                             : row[0] == 3 ? (a + b) / 2
                             : row[0] == 4 ? PaethOf(a, b, c)
                                           : 0;
      made[x] = uint8_t(row[1 + x] + prediction);
    }
    out.insert(out.end(), made.begin(), made.end());
    above = made;
  }
  return out;
}

TEST(PngFilters, RowGroupsMatchRowByRow) {
  std::mt19937 random(7);
  for (const RowGroupLanes lanes : {RowGroupLanes::Widest, RowGroupLanes::Sixteen})
    for (const size_t bpp : {1, 3, 4}) {
      for (const size_t pixels : {1, 2, 5, 15, 16, 17, 33, 100, 400}) {
        const size_t n = pixels * bpp;
        for (int count = 1; count <= int(kMostGroupRows); ++count) {
          // Bytes near the ends of the range, where a sum or a difference
          // would overflow a byte, as often as any other.
          std::vector<uint8_t> stored(size_t(count) * (n + 1)), above(n);
          const auto byte = [&] {
            const unsigned r = random();
            return uint8_t(r % 4 == 0 ? 0 : r % 4 == 1 ? 255 : r >> 8);
          };
          for (uint8_t& b : stored) b = byte();
          for (uint8_t& b : above) b = byte();
          for (int k = 0; k < count; ++k) stored[size_t(k) * (n + 1)] = uint8_t(random() % 5);
          std::vector<uint8_t> out(size_t(count) * (n + 3), 0xA5);
          ASSERT_TRUE(UnfilterRowGroup(stored.data(), n + 1, above.data(), out.data(), n + 3, n,
                                       bpp, count, lanes));
          const std::vector<uint8_t> expected = Reference(stored, above, n, bpp, count);
          for (int k = 0; k < count; ++k) {
            const auto got = out.begin() + k * std::ptrdiff_t(n + 3);
            ASSERT_TRUE(
                std::equal(got, got + std::ptrdiff_t(n), expected.begin() + k * std::ptrdiff_t(n)))
                << (lanes == RowGroupLanes::Widest ? "widest" : "16 lanes") << ", " << bpp
                << " bytes a pixel, width " << pixels << ", " << count << " rows, row " << k
                << " (filter " << int(stored[size_t(k) * (n + 1)]) << ")";
            // Nothing past the row.
            EXPECT_EQ(got[std::ptrdiff_t(n)], 0xA5);
          }
        }
      }
    }
}

TEST(PngFilters, RowGroupsRefuseAnUnknownFilter) {
  std::vector<uint8_t> stored(3 * 9, 0), above(8, 0), out(3 * 8);
  stored[9] = 5;  // the second row's filter
  EXPECT_FALSE(UnfilterRowGroup(stored.data(), 9, above.data(), out.data(), 8, 8, 1, 3));
}

}  // namespace
}  // namespace kevrale
