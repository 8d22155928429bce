// What the colour settings window asks of the window manager, read back
// from a real X server: a title bar without buttons, on top, a dialog.
#include <gtest/gtest.h>
#include <QPushButton>
#include <QtTest/QTest>

#include "X11Properties.h"
#include "app/TForm2.h"

namespace kevrale::test {
namespace {

class WindowManagerHints : public testing::Test {
 protected:
  void SetUp() override {
    if (X11Connection() == nullptr) GTEST_SKIP() << "not on an X server";
  }
};

TEST_F(WindowManagerHints, TheColourSettingsAskForATitleBarWithoutButtonsEachTimeTheyAreShown) {
  TForm2 form2;
  for (int shown = 0; shown < 2; ++shown) {
    form2.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form2));
    const std::vector<uint32_t> hints = X11Property(form2, "_MOTIF_WM_HINTS");
    ASSERT_GE(hints.size(), 3u);
    // Functions are named, and moving is the only one ...
    EXPECT_TRUE(hints[0] & kHasFunctions);
    EXPECT_EQ(hints[1], kFunctionMove);
    // ... under a title bar without buttons.
    EXPECT_TRUE(hints[2] & kDecorTitle);
    EXPECT_FALSE(hints[2] & (kDecorMinimize | kDecorMaximize));
    EXPECT_TRUE(Holds(X11Property(form2, "_NET_WM_STATE"), X11Atom("_NET_WM_STATE_ABOVE")));
    EXPECT_TRUE(
        Holds(X11Property(form2, "_NET_WM_WINDOW_TYPE"), X11Atom("_NET_WM_WINDOW_TYPE_DIALOG")));
    form2.Button3->click();
  }
}

}  // namespace
}  // namespace kevrale::test
