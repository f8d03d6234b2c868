#pragma once

#include <QString>

#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>

namespace murmelo::test {

// Another X client holding key combinations on the root window, as a rival application would.
class RivalClient {
public:
    explicit RivalClient(const QString& display)
        : m_connection(xcb_connect(display.toLocal8Bit().constData(), nullptr)) {}
    ~RivalClient() { xcb_disconnect(m_connection); }
    RivalClient(const RivalClient&) = delete;
    RivalClient& operator=(const RivalClient&) = delete;

    // Grabs Space with `modifiers`; false when someone else holds it already.
    bool grabSpace(quint16 modifiers) {
        auto* symbols = xcb_key_symbols_alloc(m_connection);
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, XK_space);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        auto* error =
            xcb_request_check(m_connection, xcb_grab_key_checked(m_connection, 0, root, modifiers, codes[0],
                                                                 XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        const bool ok = !error;
        std::free(error);
        std::free(codes);
        xcb_key_symbols_free(symbols);
        return ok;
    }

private:
    xcb_connection_t* m_connection;
};

} // namespace murmelo::test
