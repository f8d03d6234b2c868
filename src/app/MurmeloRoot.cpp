#include "MurmeloRoot.h"

#include "SingleInstance.h"
#include "TrayIcon.h"
#include "dictation/DictationCoordinator.h"

#include <QApplication>
#include "SettingsView.h"
#include "audio/AudioCaptureService.h"
#include "audio/AudioInputDevice.h"

#include <QCoroTask>

namespace murmelo {

MurmeloRoot::MurmeloRoot(AppBackends backends, QObject* parent)
    : QObject(parent)
    , m_container(std::make_unique<AppContainer>(std::move(backends))) {
    MenuActions actions;
    QPointer<DictationCoordinator> coordinator(&m_container->coordinator());
    actions.toggleDictation = [coordinator] {
        if (coordinator) coordinator->toggleDictation();
    };
    actions.copyBestAvailableText = [coordinator] {
        if (coordinator) coordinator->copyBestAvailableText();
    };
    actions.openSettings = [this] { openSettings(); };
    actions.quit = [] { QApplication::quit(); };
    actions.syntheticInputAvailable = [this] { return m_container->canPostInput(); };
    m_tray = std::make_unique<TrayIcon>(m_container->state(), m_container->settings(), std::move(actions));
    m_tray->showWhenTrayAvailable();
}

MurmeloRoot::~MurmeloRoot() = default;

void MurmeloRoot::openSettings() {
    if (!m_settingsWindow) {
        AppContainer& c = *m_container;
        m_settingsWindow = std::make_unique<SettingsView>(
            c.settings(), c.credentials(), c.dictionary(), c.history(), c.pasteboard(), c.launchAtLogin(),
            [&c] { return QCoro::waitFor(AudioInputDevice::availableDevices(c.audioCapture().engine())); },
            [&c] { return c.canPostInput(); });
    }
    m_settingsWindow->show();
    m_settingsWindow->raise();
    m_settingsWindow->activateWindow();
}

void MurmeloRoot::handleCommand(const QString& command) {
    if (command == SingleInstance::openSettingsCommand)
        openSettings();
    else if (command == SingleInstance::toggleCommand)
        m_container->coordinator().toggleDictation();
}

} // namespace murmelo
