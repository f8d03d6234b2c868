#include "x11/FocusedWindowX11.h"

#include "x11/X11Session.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace murmelo {

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

// The reply to `cookie`, or null; an error (a window destroyed meanwhile) is consumed here rather
// than reaching Qt's event loop, which would log it.
template <typename T, typename Cookie>
Reply<T> replyTo(xcb_connection_t* connection, Cookie cookie,
                 T* (*receive)(xcb_connection_t*, Cookie, xcb_generic_error_t**)) {
    xcb_generic_error_t* error = nullptr;
    Reply<T> reply(receive(connection, cookie, &error), &std::free);
    std::free(error);
    return reply;
}

} // namespace

std::optional<QRect> FocusedWindowX11::frame() {
    xcb_connection_t* connection = x11::qtConnection();
    if (!connection) return std::nullopt;
    if (!m_activeWindowAtom) {
        static const char name[] = "_NET_ACTIVE_WINDOW";
        const auto atom =
            replyTo(connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), &xcb_intern_atom_reply);
        if (!atom) return std::nullopt;
        m_activeWindowAtom = atom->atom;
    }
    const xcb_window_t root = x11::rootWindow(connection);
    const auto property = replyTo(
        connection, xcb_get_property(connection, 0, root, m_activeWindowAtom, XCB_ATOM_WINDOW, 0, 1),
        &xcb_get_property_reply);
    if (!property || property->format != 32 || xcb_get_property_value_length(property.get()) < 4)
        return std::nullopt;
    const xcb_window_t window = *static_cast<const xcb_window_t*>(xcb_get_property_value(property.get()));
    if (window == XCB_WINDOW_NONE) return std::nullopt;
    // Both asked before either answer is read: one round trip.
    const auto geometryCookie = xcb_get_geometry(connection, window);
    const auto originCookie = xcb_translate_coordinates(connection, window, root, 0, 0);
    const auto geometry = replyTo(connection, geometryCookie, &xcb_get_geometry_reply);
    const auto origin = replyTo(connection, originCookie, &xcb_translate_coordinates_reply);
    if (!geometry || !origin) return std::nullopt;
    return QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
}

} // namespace murmelo
