#include "AppBackends.h"

#include "portal/HotkeyBackendPortal.h"
#include "portal/SyntheticKeyboardPortal.h"
#include "pulse/AudioInputBackendPulse.h"
#include "canberra/SoundPlayerCanberra.h"
#include "qt/DesktopSession.h"
#include "qt/HotkeyBackendNull.h"
#include "qt/PasteboardQt.h"
#include "qt/SyntheticKeyboardNull.h"
#include "secret/SecretBackendLibsecret.h"
#include "settings/UserDefaults.h"
#include "wayland/PasteboardWlClipboard.h"
#include "wayland/SyntheticKeyboardWtype.h"
#include "x11/CancelKeyX11.h"
#include "x11/FocusedWindowX11.h"
#include "x11/HotkeyBackendX11.h"
#include "x11/SyntheticKeyboardX11.h"
#include "x11/X11Session.h"
#include "xdg/LoginItemBackendXdg.h"

namespace murmelo {
namespace {

void pickX11(AppBackends& backends) {
    backends.hotkey = std::make_unique<HotkeyBackendX11>();
    backends.keyboard = std::make_unique<SyntheticKeyboardX11>();
    backends.cancelKey = std::make_unique<CancelKeyX11>();
    backends.compositorRunning = [] { return x11::hasCompositingManager(); };
    backends.focusedWindowFrame = [window = std::make_shared<FocusedWindowX11>()] { return window->frame(); };
}

// wlroots compositors (sway, Hyprland, river) take the clipboard from wl-copy and keys from wtype
// without asking anyone; GNOME and KDE post keys through the RemoteDesktop portal after the user
// agreed. Shortcuts come from the portal everywhere; where it has none, registering says how to
// bind `murmelo --toggle` instead.
void pickWayland(AppBackends& backends) {
    auto shortcuts = std::make_unique<HotkeyBackendPortal>();
    backends.cancelKey = std::make_unique<CancelKeyPortal>(*shortcuts);
    backends.hotkey = std::move(shortcuts);
    const WaylandClient compositor; // asked once for both
    if (auto pasteboard = PasteboardWlClipboard::createIfSupported(compositor))
        backends.pasteboard = std::move(pasteboard);
    if (auto keyboard = SyntheticKeyboardWtype::createIfSupported(compositor))
        backends.keyboard = std::move(keyboard);
    else if (auto portalKeyboard = SyntheticKeyboardPortal::create(backends.secrets))
        backends.keyboard = std::move(portalKeyboard);
    else
        backends.keyboard = std::make_unique<SyntheticKeyboardNull>();
    backends.compositorRunning = [] { return true; }; // a Wayland compositor always composites
    backends.overlayTakesFocus = true;
}

} // namespace

AppBackends AppBackends::forThisSession() {
    AppBackends backends;
    backends.defaults = UserDefaults::standard();
    backends.secrets = std::make_shared<SecretBackendLibsecret>();
    backends.audio = std::make_unique<AudioInputBackendPulse>();
    backends.pasteboard = std::make_unique<PasteboardQt>();
    backends.loginItem = std::make_unique<LoginItemBackendXdg>();
    backends.sounds = std::make_unique<SoundPlayerCanberra>();
    backends.hotkey = std::make_unique<HotkeyBackendNull>();
    backends.keyboard = std::make_unique<SyntheticKeyboardNull>();
    switch (DesktopSession::protocol()) {
    case DesktopSession::Protocol::x11:
        if (X11Session::isAvailable()) pickX11(backends);
        break;
    case DesktopSession::Protocol::wayland:
        pickWayland(backends);
        break;
    case DesktopSession::Protocol::none:
        break;
    }
    return backends;
}

} // namespace murmelo
