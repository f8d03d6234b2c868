#pragma once

#include "AppBackends.h"
#include "settings/Modes.h"
#include "system/HotkeyStatus.h"

#include <QNetworkAccessManager>
#include <QObject>

#include <functional>
#include <memory>

namespace murmelo {

class AppSettings;
class AppState;
class AudioCaptureService;
class CredentialSettingsModel;
class DictationCoordinator;
class DictionaryStore;
class GlobalHotkeyError;
class GlobalHotkeyService;
class HistoryStore;
class HistoryViewModel;
class LaunchAtLoginService;
class OverlayWindowController;
class SoundCueService;
class CancelKeyService;
class SettingsProviderFactory;
class TextInsertionService;

// The composition root: builds every long-lived object once, in dependency order, owns them, and
// keeps the global hotkey in step with the settings. Main thread only.
class AppContainer final : public QObject {
    Q_OBJECT
public:
    static inline const QString fallbackNotice = QStringLiteral("保存的快捷键不可用，已恢复为 Ctrl + Alt + Space。");

    explicit AppContainer(AppBackends backends = AppBackends::forThisSession(), QObject* parent = nullptr);
    ~AppContainer() override;

    AppState& state() { return *m_state; }
    AppSettings& settings() { return *m_settings; }
    CredentialSettingsModel& credentials() { return *m_credentials; }
    DictionaryStore& dictionary() { return *m_dictionary; }
    HistoryStore& historyStore() { return *m_historyStore; }
    HistoryViewModel& history() { return *m_history; }
    Pasteboard& pasteboard() { return *m_backends.pasteboard; }
    TextInsertionService& textInsertion() { return *m_textInsertion; }
    AudioCaptureService& audioCapture() { return *m_audioCapture; }
    DictationCoordinator& coordinator() { return *m_coordinator; }
    GlobalHotkeyService& hotkey() { return *m_hotkey; }
    HotkeyStatus& hotkeyStatus() { return m_hotkeyStatus; }
    LaunchAtLoginService& launchAtLogin() { return *m_launchAtLogin; }
    OverlayWindowController& overlay() { return *m_overlay; }
    HotkeyPreset activeHotkeyPreset() const;
    // Whether pasting by synthetic keys works in this session.
    bool canPostInput() const;

private:
    void registerSavedHotkey();
    void applyHotkey(HotkeyPreset preset);
    // A change the desktop refused later, or the active shortcut it ended.
    void hotkeyRefused(HotkeyPreset preset, qint32 status);
    // A change failed and `kept` stays: the setting shows it again, the status says why.
    void keepHotkey(HotkeyPreset kept, const QString& reason);
    // No shortcut is registered; `preset` is the one wanted.
    void noHotkey(HotkeyPreset preset, const GlobalHotkeyError& error);
    std::function<void()> hotkeyAction();

    AppBackends m_backends;
    HotkeyStatus m_hotkeyStatus;
    QNetworkAccessManager m_network; // the one shared session of every request
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<CredentialSettingsModel> m_credentials;
    std::unique_ptr<DictionaryStore> m_dictionary;
    std::unique_ptr<TextInsertionService> m_textInsertion;
    std::unique_ptr<HistoryStore> m_historyStore;
    std::unique_ptr<HistoryViewModel> m_history;
    std::unique_ptr<AudioCaptureService> m_audioCapture;
    std::unique_ptr<SettingsProviderFactory> m_providers;
    std::unique_ptr<DictationCoordinator> m_coordinator;
    std::unique_ptr<GlobalHotkeyService> m_hotkey;
    std::unique_ptr<LaunchAtLoginService> m_launchAtLogin;
    std::unique_ptr<OverlayWindowController> m_overlay;
    std::unique_ptr<SoundCueService> m_soundCues;
    std::unique_ptr<CancelKeyService> m_cancelKey;
};

} // namespace murmelo
