#include "x11/FocusedWindowX11.h"

#include "x11/X11Session.h"

#include <xcb/xcb.h>

namespace murmelo {

std::optional<QRect> FocusedWindowX11::frame() {
    xcb_connection_t* connection = x11::qtConnection();
    if (!connection) return std::nullopt;
    const xcb_window_t root = x11::rootWindow(connection);
    const xcb_window_t window = x11::activeWindow(connection, root);
    if (window == XCB_WINDOW_NONE) return std::nullopt;
    // Both asked before either answer is read: one round trip.
    const auto geometryCookie = xcb_get_geometry(connection, window);
    const auto originCookie = xcb_translate_coordinates(connection, window, root, 0, 0);
    const auto geometry = x11::replyTo(connection, geometryCookie, &xcb_get_geometry_reply);
    const auto origin = x11::replyTo(connection, originCookie, &xcb_translate_coordinates_reply);
    if (!geometry || !origin) return std::nullopt;
    return QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
}

} // namespace murmelo
