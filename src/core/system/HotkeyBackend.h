#pragma once

#include "settings/Modes.h"

#include <QtGlobal>

#include <functional>

namespace murmelo {

// The shortcut of a preset in the platform-neutral terms the presets are defined in: a virtual
// key code and a mask of modifier bits. Back ends translate both to their own keyboard.
namespace hotkeys {
inline constexpr quint32 commandModifier = 0x0100; // Super on Linux desktops
inline constexpr quint32 shiftModifier = 0x0200;
inline constexpr quint32 optionModifier = 0x0800; // Alt
inline constexpr quint32 controlModifier = 0x1000;
inline constexpr quint32 spaceKeyCode = 49;
// "MRML": four ASCII bytes read as a big-endian number.
inline constexpr quint32 signature =
    (quint32('M') << 24) | (quint32('R') << 16) | (quint32('M') << 8) | quint32('L');
} // namespace hotkeys

struct HotkeyShortcut {
    quint32 keyCode = hotkeys::spaceKeyCode;
    quint32 modifiers = 0;
    bool operator==(const HotkeyShortcut&) const = default;
};

HotkeyShortcut shortcut(HotkeyPreset preset);

// Identifies one registration to the back end.
struct HotkeyIdentifier {
    quint32 signature = hotkeys::signature;
    quint32 id = 0;
    bool operator==(const HotkeyIdentifier&) const = default;
};

using HotkeyHandle = quint64;

// The system-wide shortcut facility. Statuses are the platform's codes; 0 means success.
// Everything runs on the main thread.
class HotkeyBackend {
public:
    // The status a back end reports when there is no display server to register with (offscreen,
    // a Wayland session without XWayland). Negative so it never collides with an X error code.
    static constexpr qint32 statusNoDisplay = -1;
    // The session offers no shortcut service this back end can use (a Wayland desktop whose portal
    // lacks global shortcuts): the user binds a desktop shortcut to `murmelo --toggle` instead.
    static constexpr qint32 statusNoShortcutService = -2;
    // The desktop or the user declined the shortcut (a cancelled portal request).
    static constexpr qint32 statusDeclined = -3;

    using PressHandler = std::function<void()>;
    // Called on the main thread when the key of a press the press handler saw goes up; the
    // auto-repeat of a held shortcut is neither a press nor a release.
    using ReleaseHandler = std::function<void()>;
    // Called on the main thread when a registration that returned 0 fails later (back ends that
    // ask the desktop, and maybe the user, asynchronously). The handle is no longer registered.
    using FailureHandler = std::function<void(HotkeyHandle handle, qint32 status)>;
    // Called on the main thread when the desktop has agreed to a registration that returned 0.
    using ConfirmHandler = std::function<void(HotkeyHandle handle)>;

    virtual ~HotkeyBackend() = default;

    // Installs the function called, on the main thread, for every press of a registered shortcut.
    virtual qint32 installHandler(PressHandler handler) = 0;
    virtual void removeHandler() = 0;
    // Registers a shortcut. On success `handle` names it for unregisterHotKey(); on failure
    // nothing stays registered and the previous registrations are untouched.
    virtual qint32 registerHotKey(HotkeyShortcut shortcut, HotkeyIdentifier identifier,
                                  HotkeyHandle& handle) = 0;
    virtual void unregisterHotKey(HotkeyHandle handle) = 0;
    // Back ends that answer registerHotKey() at once never call them.
    virtual void setFailureHandler(FailureHandler handler) { (void)handler; }
    virtual void setConfirmHandler(ConfirmHandler handler) { (void)handler; }
    // Back ends that cannot tell a release never call it.
    virtual void setReleaseHandler(ReleaseHandler handler) { (void)handler; }
    // True when a registration that returned 0 is only accepted for asking: it holds once the
    // confirm handler ran for it, or never, when the failure handler runs instead.
    virtual bool answersLater() const { return false; }
};

} // namespace murmelo
