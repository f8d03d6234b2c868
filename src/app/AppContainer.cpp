#include "AppContainer.h"

#include "TrayIcon.h"

#include <QApplication>
#include <QSystemTrayIcon>

namespace murmelo {

AppContainer::AppContainer()
    : m_defaults(UserDefaults::standard())
    , m_state(std::make_unique<AppState>())
    , m_settings(std::make_unique<AppSettings>(*m_defaults)) {
    m_tray = std::make_unique<TrayIcon>(*m_state);
    QObject::connect(m_tray.get(), &TrayIcon::quitRequested, qApp, &QApplication::quit);
    if (QSystemTrayIcon::isSystemTrayAvailable()) m_tray->icon().show();
}

AppContainer::~AppContainer() = default;

} // namespace murmelo
