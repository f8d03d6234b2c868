#include "AppContainer.h"

#include "OverlayWindowController.h"
#include "audio/AudioCaptureService.h"
#include "audio/AudioInputBackend.h"
#include "credentials/CredentialSettingsModel.h"
#include "dictation/AppState.h"
#include "dictation/DictationCoordinator.h"
#include "settings/AppSettings.h"
#include "settings/UserDefaults.h"
#include "stores/DictionaryStore.h"
#include "stores/HistoryStore.h"
#include "stores/HistoryViewModel.h"
#include "stores/KeychainStore.h"
#include "stores/SecretBackend.h"
#include "system/GlobalHotkeyService.h"
#include "system/LaunchAtLoginService.h"
#include "system/LoginItemBackend.h"
#include "system/Pasteboard.h"
#include "system/SoundCues.h"
#include "system/SyntheticKeyboard.h"
#include "system/TextInsertionService.h"

#include <QPointer>

namespace murmelo {

AppContainer::AppContainer(AppBackends backends, QObject* parent)
    : QObject(parent)
    , m_backends(std::move(backends)) {
    m_state = std::make_unique<AppState>();
    m_settings = std::make_unique<AppSettings>(*m_backends.defaults);
    const KeychainStore keychain(m_backends.secrets);
    m_credentials =
        std::make_unique<CredentialSettingsModel>(keychain, &m_network, ProviderConfiguration::current());
    m_dictionary = m_backends.dictionaryPath.isEmpty()
                       ? std::make_unique<DictionaryStore>()
                       : std::make_unique<DictionaryStore>(m_backends.dictionaryPath);
    m_textInsertion = std::make_unique<TextInsertionService>(*m_backends.pasteboard, *m_backends.keyboard);
    m_historyStore = m_backends.historyPath.isEmpty()
                         ? std::make_unique<HistoryStore>()
                         : std::make_unique<HistoryStore>(m_backends.historyPath);
    m_history = std::make_unique<HistoryViewModel>(*m_historyStore);
    QPointer<AppSettings> settings(m_settings.get());
    m_audioCapture = std::make_unique<AudioCaptureService>(std::move(m_backends.audio), [settings] {
        return settings ? settings->selectedMicrophoneUID() : QString();
    });
    m_providers = std::make_unique<SettingsProviderFactory>(
        *m_settings, keychain, &m_network, ProviderConfiguration::current(), m_backends.mockDelays);
    m_coordinator = std::make_unique<DictationCoordinator>(
        *m_state, *m_settings, *m_dictionary, *m_historyStore, *m_providers, *m_audioCapture,
        *m_textInsertion, *m_backends.pasteboard, m_backends.timing);
    m_hotkey = std::make_unique<GlobalHotkeyService>(*m_backends.hotkey);
    m_launchAtLogin = std::make_unique<LaunchAtLoginService>(*m_backends.loginItem);
    m_overlay = std::make_unique<OverlayWindowController>(
        *m_state, m_backends.compositorRunning, m_backends.overlayTakesFocus, std::chrono::seconds(5),
        m_backends.focusedWindowFrame);
    if (m_backends.sounds)
        m_soundCues = std::make_unique<SoundCueService>(*m_state, *m_settings, *m_backends.sounds);

    connect(m_hotkey.get(), &GlobalHotkeyService::registrationFailed, this,
            [this](const QString& message) { m_state->notify(message); });
    registerSavedHotkey();
    // Subscribed only now, so the fallback written above does not come back as a change.
    connect(m_settings.get(), &AppSettings::hotkeyPresetChanged, this, &AppContainer::applyHotkey);
}

AppContainer::~AppContainer() = default;

bool AppContainer::canPostInput() const {
    return m_backends.keyboard->isAvailable();
}

std::function<void()> AppContainer::hotkeyAction() {
    QPointer<DictationCoordinator> coordinator(m_coordinator.get());
    return [coordinator] {
        if (coordinator) coordinator->toggleDictation();
    };
}

void AppContainer::registerSavedHotkey() {
    const HotkeyPreset saved = m_settings->hotkeyPreset();
    try {
        m_hotkey->registerHotkey(saved, hotkeyAction());
        m_activeHotkeyPreset = saved;
        return;
    } catch (const GlobalHotkeyError& error) {
        // The saved one is taken: fall back to the default, and say so. Trying again is pointless
        // when the default itself failed, or when no shortcut can be registered at all (negative
        // statuses: no display, no shortcut service); each attempt may wait for the desktop.
        if (saved == HotkeyPreset::controlOptionSpace || error.status() < 0) {
            m_state->notify(error.description());
            return;
        }
    }
    try {
        m_hotkey->registerHotkey(HotkeyPreset::controlOptionSpace, hotkeyAction());
        m_activeHotkeyPreset = HotkeyPreset::controlOptionSpace;
        m_settings->setHotkeyPreset(HotkeyPreset::controlOptionSpace);
        m_settings->persist();
        m_state->notify(fallbackNotice);
    } catch (const GlobalHotkeyError& error) {
        // No shortcut at all; dictation still starts from the tray.
        m_state->notify(error.description());
    }
}

void AppContainer::applyHotkey(HotkeyPreset preset) {
    if (preset == m_activeHotkeyPreset) return;
    try {
        m_hotkey->registerHotkey(preset, hotkeyAction());
        m_activeHotkeyPreset = preset;
    } catch (const GlobalHotkeyError& error) {
        // The setting follows what is really registered; the revert comes back here and stops above.
        m_settings->setHotkeyPreset(m_activeHotkeyPreset);
        m_settings->persist();
        m_state->notify(error.description());
    }
}

} // namespace murmelo
