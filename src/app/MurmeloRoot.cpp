#include "MurmeloRoot.h"

#include "SettingsView.h"
#include "SingleInstance.h"
#include "TrayIcon.h"
#include "audio/AudioCaptureService.h"
#include "audio/AudioInputDevice.h"
#include "dictation/AppState.h"
#include "dictation/DictationCoordinator.h"
#include "portal/SyntheticKeyboardPortal.h"
#include "qt/DesktopSession.h"
#include "qt/SyntheticKeyboardNull.h"
#include "settings/AppSettings.h"
#include "wayland/SyntheticKeyboardWtype.h"
#include "x11/X11Session.h"

#include <QApplication>
#include <QTabWidget>

#include <QCoroTask>

namespace murmelo {

MurmeloRoot::MurmeloRoot(AppBackends backends, QObject* parent)
    : QObject(parent)
    , m_keyboard(backends.keyboard.get())
    , m_secrets(backends.secrets)
    , m_container(std::make_unique<AppContainer>(std::move(backends))) {
    m_readiness = std::make_unique<SystemReadiness>(readinessProbes());
    connect(&m_container->hotkeyStatus(), &HotkeyStatus::changed, m_readiness.get(),
            &SystemReadiness::reconsiderHotkey);

    MenuActions actions;
    QPointer<DictationCoordinator> coordinator(&m_container->coordinator());
    actions.toggleDictation = [coordinator] {
        if (coordinator) coordinator->toggleDictation();
    };
    actions.cancelDictation = [coordinator] {
        if (coordinator) coordinator->cancelDictation();
    };
    actions.copyBestAvailableText = [coordinator] {
        if (coordinator) coordinator->copyBestAvailableText();
    };
    actions.openSettings = [this] { openSettings(); };
    actions.quit = [] { QApplication::quit(); };
    actions.automaticPasteAvailable = [this] { return m_container->canPostInput(); };
    actions.openEnvironmentChecks = [this] { openEnvironmentChecks(); };
    m_tray = std::make_unique<TrayIcon>(m_container->state(), m_container->settings(), std::move(actions));
    m_tray->showWhenTrayAvailable();
}

MurmeloRoot::~MurmeloRoot() = default;

void MurmeloRoot::openSettings() {
    if (!m_settingsWindow) {
        AppContainer& c = *m_container;
        m_settingsWindow = std::make_unique<SettingsView>(c.settings(), c.credentials(), c.dictionary(),
                                                          c.history(), c.pasteboard(), c.launchAtLogin(),
                                                          *m_readiness);
    }
    m_settingsWindow->show();
    m_settingsWindow->raise();
    m_settingsWindow->activateWindow();
}

void MurmeloRoot::openEnvironmentChecks() {
    openSettings();
    m_settingsWindow->tabs()->setCurrentIndex(0);
}

ReadinessProbes MurmeloRoot::readinessProbes() {
    ReadinessProbes probes;
    probes.inputDevices = [this] { return AudioInputDevice::availableDevices(m_container->audioCapture().engine()); };
    probes.selectedMicrophoneUid = [this] { return m_container->settings().selectedMicrophoneUID(); };
    probes.paste = [this] { return pasteAvailability(); };
    probes.hotkey = [this] { return m_container->hotkeyStatus().facts(); };
    probes.keyring = [secrets = m_secrets] { return secrets->serviceStatus(); };
    return probes;
}

PasteAvailability MurmeloRoot::pasteAvailability() const {
    const DesktopSession::Protocol protocol = DesktopSession::protocol();
    const bool x11 = protocol == DesktopSession::Protocol::x11;
    if (x11 && !X11Session::isAvailable()) return PasteAvailability::noDisplay;
    if (dynamic_cast<const SyntheticKeyboardNull*>(m_keyboard))
        return protocol == DesktopSession::Protocol::wayland ? PasteAvailability::noVirtualKeyboard
                                                              : PasteAvailability::noDisplay;
    if (dynamic_cast<const SyntheticKeyboardWtype*>(m_keyboard)) return PasteAvailability::wtype;
    if (const auto* portal = dynamic_cast<const SyntheticKeyboardPortal*>(m_keyboard)) {
        switch (portal->state()) {
        case SyntheticKeyboardPortal::State::starting:
            return PasteAvailability::portalPending;
        case SyntheticKeyboardPortal::State::started:
            return PasteAvailability::portalKeyboard;
        case SyntheticKeyboardPortal::State::refused:
            return PasteAvailability::portalDeclined;
        case SyntheticKeyboardPortal::State::closed:
            return PasteAvailability::portalClosed;
        case SyntheticKeyboardPortal::State::unsupported:
            return PasteAvailability::noVirtualKeyboard;
        }
    }
    // XTest, or a keyboard handed in from outside: as the session's own would be.
    if (x11) return m_keyboard->isAvailable() ? PasteAvailability::xtest : PasteAvailability::noXTest;
    return m_keyboard->isAvailable() ? PasteAvailability::wtype : PasteAvailability::noVirtualKeyboard;
}

void MurmeloRoot::handleCommand(const QString& command) {
    if (command == SingleInstance::openSettingsCommand)
        openSettings();
    else if (command == SingleInstance::toggleCommand)
        m_container->coordinator().toggleDictation();
}

} // namespace murmelo
