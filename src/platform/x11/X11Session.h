#pragma once

#include <QtGlobal>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace murmelo {

// The X server the application's windows live on, as Qt reaches it.
namespace x11 {

// Qt's own connection, or nullptr when the application does not run on X11 (no QGuiApplication,
// the offscreen or Wayland platform: there the X11 interface may exist with a null connection).
xcb_connection_t* qtConnection();
// The root window of the default screen of `connection`.
quint32 rootWindow(xcb_connection_t* connection);

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

// The reply to `cookie`, or null. An error (a window destroyed meanwhile) is consumed here instead
// of reaching Qt's event loop, which would log it.
template <typename T, typename Cookie>
Reply<T> replyTo(xcb_connection_t* connection, Cookie cookie,
                 T* (*receive)(xcb_connection_t*, Cookie, xcb_generic_error_t**)) {
    xcb_generic_error_t* error = nullptr;
    Reply<T> reply(receive(connection, cookie, &error), &std::free);
    std::free(error);
    return reply;
}

// The window the window manager reports active (_NET_ACTIVE_WINDOW on `root`), or 0 (none, or no
// EWMH window manager ever ran). Two round trips.
quint32 activeWindow(xcb_connection_t* connection, quint32 root);

// The key codes that produce `keysym` in the current keyboard mapping, lowest first.
std::vector<quint8> keycodesFor(xcb_connection_t* connection, quint32 keysym);

// Modifier masks as the server's modifier mapping binds them; zero when a key is not bound.
struct ModifierMasks {
    quint16 shift = 0;
    quint16 control = 0;
    quint16 alt = 0;
    quint16 super = 0;
    quint16 numLock = 0;
    quint16 capsLock = 0;
    quint16 scrollLock = 0;
    // Locks are states, not held keys.
    quint16 locks() const { return numLock | capsLock | scrollLock; }
};
ModifierMasks modifierMasks(xcb_connection_t* connection);

// Shift, Lock, Control and Mod1 to Mod5: every bit of an event state that is a modifier.
inline constexpr quint16 allModifierBits = 0x00ff;

} // namespace x11

// Whether the X11 back ends can work in this process; the composition root picks the null back
// ends otherwise.
struct X11Session {
    static bool isAvailable();
};

} // namespace murmelo

namespace murmelo::x11 {
// Whether a compositing manager runs on the default screen (it owns _NET_WM_CM_S<n>); without
// one, translucent windows render black where they should be clear.
bool hasCompositingManager();
} // namespace murmelo::x11
