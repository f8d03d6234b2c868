#pragma once

#include "audio/AudioInputDevice.h"

#include <QList>
#include <QWidget>

#include <functional>

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
// at once; there is nothing to apply or cancel. Permissions, microphones and the login item are
// read again each time the window is shown. Escape closes it.
class SettingsView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int windowWidth = 620;
    static constexpr int windowHeight = 460;

    // The microphones to offer (normally AudioInputDevice::availableDevices over the audio back end).
    using InputDeviceList = std::function<QList<AudioInputDevice>()>;
    // Whether this session lets us post synthetic input (automatic paste).
    using SyntheticInputCheck = std::function<bool()>;

    // Everything given must outlive the window.
    SettingsView(AppSettings& settings, CredentialSettingsModel& credentials, DictionaryStore& dictionary,
                 HistoryViewModel& history, Pasteboard& pasteboard, LaunchAtLoginService& launchAtLogin,
                 InputDeviceList inputDevices, SyntheticInputCheck syntheticInputAvailable,
                 QWidget* parent = nullptr);

    QTabWidget* tabs() const { return m_tabs; }

    // Reads the accessibility state, the microphones and the login item's real state again.
    void refreshPermissions();
    // Turns the login item on or off, then shows the real state and a result line.
    void updateLaunchAtLogin(bool enabled);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildGeneralTab();
    void syncGeneral();
    void fillMicrophones();
    void showPermissions();
    void explainAccessibility();

    AppSettings& m_settings;
    LaunchAtLoginService& m_launchAtLogin;
    InputDeviceList m_inputDevices;
    SyntheticInputCheck m_syntheticInputAvailable;

    bool m_accessibilityTrusted = false;
    QList<AudioInputDevice> m_audioInputDevices;
    QString m_launchAtLoginMessage;

    QTabWidget* m_tabs;
    QComboBox* m_inputMode = nullptr;
    QComboBox* m_provider = nullptr;
    QLabel* m_providerNote = nullptr;
    QComboBox* m_hotkey = nullptr;
    QCheckBox* m_mock = nullptr;
    QCheckBox* m_saveHistory = nullptr;
    QCheckBox* m_launchAtLoginSwitch = nullptr;
    QLabel* m_launchAtLoginLine = nullptr;
    QComboBox* m_microphone = nullptr;
    QLabel* m_microphoneSymbol = nullptr;
    QLabel* m_microphoneStatus = nullptr;
    QLabel* m_accessibilitySymbol = nullptr;
    QLabel* m_accessibilityStatus = nullptr;
    QPushButton* m_accessibilityButton = nullptr;
    QLabel* m_accessibilityHint = nullptr;
};

} // namespace murmelo
