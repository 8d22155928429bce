// The target rule on whole rows against the rule on single pixels, and the
// single-pixel rule at its edges.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "thinning/TargetRule.h"

namespace kevrale::test {
namespace {

TEST(TargetRule, SinglePixelsAtTheEdgesOfTheTolerance) {
  // B G R as stored; the target is RGB(100, 0, 255).
  const TargetRule exact{.target = 0xFF0064};
  const uint8_t same[4] = {255, 0, 100, 255};
  const uint8_t one_off[4] = {255, 1, 100, 255};
  EXPECT_TRUE(exact.Matches(same, 3));
  EXPECT_FALSE(exact.Matches(one_off, 3));

  const TargetRule near{.target = 0xFF0064, .tolerance = 10};
  const uint8_t edge[3] = {245, 10, 90};
  const uint8_t beyond_blue[3] = {244, 0, 100};
  const uint8_t beyond_red[3] = {255, 0, 111};
  EXPECT_TRUE(near.Matches(edge, 3));
  EXPECT_FALSE(near.Matches(beyond_blue, 3));
  EXPECT_FALSE(near.Matches(beyond_red, 3));

  // Alpha 0 is never the target; any other alpha leaves the colour to decide.
  const TargetRule alpha{.target = 0xFF0064, .alpha = true};
  const uint8_t clear[4] = {255, 0, 100, 0};
  const uint8_t faint[4] = {255, 0, 100, 1};
  EXPECT_FALSE(alpha.Matches(clear, 4));
  EXPECT_TRUE(alpha.Matches(faint, 4));
  EXPECT_TRUE(exact.Matches(clear, 4));  // without alpha the byte is no part of it
}

// Bits that MarkTargetPixels sets, one by one through Matches.
std::vector<uint64_t> Expected(const TargetRule& rule, const std::vector<uint8_t>& pixels,
                               int width, int bpp, std::vector<uint64_t> bits) {
  for (int x = 0; x < width; ++x)
    if (rule.Matches(pixels.data() + size_t(x) * size_t(bpp), bpp))
      bits[size_t(x + 1) / 64] |= uint64_t(1) << ((x + 1) % 64);
  return bits;
}

// Rows of every width up to 100 and a long one, with pixels near the
// target and at the ends of the byte range, so that every position of the
// engine's pixel groups meets matches and near misses.
TEST(TargetRule, WholeRowsMarkWhatSinglePixelsMatch) {
  std::mt19937 rng(12);
  const uint32_t targets[] = {0x000000, 0xFFFFFF, 0x3C1E14, 0x00FF80};
  for (const int bpp : {3, 4}) {
    for (int width = 0; width <= 100; ++width) {
      for (const int tolerance : {0, 1, 17, 254, 255, 300, -1}) {
        for (const bool alpha : {false, true}) {
          const uint32_t target = targets[rng() % 4];
          const TargetRule rule{.target = target, .tolerance = tolerance, .alpha = alpha};
          std::vector<uint8_t> pixels(size_t(width) * size_t(bpp) + 1);
          for (int x = 0; x < width; ++x) {
            uint8_t* p = pixels.data() + size_t(x) * size_t(bpp);
            const uint8_t t[3] = {uint8_t(target >> 16), uint8_t(target >> 8), uint8_t(target)};
            for (int c = 0; c < 3; ++c) {
              const int spread = std::max(tolerance, 1) + 1;
              const int pick = int(rng() % 4);
              const int v = pick == 0   ? t[c]
                            : pick == 1 ? int(rng() % 256)
                                        : t[c] + int(rng() % unsigned(2 * spread + 1)) - spread;
              p[c] = uint8_t(std::clamp(v, 0, 255));
            }
            if (bpp == 4) p[3] = uint8_t(rng() % 3 == 0 ? 0 : rng());
          }
          // Bits already set stay set; the bits around the row stay clear.
          std::vector<uint64_t> bits(size_t(width + 2 + 63) / 64 + 1, 0);
          bits[0] |= 1;
          const std::vector<uint64_t> expected = Expected(rule, pixels, width, bpp, bits);
          MarkTargetPixels(rule, pixels.data(), width, bpp, bits.data());
          ASSERT_EQ(bits, expected) << "width " << width << " bpp " << bpp << " tolerance "
                                    << tolerance << " alpha " << alpha;
        }
      }
    }
  }
}

}  // namespace
}  // namespace kevrale::test
