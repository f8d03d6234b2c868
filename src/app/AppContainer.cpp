#include "AppContainer.h"

#include "OverlayWindowController.h"
#include "TrayIcon.h"

#include <QApplication>
#include <QSystemTrayIcon>

namespace murmelo {

AppContainer::AppContainer()
    : m_defaults(UserDefaults::standard())
    , m_state(std::make_unique<AppState>())
    , m_settings(std::make_unique<AppSettings>(*m_defaults)) {
    MenuActions actions;
    actions.toggleDictation = [] {};
    actions.copyBestAvailableText = [] {};
    actions.openSettings = [] {};
    actions.quit = [] { QApplication::quit(); };
    m_tray = std::make_unique<TrayIcon>(*m_state, *m_settings, std::move(actions));
    m_overlay = std::make_unique<OverlayWindowController>(*m_state);
    m_tray->showWhenTrayAvailable();
}

AppContainer::~AppContainer() = default;

void AppContainer::handleCommand(const QString& command) {
    // Filled in as the settings window and the coordinator arrive.
    Q_UNUSED(command);
}

} // namespace murmelo
