// The application-wide cursor as the front end shows it around work: the
// busy shape while the work runs, over every window, and the default shape
// afterwards however the work ends.
#include "desktop/BusyCursor.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <optional>
#include <stdexcept>

#include "desktop/ScreenCursor.h"

namespace kevrale {
namespace {

// The shape shown over every window, or none.
std::optional<Qt::CursorShape> OverrideShape() {
  const QCursor* cursor = QGuiApplication::overrideCursor();
  if (cursor == nullptr) return std::nullopt;
  return cursor->shape();
}

class BusyCursorTest : public ::testing::Test {
 protected:
  void TearDown() override { ScreenCursor::Instance().SetCursor(crDefault); }
  ScreenCursor& cursor_ = ScreenCursor::Instance();
};

TEST_F(BusyCursorTest, BusyWhileItLivesAndTheDefaultAfterwards) {
  {
    const BusyCursor busy;
    EXPECT_EQ(cursor_.Cursor(), crHourGlass);
    EXPECT_EQ(OverrideShape(), Qt::WaitCursor);
  }
  EXPECT_EQ(cursor_.Cursor(), crDefault);
  EXPECT_EQ(OverrideShape(), std::nullopt) << "each widget shows its own shape again";
}

TEST_F(BusyCursorTest, WorkThatFailsGivesTheDefaultCursorBack) {
  try {
    const BusyCursor busy;
    throw std::runtime_error("the work failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(cursor_.Cursor(), crDefault);
  EXPECT_EQ(OverrideShape(), std::nullopt);
}

// Busy cursors nest as the work does; once both have ended, no override
// stays stacked over the windows.
TEST_F(BusyCursorTest, NestedBusyCursorsLeaveNoOverrideBehind) {
  {
    const BusyCursor outer;
    {
      const BusyCursor inner;
      EXPECT_EQ(OverrideShape(), Qt::WaitCursor);
    }
  }
  EXPECT_EQ(OverrideShape(), std::nullopt);
}

TEST_F(BusyCursorTest, TheSwitchShowsBusyBetweenStartAndEndThenTheCursorBefore) {
  for (const TCursor before : {crDefault, crDrag}) {
    cursor_.SetCursor(before);
    const auto busy = BusyCursorSwitch();
    busy(true);
    EXPECT_EQ(cursor_.Cursor(), crHourGlass);
    EXPECT_EQ(OverrideShape(), Qt::WaitCursor);
    busy(false);
    EXPECT_EQ(cursor_.Cursor(), before);
  }
}

}  // namespace
}  // namespace kevrale
