#include "x11/CancelKeyX11.h"

#include "x11/X11Session.h"

#include <QCoreApplication>

#include <xcb/xcb.h>

#include <X11/keysym.h>

#include <algorithm>

namespace murmelo {

CancelKeyX11::~CancelKeyX11() { disarm(); }

bool CancelKeyX11::arm(PressHandler pressed) {
    disarm();
    m_connection = x11::qtConnection();
    if (!m_connection) return false;
    m_root = x11::rootWindow(m_connection);
    // Two round trips to the local server, once per dictation; the grabs themselves are not
    // checked (a refused one only means Escape does not cancel this time), so nothing waits.
    const std::vector<quint8> keycodes = x11::keycodesFor(m_connection, XK_Escape);
    const x11::ModifierMasks masks = x11::modifierMasks(m_connection);
    std::vector<quint16> variants;
    for (const quint16 variant :
         {quint16(0), masks.numLock, masks.capsLock, quint16(masks.numLock | masks.capsLock)})
        if (std::find(variants.begin(), variants.end(), variant) == variants.end()) variants.push_back(variant);
    for (const quint8 keycode : keycodes)
        for (const quint16 variant : variants) {
            xcb_grab_key(m_connection, 0, m_root, variant, keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
            m_grabs.push_back({keycode, variant});
        }
    xcb_flush(m_connection);
    if (m_grabs.empty()) return false;
    m_pressed = std::move(pressed);
    QCoreApplication::instance()->installNativeEventFilter(this);
    return true;
}

void CancelKeyX11::disarm() {
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
    m_pressed = nullptr;
    // Qt may already have closed its connection at exit; the grabs ended with it.
    if (m_connection && x11::qtConnection() == m_connection && !m_grabs.empty()) {
        for (const Grab& grab : m_grabs)
            xcb_ungrab_key(m_connection, grab.keycode, m_root, grab.modifiers);
        xcb_flush(m_connection);
    }
    m_grabs.clear();
}

bool CancelKeyX11::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !message || !m_pressed) return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const quint8 type = event->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) return false;
    const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
    if (key->event != m_root) return false;
    const bool ours = std::any_of(m_grabs.begin(), m_grabs.end(), [&](const Grab& grab) {
        return grab.keycode == key->detail && grab.modifiers == (key->state & x11::allModifierBits);
    });
    if (!ours) return false;
    if (type == XCB_KEY_PRESS) {
        const PressHandler pressed = m_pressed; // the handler may disarm us
        pressed();
    }
    return true;
}

} // namespace murmelo
