#include "x11/SyntheticKeyboardX11.h"

#include "x11/X11Session.h"

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <X11/keysym.h>

#include <cstdlib>
#include <memory>

namespace murmelo {

bool SyntheticKeyboardX11::isAvailable() const {
    xcb_connection_t* connection = x11::qtConnection();
    if (!connection) return false;
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_test_id);
    return extension && extension->present;
}

bool SyntheticKeyboardX11::isModifierHeld() const {
    xcb_connection_t* connection = x11::qtConnection();
    if (!connection) return false;
    std::unique_ptr<xcb_query_pointer_reply_t, decltype(&std::free)> pointer(
        xcb_query_pointer_reply(connection, xcb_query_pointer(connection, x11::rootWindow(connection)),
                                nullptr),
        &std::free);
    if (!pointer) return false;
    const x11::ModifierMasks masks = x11::modifierMasks(connection);
    return (pointer->mask & x11::allModifierBits & ~(masks.locks() | XCB_MOD_MASK_LOCK)) != 0;
}

bool SyntheticKeyboardX11::postPasteShortcut() {
    if (!isAvailable()) return false;
    xcb_connection_t* connection = x11::qtConnection();
    const auto control = x11::keycodesFor(connection, XK_Control_L);
    const auto v = x11::keycodesFor(connection, XK_v);
    if (control.empty() || v.empty()) return false;

    const std::pair<quint8, quint8> events[] = {
        {XCB_KEY_PRESS, control.front()},
        {XCB_KEY_PRESS, v.front()},
        {XCB_KEY_RELEASE, v.front()},
        {XCB_KEY_RELEASE, control.front()},
    };
    xcb_void_cookie_t cookies[4];
    int i = 0;
    for (const auto& [type, keycode] : events)
        cookies[i++] =
            xcb_test_fake_input_checked(connection, type, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    bool posted = true;
    for (const xcb_void_cookie_t& cookie : cookies) {
        std::unique_ptr<xcb_generic_error_t, decltype(&std::free)> error(
            xcb_request_check(connection, cookie), &std::free);
        if (error) posted = false;
    }
    return posted;
}

} // namespace murmelo
