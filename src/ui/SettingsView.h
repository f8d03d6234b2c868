#pragma once

#include "system/SystemReadiness.h"

#include <QList>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;

namespace murmelo {

class AppSettings;
class CredentialSettingsModel;
class DictionaryStore;
class HistoryViewModel;
class LaunchAtLoginService;
class Pasteboard;

// The settings window: 620 × 460, four tabs (常规, API, 词典, 历史). Every control writes through
// at once; there is nothing to apply or cancel. What decides whether dictation works here (the
// microphone, automatic paste, the global shortcut, the keyring), the microphones and the login
// item are checked again each time the window is shown. Escape closes it.
class SettingsView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int windowWidth = 620;
    static constexpr int windowHeight = 460;

    // Everything given must outlive the window. The microphone picker offers the devices that
    // `readiness` found.
    SettingsView(AppSettings& settings, CredentialSettingsModel& credentials, DictionaryStore& dictionary,
                 HistoryViewModel& history, Pasteboard& pasteboard, LaunchAtLoginService& launchAtLogin,
                 SystemReadiness& readiness, QWidget* parent = nullptr);

    QTabWidget* tabs() const { return m_tabs; }

    // Checks the environment and the microphones again (answers arrive later) and reads the login
    // item's real state.
    void refreshSystemChecks();
    // Turns the login item on or off, then shows the real state and a result line.
    void updateLaunchAtLogin(bool enabled);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildGeneralTab();
    void syncGeneral();
    void fillMicrophones();
    void showReadiness();

    struct ReadinessRow {
        QLabel* symbol = nullptr;
        QLabel* status = nullptr;
        QLabel* advice = nullptr;
    };

    AppSettings& m_settings;
    LaunchAtLoginService& m_launchAtLogin;
    SystemReadiness& m_readiness;

    QString m_launchAtLoginMessage;

    QTabWidget* m_tabs;
    QComboBox* m_inputMode = nullptr;
    QComboBox* m_provider = nullptr;
    QLabel* m_providerNote = nullptr;
    QComboBox* m_hotkey = nullptr;
    QComboBox* m_hotkeyBehavior = nullptr;
    QCheckBox* m_mock = nullptr;
    QCheckBox* m_saveHistory = nullptr;
    QCheckBox* m_soundCues = nullptr;
    QCheckBox* m_launchAtLoginSwitch = nullptr;
    QLabel* m_launchAtLoginLine = nullptr;
    QComboBox* m_microphone = nullptr;
    QList<ReadinessRow> m_readinessRows; // in the order of ReadinessItem::Kind
    QLabel* m_soundSettings = nullptr;
};

} // namespace murmelo
