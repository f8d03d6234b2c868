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
#include "system/CancelKey.h"
#include "system/GlobalHotkeyError.h"
#include "system/GlobalHotkeyService.h"
#include "system/LaunchAtLoginService.h"
#include "system/LoginItemBackend.h"
#include "system/Pasteboard.h"
#include "system/SoundCues.h"
#include "system/SyntheticKeyboard.h"
#include "system/TextInsertionService.h"

#include <QPointer>

namespace murmelo {

namespace {

HotkeyFacts registeredAs(HotkeyPreset preset) {
    HotkeyFacts facts;
    facts.registered = true;
    facts.preset = preset;
    return facts;
}

bool isNoService(qint32 status) {
    return status == HotkeyBackend::statusNoShortcutService || status == HotkeyBackend::statusNoDisplay;
}

// What the status says once `preset` was asked for without an error.
HotkeyFacts askedFor(const GlobalHotkeyService& hotkey, HotkeyPreset preset, bool fellBack = false) {
    HotkeyFacts facts = registeredAs(hotkey.activePreset().value_or(preset));
    facts.fellBack = fellBack;
    if (hotkey.pendingPreset() && !hotkey.hasHotkey()) {
        facts.registered = false;
        facts.pending = true;
    }
    return facts;
}

} // namespace

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
    QPointer<DictationCoordinator> coordinator(m_coordinator.get());
    m_hotkey = std::make_unique<GlobalHotkeyService>(*m_backends.hotkey);
    m_launchAtLogin = std::make_unique<LaunchAtLoginService>(*m_backends.loginItem);
    m_overlay = std::make_unique<OverlayWindowController>(
        *m_state, m_backends.compositorRunning, m_backends.overlayTakesFocus, std::chrono::seconds(5),
        m_backends.focusedWindowFrame);
    if (m_backends.sounds)
        m_soundCues = std::make_unique<SoundCueService>(*m_state, *m_settings, *m_backends.sounds);
    if (m_backends.cancelKey) {
        m_cancelKey = std::make_unique<CancelKeyService>(*m_state, *m_backends.cancelKey, [coordinator] {
            if (coordinator) coordinator->cancelDictation();
        });
    }

    connect(m_hotkey.get(), &GlobalHotkeyService::registered, this,
            [this](HotkeyPreset preset) { m_hotkeyStatus.set(registeredAs(preset)); });
    connect(m_hotkey.get(), &GlobalHotkeyService::registrationFailed, this, &AppContainer::hotkeyRefused);
    m_hotkey->setReleaseAction([coordinator, settings] {
        if (coordinator && settings && settings->hotkeyBehavior() == HotkeyBehavior::holdToTalk)
            coordinator->endHold();
    });
    registerSavedHotkey();
    // Subscribed only now, so the fallback written above does not come back as a change.
    connect(m_settings.get(), &AppSettings::hotkeyPresetChanged, this, &AppContainer::applyHotkey);
}

AppContainer::~AppContainer() = default;

bool AppContainer::canPostInput() const {
    return m_backends.keyboard->isAvailable();
}

// The behaviour is read at each press, so changing it needs no new registration.
std::function<void()> AppContainer::hotkeyAction() {
    QPointer<DictationCoordinator> coordinator(m_coordinator.get());
    QPointer<AppSettings> settings(m_settings.get());
    return [coordinator, settings] {
        if (!coordinator || !settings) return;
        if (settings->hotkeyBehavior() == HotkeyBehavior::holdToTalk)
            coordinator->beginHold();
        else
            coordinator->toggleDictation();
    };
}

HotkeyPreset AppContainer::activeHotkeyPreset() const {
    return m_hotkey->activePreset().value_or(m_settings->hotkeyPreset());
}

void AppContainer::registerSavedHotkey() {
    const HotkeyPreset saved = m_settings->hotkeyPreset();
    try {
        m_hotkey->registerHotkey(saved, hotkeyAction());
        m_hotkeyStatus.set(askedFor(*m_hotkey, saved));
        return;
    } catch (const GlobalHotkeyError& error) {
        // The saved one is taken: fall back to the default, and say so. Trying again is pointless
        // when the default itself failed, or when no shortcut can be registered at all (negative
        // statuses: no display, no shortcut service); each attempt may wait for the desktop.
        if (saved == HotkeyPreset::controlOptionSpace || error.status() < 0) return noHotkey(saved, error);
    }
    try {
        m_hotkey->registerHotkey(HotkeyPreset::controlOptionSpace, hotkeyAction());
        m_settings->setHotkeyPreset(HotkeyPreset::controlOptionSpace);
        m_settings->persist();
        m_hotkeyStatus.set(askedFor(*m_hotkey, HotkeyPreset::controlOptionSpace, true));
        m_state->notify(fallbackNotice);
    } catch (const GlobalHotkeyError& error) {
        noHotkey(saved, error); // dictation still starts from the tray
    }
}

void AppContainer::applyHotkey(HotkeyPreset preset) {
    if (m_hotkey->hasHotkey() && preset == *m_hotkey->activePreset()) {
        m_hotkey->cancelPending(); // chosen again before the desktop answered for another
        return;
    }
    if (preset == m_hotkey->pendingPreset()) return;
    try {
        m_hotkey->registerHotkey(preset, hotkeyAction());
        if (m_hotkey->hasHotkey() && m_hotkey->pendingPreset()) return; // the old one holds until then
        m_hotkeyStatus.set(askedFor(*m_hotkey, preset));
    } catch (const GlobalHotkeyError& error) {
        if (!m_hotkey->hasHotkey()) return noHotkey(preset, error);
        const HotkeyPreset kept = *m_hotkey->activePreset();
        keepHotkey(kept, HotkeyStatus::changeFailed(error.description(), kept));
    }
}

void AppContainer::hotkeyRefused(HotkeyPreset preset, qint32 status) {
    const GlobalHotkeyError error(GlobalHotkeyError::Case::registerHotKey, status);
    if (m_hotkey->hasHotkey()) {
        const HotkeyPreset kept = *m_hotkey->activePreset();
        keepHotkey(kept, status == HotkeyBackend::statusDeclined
                             ? HotkeyStatus::changeDeclined(preset, kept)
                             : HotkeyStatus::changeFailed(error.description(), kept));
        return;
    }
    noHotkey(preset, error);
}

void AppContainer::noHotkey(HotkeyPreset preset, const GlobalHotkeyError& error) {
    // The setting keeps the wish, for a desktop that takes it later.
    HotkeyFacts facts;
    facts.preset = preset;
    facts.noShortcutService = isNoService(error.status());
    facts.problem = error.description();
    m_hotkeyStatus.set(facts);
    m_state->notify(error.description());
}

void AppContainer::keepHotkey(HotkeyPreset kept, const QString& reason) {
    // The setting follows what is really registered; the revert comes back to applyHotkey and stops there.
    m_settings->setHotkeyPreset(kept);
    m_settings->persist();
    HotkeyFacts facts = registeredAs(kept);
    facts.problem = reason;
    m_hotkeyStatus.set(facts);
    m_state->notify(reason);
}

} // namespace murmelo
