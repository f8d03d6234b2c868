#include "AppBackends.h"

#include "pulse/AudioInputBackendPulse.h"
#include "qt/HotkeyBackendNull.h"
#include "qt/PasteboardQt.h"
#include "qt/SyntheticKeyboardNull.h"
#include "secret/SecretBackendLibsecret.h"
#include "settings/UserDefaults.h"
#include "x11/HotkeyBackendX11.h"
#include "x11/SyntheticKeyboardX11.h"
#include "x11/X11Session.h"
#include "xdg/LoginItemBackendXdg.h"

namespace murmelo {

AppBackends AppBackends::forThisSession() {
    AppBackends backends;
    backends.defaults = UserDefaults::standard();
    backends.secrets = std::make_shared<SecretBackendLibsecret>();
    backends.audio = std::make_unique<AudioInputBackendPulse>();
    backends.pasteboard = std::make_unique<PasteboardQt>();
    backends.loginItem = std::make_unique<LoginItemBackendXdg>();
    if (X11Session::isAvailable()) {
        backends.hotkey = std::make_unique<HotkeyBackendX11>();
        backends.keyboard = std::make_unique<SyntheticKeyboardX11>();
        backends.compositorRunning = [] { return x11::hasCompositingManager(); };
    } else {
        backends.hotkey = std::make_unique<HotkeyBackendNull>();
        backends.keyboard = std::make_unique<SyntheticKeyboardNull>();
    }
    return backends;
}

} // namespace murmelo
