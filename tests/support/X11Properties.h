// What a window asks of the window manager, read back from the X server
// that the test runs on (Xvfb, no window manager): window properties and
// the Motif hints' bits.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QWidget>

namespace kevrale::test {

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

// The connection of Qt's X11 back end; nullptr on any other platform.
inline xcb_connection_t* X11Connection() {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 != nullptr ? x11->connection() : nullptr;
}

inline xcb_atom_t X11Atom(const std::string& name) {
  const auto cookie = xcb_intern_atom(X11Connection(), 0, uint16_t(name.size()), name.c_str());
  std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
      xcb_intern_atom_reply(X11Connection(), cookie, nullptr), &std::free);
  return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// A property of 32-bit values as the server holds it now.
inline std::vector<uint32_t> X11Property(const QWidget& window, const std::string& name) {
  const auto cookie = xcb_get_property(X11Connection(), 0, xcb_window_t(window.winId()),
                                       X11Atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 64);
  std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
      xcb_get_property_reply(X11Connection(), cookie, nullptr), &std::free);
  if (!reply || reply->format != 32) return {};
  const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
  return {values, values + xcb_get_property_value_length(reply.get()) / 4};
}

inline bool Holds(const std::vector<uint32_t>& values, uint32_t value) {
  return std::find(values.begin(), values.end(), value) != values.end();
}

}  // namespace kevrale::test
