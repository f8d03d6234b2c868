#include "x11/HotkeyBackendX11.h"

#include "x11/X11Session.h"

#include <QCoreApplication>

#include <xcb/xcb.h>

#include <X11/keysym.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace murmelo {
namespace {

constexpr qint32 badValue = 2;
// Longer than any auto-repeat delay or interval a keyboard is set to.
constexpr quint32 repeatWindowMs = 1000;

} // namespace

HotkeyBackendX11::HotkeyBackendX11() {
    // The server sends a repeat's release and press together; this is ample for the press.
    m_releaseWait.setSingleShot(true);
    m_releaseWait.setInterval(30);
    QObject::connect(&m_releaseWait, &QTimer::timeout, [this] {
        if (!m_releaseHandler) return;
        const ReleaseHandler handler = m_releaseHandler; // the handler may replace itself
        handler();
    });
}

HotkeyBackendX11::~HotkeyBackendX11() {
    // Qt closes its connection with the application; grabs end with the connection anyway.
    if (m_connection && x11::qtConnection() == m_connection) {
        for (const auto& [grab, users] : m_grabUsers)
            xcb_ungrab_key(m_connection, grab.keycode, m_root, grab.modifiers);
        xcb_flush(m_connection);
    }
    removeHandler();
}

qint32 HotkeyBackendX11::installHandler(PressHandler handler) {
    xcb_connection_t* connection = x11::qtConnection();
    if (!connection) return statusNoDisplay;
    if (!m_connection) {
        m_connection = connection;
        m_root = x11::rootWindow(connection);
    }
    m_handler = std::move(handler);
    if (!m_filterInstalled) {
        QCoreApplication::instance()->installNativeEventFilter(this);
        m_filterInstalled = true;
    }
    return 0;
}

void HotkeyBackendX11::removeHandler() {
    m_handler = nullptr;
    if (m_filterInstalled && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    m_filterInstalled = false;
}

qint32 HotkeyBackendX11::registerHotKey(HotkeyShortcut shortcut, HotkeyIdentifier, HotkeyHandle& handle) {
    if (!m_connection) {
        m_connection = x11::qtConnection();
        if (!m_connection) return statusNoDisplay;
        m_root = x11::rootWindow(m_connection);
    }
    if (shortcut.keyCode != hotkeys::spaceKeyCode) return badValue;
    const quint32 known = hotkeys::commandModifier | hotkeys::shiftModifier | hotkeys::optionModifier |
                          hotkeys::controlModifier;
    if (shortcut.modifiers & ~known) return badValue;

    // Looked up at every registration, so a changed keymap is picked up by the next one.
    const x11::ModifierMasks masks = x11::modifierMasks(m_connection);
    m_locks = masks.locks();
    quint16 modifiers = 0;
    if (shortcut.modifiers & hotkeys::commandModifier) modifiers |= masks.super;
    if (shortcut.modifiers & hotkeys::shiftModifier) modifiers |= masks.shift;
    if (shortcut.modifiers & hotkeys::optionModifier) modifiers |= masks.alt;
    if (shortcut.modifiers & hotkeys::controlModifier) modifiers |= masks.control;

    Registration registration;
    registration.keycodes = x11::keycodesFor(m_connection, XK_space);
    registration.modifiers = modifiers;
    if (registration.keycodes.empty()) return badValue;

    std::vector<quint16> lockVariants;
    for (const quint16 variant :
         {quint16(0), masks.numLock, masks.capsLock, quint16(masks.numLock | masks.capsLock)})
        if (std::find(lockVariants.begin(), lockVariants.end(), variant) == lockVariants.end())
            lockVariants.push_back(variant);

    for (const quint8 keycode : registration.keycodes) {
        for (const quint16 variant : lockVariants) {
            const Grab grab{keycode, quint16(modifiers | variant)};
            if (m_grabUsers.count(grab) == 0) {
                // Pointer and keyboard keep running (async); the press is always reported to
                // the root window, also when one of our own windows has the focus.
                const xcb_void_cookie_t cookie =
                    xcb_grab_key_checked(m_connection, 0, m_root, grab.modifiers, grab.keycode,
                                         XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
                std::unique_ptr<xcb_generic_error_t, decltype(&std::free)> error(
                    xcb_request_check(m_connection, cookie), &std::free);
                if (error) {
                    // All or nothing: drop what this registration grabbed so far.
                    const qint32 status = error->error_code;
                    for (const Grab& taken : registration.grabs)
                        release(taken);
                    xcb_flush(m_connection);
                    return status;
                }
            }
            ++m_grabUsers[grab];
            registration.grabs.push_back(grab);
        }
    }
    xcb_flush(m_connection);
    handle = ++m_lastHandle;
    m_registrations.emplace(handle, std::move(registration));
    return 0;
}

void HotkeyBackendX11::release(const Grab& grab) {
    auto it = m_grabUsers.find(grab);
    if (it == m_grabUsers.end()) return;
    if (--it->second > 0) return;
    m_grabUsers.erase(it);
    xcb_ungrab_key(m_connection, grab.keycode, m_root, grab.modifiers);
}

void HotkeyBackendX11::unregisterHotKey(HotkeyHandle handle) {
    auto it = m_registrations.find(handle);
    if (it == m_registrations.end()) return;
    const bool connected = x11::qtConnection() == m_connection;
    for (const Grab& grab : it->second.grabs)
        if (connected) release(grab);
    m_registrations.erase(it);
    if (connected) xcb_flush(m_connection);
}

bool HotkeyBackendX11::matchesRegistration(quint8 keycode, quint16 state) const {
    const quint16 modifiers = state & x11::allModifierBits & quint16(~m_locks);
    for (const auto& [handle, registration] : m_registrations) {
        if (registration.modifiers != modifiers) continue;
        if (std::find(registration.keycodes.begin(), registration.keycodes.end(), keycode) !=
            registration.keycodes.end())
            return true;
    }
    return false;
}

bool HotkeyBackendX11::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !message) return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const quint8 type = event->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) return false;
    const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
    // Presses of our grabs are reported to the root window; everything else is Qt's.
    if (key->event != m_root) return false;

    if (type == XCB_KEY_RELEASE) {
        // The modifiers may already be up when the key itself is released: match the key only.
        if (key->detail != m_heldKeycode) return false;
        m_heldKeycode = 0;
        m_lastReleaseTime = key->time;
        m_lastReleaseKeycode = key->detail;
        if (m_releaseHandler) m_releaseWait.start();
        return true;
    }
    if (!matchesRegistration(key->detail, key->state)) return false;
    // A repeat comes either without a release in between (detectable auto-repeat) or, as the
    // server sends it to us, right after a release with the same time stamp, which no person
    // can do by hand. The time limit keeps a lost release from silencing the shortcut for good.
    const bool repeat = (m_heldKeycode == key->detail && key->time - m_lastPressTime < repeatWindowMs) ||
                        (m_lastReleaseKeycode == key->detail && m_lastReleaseTime == key->time);
    if (m_releaseWait.isActive()) {
        m_releaseWait.stop();
        // A new press soon after a release: the release was real, and goes out before the press.
        if (!repeat && m_releaseHandler) {
            const ReleaseHandler handler = m_releaseHandler;
            handler();
        }
    }
    m_heldKeycode = key->detail;
    m_lastPressTime = key->time;
    if (!repeat && m_handler) {
        const PressHandler handler = m_handler; // the handler may replace itself
        handler();
    }
    return true;
}

} // namespace murmelo
