#include "platform/Format.h"

#include <gtest/gtest.h>

namespace kevrale {
namespace {

TEST(FormatTest, TakesArgumentsInTurnAndByIndex) {
  EXPECT_EQ(Format("ファイル %s は開けません", {"/tmp/a.bmp"}), "ファイル /tmp/a.bmp は開けません");
  // The open dialog's pair: the third placeholder goes back to argument 2.
  EXPECT_EQ(Format("%s%s (*.%s)|*.%2:s", {"", "ビットマップ", "bmp"}),
            "ビットマップ (*.bmp)|*.bmp");
  // An index resets the sequence: the next plain %s takes index + 1.
  EXPECT_EQ(Format("%s (%s)|%1:s|%s", {"すべて", "*.a;*.b", "pairs"}),
            "すべて (*.a;*.b)|*.a;*.b|pairs");
  EXPECT_EQ(Format("I/O error %d", {"28"}), "I/O error 28");
}

TEST(FormatTest, KeepsWhatIsNoPlaceholder) {
  EXPECT_EQ(Format("100%% done", {}), "100% done");
  EXPECT_EQ(Format("trailing %", {}), "trailing %");
  EXPECT_EQ(Format("%x and %s", {"s"}), "%x and s");
  EXPECT_EQ(Format("%s %s", {"only"}), "only ");
}

}  // namespace
}  // namespace kevrale
