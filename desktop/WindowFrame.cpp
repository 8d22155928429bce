#include "desktop/WindowFrame.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QWidget>

namespace kevrale {

namespace {

// The Motif window manager hints: flags, functions, decorations, input mode,
// status, each 32 bits.
constexpr uint32_t kHintsFunctions = 1u << 0;
constexpr uint32_t kHintsDecorations = 1u << 1;
constexpr uint32_t kFunctionMove = 1u << 2;
constexpr uint32_t kDecorBorder = 1u << 1;
constexpr uint32_t kDecorTitle = 1u << 3;

xcb_atom_t Atom(xcb_connection_t* connection, const char* name, size_t length) {
  const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, uint16_t(length), name);
  std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
      xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
  return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

}  // namespace

void RequestFrameWithoutButtons(QWidget& window) {
  auto* x11 =
      qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (x11 == nullptr || x11->connection() == nullptr) return;
  xcb_connection_t* connection = x11->connection();
  static constexpr char kName[] = "_MOTIF_WM_HINTS";
  const xcb_atom_t hints_atom = Atom(connection, kName, sizeof kName - 1);
  if (hints_atom == XCB_ATOM_NONE) return;
  // Moving is the only function; a border and a title the only decoration.
  const std::array<uint32_t, 5> hints{kHintsFunctions | kHintsDecorations, kFunctionMove,
                                      kDecorBorder | kDecorTitle, 0, 0};
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window.winId()), hints_atom,
                      hints_atom, 32, uint32_t(hints.size()), hints.data());
  xcb_flush(connection);
}

}  // namespace kevrale
