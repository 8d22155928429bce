// The deletion test on its own: the worked neighbourhoods, and the table
// that the engine uses, rebuilt from the step-by-step rules.
#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "ReferenceThinning.h"
#include "thinning/DeletionTable.h"
#include "thinning/DeletionTest.h"

namespace kevrale::test {
namespace {

// The plain model's answer for cell values x1..x8.
bool ReferenceDeletes(const Neighbourhood& x, int pass) {
  //   x4 x3 x2      slot 0
  //   x5  P x1      slot 1
  //   x6 x7 x8      slot 2
  ReferenceRing ring(3);
  ring.Cell(1, 2) = 1;
  ring.Cell(1, 3) = x[0];
  ring.Cell(0, 3) = x[1];
  ring.Cell(0, 2) = x[2];
  ring.Cell(0, 1) = x[3];
  ring.Cell(1, 1) = x[4];
  ring.Cell(2, 1) = x[5];
  ring.Cell(2, 2) = x[6];
  ring.Cell(2, 3) = x[7];
  return ring.Deletes(pass, 2, 0, 1, 2);
}

// The table's answer for a neighbourhood in which only x2..x5 hold -pass.
bool TableDeletes(const Neighbourhood& x, int pass) {
  const auto present = [](int32_t v) { return v == 1 ? 1u : 0u; };
  const auto marked = [pass](int32_t v) { return v == -pass ? 1u : 0u; };
  const uint32_t index = present(x[3]) | present(x[2]) << 1 | present(x[1]) << 2 |
                         marked(x[3]) << 3 | marked(x[2]) << 4 | marked(x[1]) << 5 |
                         present(x[5]) << 6 | present(x[6]) << 7 | present(x[7]) << 8 |
                         (present(x[4]) | marked(x[4])) << 9 | 1u << 10 | present(x[0]) << 11;
  return DeletionTable::Deletes(index, marked(x[4]) != 0);
}

struct Worked {
  const char* what;
  Neighbourhood x;  // x1..x8
  int pass;
  bool deletes;
};

TEST(DeletionTest, WorkedNeighbourhoods) {
  const Worked cases[] = {
      {"all eight present: interior point", {1, 1, 1, 1, 1, 1, 1, 1}, 1, false},
      {"only x1: end point", {1, 0, 0, 0, 0, 0, 0, 0}, 1, false},
      {"none present", {0, 0, 0, 0, 0, 0, 0, 0}, 1, false},
      {"x1 and x5: inside a horizontal line", {1, 0, 0, 0, 1, 0, 0, 0}, 1, false},
      {"x1 and x3: corner of an L", {1, 0, 1, 0, 0, 0, 0, 0}, 1, true},
      {"x1, x2, x3: lower-left corner of a block", {1, 1, 1, 0, 0, 0, 0, 0}, 1, true},
      {"lower row of a two-pixel line", {1, -1, -1, -1, 1, 0, 0, 0}, 1, false},
      {"x4 and x5 deleted: isolated", {0, 0, 0, -1, -1, 0, 0, 0}, 1, false},
      {"x3 deleted, x7 present", {0, 0, -1, 0, 0, 0, 1, 0}, 1, false},
      {"pass 2: x1 holds -1, x5 present: end point", {-1, 0, 0, 0, 1, 0, 0, 0}, 2, false},
      // Marks of the same pass on x2 and x4 count as present and have no
      // check of their own; on x3 and x5 they do.
      {"x1 present, x2 deleted: like x1, x2", {1, -1, 0, 0, 0, 0, 0, 0}, 1, true},
      {"x5 deleted, x7 present", {0, 0, 0, 0, -1, 0, 1, 0}, 1, true},
      {"x5 deleted, x1 present: inside a line", {1, 0, 0, 0, -1, 0, 0, 0}, 1, false},
      {"x3 deleted, x1 present", {1, 0, -1, 0, 0, 0, 0, 0}, 1, true},
      {"pass 3: -3 on x3 is present, -2 is not", {1, 0, -3, 0, 0, 0, -2, 0}, 3, true},
  };
  for (const Worked& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DeletionTestDeletes(c.x, c.pass), c.deletes);
    EXPECT_EQ(ReferenceDeletes(c.x, c.pass), c.deletes);
    EXPECT_EQ(TableDeletes(c.x, c.pass), c.deletes);
  }
}

// Every neighbourhood that can occur in pass t: x1 and x6..x8 hold 1 or
// background, x2..x5 also -t; background is 0 or the mark of another pass.
TEST(DeletionTest, TableMatchesTheRulesInEveryPass) {
  // Every neighbourhood is met once, and each pass both keeps and deletes,
  // so that the comparison below covers what it claims to.
  std::set<std::pair<int, Neighbourhood>> seen;
  for (int pass = 1; pass <= 18; ++pass) {
    int deleted = 0;
    int kept = 0;
    const int32_t other = pass > 1 ? -(pass - 1) : 0;  // an older mark, background too
    for (int code = 0; code < 16 * 81; ++code) {
      Neighbourhood x{};
      int rest = code;
      for (int k : {0, 5, 6, 7}) {
        x[size_t(k)] = rest % 2;
        rest /= 2;
      }
      for (int k : {1, 2, 3, 4}) {
        x[size_t(k)] = rest % 3 == 2 ? -pass : rest % 3;
        rest /= 3;
      }
      Neighbourhood shaded = x;  // the same with background as the older mark
      for (int32_t& v : shaded)
        if (v == 0) v = other;
      const bool expected = ReferenceDeletes(x, pass);
      ASSERT_EQ(ReferenceDeletes(shaded, pass), expected) << "pass " << pass << " code " << code;
      ASSERT_EQ(TableDeletes(x, pass), expected) << "pass " << pass << " code " << code;
      ASSERT_EQ(DeletionTestDeletes(shaded, pass), expected) << "pass " << pass << " code " << code;
      seen.emplace(pass, x);
      (expected ? deleted : kept) += 1;
    }
    EXPECT_GT(deleted, 0) << "pass " << pass;
    EXPECT_GT(kept, 0) << "pass " << pass;
  }
  EXPECT_EQ(seen.size(), size_t(18 * 16 * 81));
}

}  // namespace
}  // namespace kevrale::test
