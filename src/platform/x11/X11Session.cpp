#include "x11/X11Session.h"

#include <QGuiApplication>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <X11/keysym.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace murmelo {
namespace x11 {

xcb_connection_t* qtConnection() {
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!application) return nullptr;
    auto* native = application->nativeInterface<QNativeInterface::QX11Application>();
    if (!native) return nullptr;
    xcb_connection_t* connection = native->connection();
    if (!connection || xcb_connection_has_error(connection)) return nullptr;
    return connection;
}

quint32 rootWindow(xcb_connection_t* connection) {
    int screenNumber = 0;
    // Qt connects to $DISPLAY; its screen part names the default screen.
    if (const char* display = std::getenv("DISPLAY")) {
        char* host = nullptr;
        int displayNumber = 0;
        if (!xcb_parse_display(display, &host, &displayNumber, &screenNumber)) screenNumber = 0;
        std::free(host);
    }
    auto iterator = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && iterator.rem > 1; ++i)
        xcb_screen_next(&iterator);
    return iterator.data ? iterator.data->root : 0;
}

namespace {

using KeySymbols = std::unique_ptr<xcb_key_symbols_t, decltype(&xcb_key_symbols_free)>;

KeySymbols keySymbols(xcb_connection_t* connection) {
    return KeySymbols(xcb_key_symbols_alloc(connection), &xcb_key_symbols_free);
}

std::vector<quint8> keycodesIn(xcb_key_symbols_t* symbols, quint32 keysym) {
    std::vector<quint8> result;
    if (!symbols) return result;
    std::unique_ptr<xcb_keycode_t, decltype(&std::free)> codes(xcb_key_symbols_get_keycode(symbols, keysym),
                                                               &std::free);
    if (!codes) return result;
    for (const xcb_keycode_t* code = codes.get(); *code != XCB_NO_SYMBOL; ++code)
        result.push_back(*code);
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    return result;
}

} // namespace

std::vector<quint8> keycodesFor(xcb_connection_t* connection, quint32 keysym) {
    return keycodesIn(keySymbols(connection).get(), keysym);
}

quint32 activeWindow(xcb_connection_t* connection, quint32 root) {
    static const char name[] = "_NET_ACTIVE_WINDOW";
    const auto atom =
        replyTo(connection, xcb_intern_atom(connection, 1, sizeof name - 1, name), &xcb_intern_atom_reply);
    if (!atom || atom->atom == XCB_ATOM_NONE) return XCB_WINDOW_NONE; // no EWMH window manager ever ran
    const auto property =
        replyTo(connection, xcb_get_property(connection, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 1),
                &xcb_get_property_reply);
    if (!property || property->format != 32 || xcb_get_property_value_length(property.get()) < 4)
        return XCB_WINDOW_NONE;
    return *static_cast<const xcb_window_t*>(xcb_get_property_value(property.get()));
}

ModifierMasks modifierMasks(xcb_connection_t* connection) {
    ModifierMasks masks;
    std::unique_ptr<xcb_get_modifier_mapping_reply_t, decltype(&std::free)> mapping(
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr),
        &std::free);
    if (!mapping) return masks;
    const int perModifier = mapping->keycodes_per_modifier;
    const xcb_keycode_t* table = xcb_get_modifier_mapping_keycodes(mapping.get());
    // One keyboard mapping fetched for all the lookups below.
    const KeySymbols symbols = keySymbols(connection);

    // The mask of the modifier (0 = Shift ... 7 = Mod5) that any key producing one of `keysyms` is bound to.
    auto maskOf = [&](std::initializer_list<quint32> keysyms) -> quint16 {
        quint16 mask = 0;
        for (const quint32 keysym : keysyms)
            for (const quint8 code : keycodesIn(symbols.get(), keysym))
                for (int modifier = 0; modifier < 8; ++modifier)
                    for (int slot = 0; slot < perModifier; ++slot)
                        if (table[modifier * perModifier + slot] == code) mask |= quint16(1u << modifier);
        return mask;
    };
    masks.shift = XCB_MOD_MASK_SHIFT;
    masks.control = XCB_MOD_MASK_CONTROL;
    masks.numLock = maskOf({XK_Num_Lock});
    masks.capsLock = maskOf({XK_Caps_Lock, XK_Shift_Lock});
    masks.scrollLock = maskOf({XK_Scroll_Lock});
    // The conventional bits stand in when a keymap does not bind the keys at all.
    masks.alt = maskOf({XK_Alt_L, XK_Alt_R});
    if (!masks.alt) masks.alt = XCB_MOD_MASK_1;
    masks.super = maskOf({XK_Super_L, XK_Super_R});
    if (!masks.super) masks.super = XCB_MOD_MASK_4;
    return masks;
}

} // namespace x11

bool X11Session::isAvailable() {
    return x11::qtConnection() != nullptr;
}

} // namespace murmelo

namespace murmelo::x11 {

bool hasCompositingManager() {
    xcb_connection_t* connection = qtConnection();
    if (!connection) return false;
    const QByteArray name = "_NET_WM_CM_S0"; // the default screen, which is the one Qt shows our windows on
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, quint16(name.size()), name.constData()), nullptr);
    if (!atom) return false;
    const xcb_atom_t selection = atom->atom;
    free(atom);
    if (selection == XCB_ATOM_NONE) return false;
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool owned = owner && owner->owner != XCB_WINDOW_NONE;
    free(owner);
    return owned;
}

} // namespace murmelo::x11
