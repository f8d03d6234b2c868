#pragma once

#include <QRect>

#include <optional>

namespace murmelo {

// Where the window the window manager reports active (_NET_ACTIVE_WINDOW) lies, in the root
// window's (native) coordinates, on Qt's X connection.
class FocusedWindowX11 final {
public:
    // Two round trips on the calling thread (the property, then geometry and position together;
    // the atom is looked up once): fast enough for the UI thread on a local server. Nothing
    // without X, without an EWMH window manager, or when the active window is gone.
    std::optional<QRect> frame();

private:
    quint32 m_activeWindowAtom = 0; // 0: not looked up yet
};

} // namespace murmelo
