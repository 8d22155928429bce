// What the About box asks of the window manager, read back from a real X
// server: a close box alone.
#include <gtest/gtest.h>
#include <QtTest/QTest>

#include "X11Properties.h"
#include "about/TAboutBox.h"

namespace kevrale::test {
namespace {

TEST(WindowManagerHints, TheAboutBoxAsksForACloseBoxAlone) {
  if (X11Connection() == nullptr) GTEST_SKIP() << "not on an X server";
  TAboutBox about;
  about.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
  const std::vector<uint32_t> hints = X11Property(about, "_MOTIF_WM_HINTS");
  ASSERT_GE(hints.size(), 3u);
  EXPECT_TRUE(hints[0] & kHasFunctions);
  EXPECT_TRUE(hints[1] & kFunctionClose);
  EXPECT_FALSE(hints[1] & (kFunctionAll | kFunctionMinimize | kFunctionMaximize));
  EXPECT_FALSE(hints[2] & (kDecorMinimize | kDecorMaximize));
}

}  // namespace
}  // namespace kevrale::test
