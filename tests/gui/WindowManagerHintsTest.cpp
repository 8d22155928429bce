// What the windows ask of the window manager, read back from a real X
// server (Xvfb, no window manager): the frame's title-bar buttons in the
// Motif hints and the stay-on-top state.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <xcb/xcb.h>

#include <gtest/gtest.h>
#include <QGuiApplication>
#include <QPushButton>
#include <QtTest/QTest>

#include "about/TAboutBox.h"
#include "app/TForm2.h"

namespace kevrale::test {
namespace {

// The Motif hints: flags, then functions, then decorations.
constexpr uint32_t kHasFunctions = 1u << 0;
constexpr uint32_t kFunctionAll = 1u << 0;
constexpr uint32_t kFunctionMove = 1u << 2;
constexpr uint32_t kFunctionMinimize = 1u << 3;
constexpr uint32_t kFunctionMaximize = 1u << 4;
constexpr uint32_t kFunctionClose = 1u << 5;
constexpr uint32_t kDecorTitle = 1u << 3;
constexpr uint32_t kDecorMinimize = 1u << 5;
constexpr uint32_t kDecorMaximize = 1u << 6;

xcb_connection_t* Connection() {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 != nullptr ? x11->connection() : nullptr;
}

xcb_atom_t Atom(const std::string& name) {
  const auto cookie = xcb_intern_atom(Connection(), 0, uint16_t(name.size()), name.c_str());
  std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
      xcb_intern_atom_reply(Connection(), cookie, nullptr), &std::free);
  return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// A property of 32-bit values as the server holds it now.
std::vector<uint32_t> Property(const QWidget& window, const std::string& name) {
  const auto cookie = xcb_get_property(Connection(), 0, xcb_window_t(window.winId()), Atom(name),
                                       XCB_GET_PROPERTY_TYPE_ANY, 0, 64);
  std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
      xcb_get_property_reply(Connection(), cookie, nullptr), &std::free);
  if (!reply || reply->format != 32) return {};
  const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
  return {values, values + xcb_get_property_value_length(reply.get()) / 4};
}

bool Holds(const std::vector<uint32_t>& values, uint32_t value) {
  return std::find(values.begin(), values.end(), value) != values.end();
}

class WindowManagerHints : public testing::Test {
 protected:
  void SetUp() override {
    if (Connection() == nullptr) GTEST_SKIP() << "not on an X server";
  }
};

TEST_F(WindowManagerHints, TheColourSettingsAskForATitleBarWithoutButtonsEachTimeTheyAreShown) {
  TForm2 form2;
  for (int shown = 0; shown < 2; ++shown) {
    form2.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form2));
    const std::vector<uint32_t> hints = Property(form2, "_MOTIF_WM_HINTS");
    ASSERT_GE(hints.size(), 3u);
    // Functions are named, and moving is the only one ...
    EXPECT_TRUE(hints[0] & kHasFunctions);
    EXPECT_EQ(hints[1], kFunctionMove);
    // ... under a title bar without buttons.
    EXPECT_TRUE(hints[2] & kDecorTitle);
    EXPECT_FALSE(hints[2] & (kDecorMinimize | kDecorMaximize));
    EXPECT_TRUE(Holds(Property(form2, "_NET_WM_STATE"), Atom("_NET_WM_STATE_ABOVE")));
    EXPECT_TRUE(Holds(Property(form2, "_NET_WM_WINDOW_TYPE"), Atom("_NET_WM_WINDOW_TYPE_DIALOG")));
    form2.Button3->click();
  }
}

TEST_F(WindowManagerHints, TheAboutBoxAsksForACloseBoxAlone) {
  TAboutBox about;
  about.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
  const std::vector<uint32_t> hints = Property(about, "_MOTIF_WM_HINTS");
  ASSERT_GE(hints.size(), 3u);
  EXPECT_TRUE(hints[0] & kHasFunctions);
  EXPECT_TRUE(hints[1] & kFunctionClose);
  EXPECT_FALSE(hints[1] & (kFunctionAll | kFunctionMinimize | kFunctionMaximize));
  EXPECT_FALSE(hints[2] & (kDecorMinimize | kDecorMaximize));
}

}  // namespace
}  // namespace kevrale::test
