#pragma once

#include "dictation/AppState.h"
#include "settings/AppSettings.h"
#include "settings/UserDefaults.h"

#include <memory>

namespace murmelo {

class OverlayWindowController;
class TrayIcon;

// The composition root: builds every long-lived object once and owns it. The only place that
// picks back ends.
class AppContainer final {
public:
    AppContainer();
    ~AppContainer();

    AppState& state() { return *m_state; }
    AppSettings& settings() { return *m_settings; }

    // A request from a second start: "settings" opens the settings window, "toggle" toggles dictation.
    void handleCommand(const QString& command);

private:
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<TrayIcon> m_tray;
    std::unique_ptr<OverlayWindowController> m_overlay;
};

} // namespace murmelo
