#pragma once

#include "system/HotkeyBackend.h"

#include <QAbstractNativeEventFilter>
#include <QTimer>

#include <map>
#include <vector>

struct xcb_connection_t;

namespace murmelo {

// Global shortcuts as passive key grabs on the root window, over Qt's own X connection so that
// the presses arrive through Qt's event loop (a native event filter picks them out).
//
// Shortcut translation: Command = Super, Option = Alt, Control, Shift (the Alt and Super bits as
// the modifier mapping binds them); key code 49 = the key producing the space keysym. Each
// shortcut is grabbed with every combination of Num Lock and Caps Lock, so it works whatever
// lock is on.
//
// Statuses: 0 success; the X error code of a refused grab (10, BadAccess: another client holds
// the combination); 2 (BadValue) for a key or modifier that has no X equivalent;
// HotkeyBackend::statusNoDisplay (-1) when the application has no X connection (offscreen, a
// Wayland session without XWayland).
class HotkeyBackendX11 final : public HotkeyBackend, public QAbstractNativeEventFilter {
public:
    HotkeyBackendX11();
    ~HotkeyBackendX11() override;
    HotkeyBackendX11(const HotkeyBackendX11&) = delete;
    HotkeyBackendX11& operator=(const HotkeyBackendX11&) = delete;

    qint32 installHandler(PressHandler handler) override;
    void removeHandler() override;
    qint32 registerHotKey(HotkeyShortcut shortcut, HotkeyIdentifier identifier,
                          HotkeyHandle& handle) override;
    void unregisterHotKey(HotkeyHandle handle) override;
    void setReleaseHandler(ReleaseHandler handler) override { m_releaseHandler = std::move(handler); }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    struct Grab {
        quint8 keycode;
        quint16 modifiers; // with lock bits
        bool operator<(const Grab& other) const {
            return keycode != other.keycode ? keycode < other.keycode : modifiers < other.modifiers;
        }
    };
    struct Registration {
        std::vector<quint8> keycodes;
        quint16 modifiers; // without lock bits: what a press must carry
        std::vector<Grab> grabs;
    };

    void release(const Grab& grab);
    bool matchesRegistration(quint8 keycode, quint16 state) const;

    xcb_connection_t* m_connection = nullptr;
    quint32 m_root = 0;
    quint16 m_locks = 0;
    PressHandler m_handler;
    ReleaseHandler m_releaseHandler;
    // A release is only one once no auto-repeat press with its time stamp follows it.
    QTimer m_releaseWait;
    bool m_filterInstalled = false;
    std::map<HotkeyHandle, Registration> m_registrations;
    // Our grabs and how many registrations use each: registering the combination that is
    // already ours must not lose it when the older registration goes.
    std::map<Grab, int> m_grabUsers;
    HotkeyHandle m_lastHandle = 0;

    // Key auto-repeat: a held shortcut must fire once, not once per repeat.
    quint8 m_heldKeycode = 0;
    quint32 m_lastPressTime = 0;
    quint32 m_lastReleaseTime = 0;
    quint8 m_lastReleaseKeycode = 0;
};

} // namespace murmelo
