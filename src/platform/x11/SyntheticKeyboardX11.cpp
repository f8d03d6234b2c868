#include "x11/SyntheticKeyboardX11.h"

#include "x11/X11Session.h"

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <X11/keysym.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace murmelo {

namespace {

using x11::activeWindow;
using x11::replyTo;

// The instance and class strings of `window`'s WM_CLASS, empty ones left out.
QStringList wmClassOf(xcb_connection_t* connection, xcb_window_t window) {
    // Both strings fit easily in 1 KB; a longer value is cut, which only loses a very long class.
    const auto property = replyTo(
        connection, xcb_get_property(connection, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
        &xcb_get_property_reply);
    if (!property || property->format != 8) return {};
    const QByteArray value(static_cast<const char*>(xcb_get_property_value(property.get())),
                           xcb_get_property_value_length(property.get()));
    QStringList classes;
    for (const QByteArray& part : value.split('\0'))
        if (!part.isEmpty()) classes << QString::fromLatin1(part); // ICCCM strings are Latin-1
    return classes;
}

// Keys go to the input focus, often a child of the application's top-level window (xterm's text
// area, for one), so the classes are looked up on the way towards the root.
QStringList classesAroundFocus(xcb_connection_t* connection, xcb_window_t root) {
    const auto focus = replyTo(connection, xcb_get_input_focus(connection), &xcb_get_input_focus_reply);
    if (!focus) return {};
    xcb_window_t window = focus->focus;
    // None and PointerRoot name no window; the depth limit guards against a tree changing under us.
    for (int depth = 0;
         depth < 32 && window != XCB_WINDOW_NONE && window != XCB_INPUT_FOCUS_POINTER_ROOT && window != root;
         ++depth) {
        QStringList classes = wmClassOf(connection, window);
        if (!classes.isEmpty()) return classes;
        const auto tree = replyTo(connection, xcb_query_tree(connection, window), &xcb_query_tree_reply);
        if (!tree) return {};
        window = tree->parent;
    }
    return {};
}

} // namespace

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

QStringList SyntheticKeyboardX11::focusedWindowClassesNow() const {
    xcb_connection_t* connection = x11::qtConnection();
    if (!connection) return {};
    const xcb_window_t root = x11::rootWindow(connection);
    const xcb_window_t active = activeWindow(connection, root);
    if (active != XCB_WINDOW_NONE) {
        QStringList classes = wmClassOf(connection, active);
        if (!classes.isEmpty()) return classes;
    }
    return classesAroundFocus(connection, root);
}

bool SyntheticKeyboardX11::postPasteShortcutNow(PasteShortcut shortcut) {
    if (!isAvailable()) return false;
    xcb_connection_t* connection = x11::qtConnection();
    const auto control = x11::keycodesFor(connection, XK_Control_L);
    const auto v = x11::keycodesFor(connection, XK_v);
    if (control.empty() || v.empty()) return false;
    const bool withShift = shortcut == PasteShortcut::controlShift;
    const auto shift = withShift ? x11::keycodesFor(connection, XK_Shift_L) : std::vector<quint8>{};
    if (withShift && shift.empty()) return false;

    std::vector<std::pair<quint8, quint8>> events{{XCB_KEY_PRESS, control.front()}};
    if (withShift) events.emplace_back(XCB_KEY_PRESS, shift.front());
    events.emplace_back(XCB_KEY_PRESS, v.front());
    events.emplace_back(XCB_KEY_RELEASE, v.front());
    if (withShift) events.emplace_back(XCB_KEY_RELEASE, shift.front());
    events.emplace_back(XCB_KEY_RELEASE, control.front());

    std::vector<xcb_void_cookie_t> cookies;
    for (const auto& [type, keycode] : events)
        cookies.push_back(
            xcb_test_fake_input_checked(connection, type, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0));
    bool posted = true;
    for (const xcb_void_cookie_t& cookie : cookies) {
        std::unique_ptr<xcb_generic_error_t, decltype(&std::free)> error(
            xcb_request_check(connection, cookie), &std::free);
        if (error) posted = false;
    }
    return posted;
}

} // namespace murmelo
