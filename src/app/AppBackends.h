#pragma once

#include "audio/AudioInputBackend.h"
#include "dictation/DictationCoordinator.h"
#include "dictation/DictationProviderFactory.h"
#include "settings/UserDefaults.h"
#include "stores/SecretBackend.h"
#include "system/CancelKey.h"
#include "system/HotkeyBackend.h"
#include "system/LoginItemBackend.h"
#include "system/Pasteboard.h"
#include "system/SoundCues.h"
#include "system/SyntheticKeyboard.h"

#include <QRect>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace murmelo {

// Everything platform-specific the application is built from. forThisSession() picks the Linux
// back ends for the running session; tests hand in fakes, temporary paths and short time limits.
struct AppBackends {
    std::unique_ptr<UserDefaults> defaults;
    std::shared_ptr<SecretBackend> secrets;
    std::unique_ptr<AudioInputBackend> audio;
    std::unique_ptr<HotkeyBackend> hotkey;
    std::unique_ptr<Pasteboard> pasteboard;
    std::unique_ptr<SyntheticKeyboard> keyboard;
    std::unique_ptr<LoginItemBackend> loginItem;
    std::unique_ptr<SoundPlayer> sounds; // null: no cues
    std::unique_ptr<CancelKeyBackend> cancelKey; // null: only the panel cancels
    QString dictionaryPath; // empty: the default location
    QString historyPath;    // empty: the default location
    std::function<bool()> compositorRunning = [] { return true; };
    bool overlayTakesFocus = false; // Wayland: every window the compositor maps gets the focus
    // The focused window's frame, native pixels; unset or nothing: the overlay follows the pointer.
    std::function<std::optional<QRect>()> focusedWindowFrame;
    DictationTiming timing;
    MockProviderDelays mockDelays;

    // The back ends of the running session (X11, or Wayland through wl-clipboard, wtype and the
    // desktop portal; see DesktopSession::protocol for the choice and its MURMELO_SESSION
    // override), else the null ones that fail with their documented statuses; the real keyring,
    // audio server and autostart folder. Needs the QGuiApplication.
    static AppBackends forThisSession();
};

} // namespace murmelo
