#pragma once

#include <QRect>

#include <optional>

namespace murmelo {

// Where the window the window manager reports active (_NET_ACTIVE_WINDOW) lies, in the root
// window's (native) coordinates, on Qt's X connection.
class FocusedWindowX11 final {
public:
    // Three round trips on the calling thread (the atom, the property, then geometry and position
    // together): fast enough for the UI thread on a local server. Nothing without X, without an
    // EWMH window manager, or when the active window is gone.
    std::optional<QRect> frame();
};

} // namespace murmelo
