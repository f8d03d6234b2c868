#pragma once

#include "settings/Modes.h"

#include <QObject>
#include <QString>

namespace murmelo {

class UserDefaults;

// The user's twelve persistent preferences. Every setter stores the value, emits its change signal
// and then writes all twelve keys. Main thread only.
class AppSettings final : public QObject {
    Q_OBJECT
public:
    // Keys in the order they are written.
    static inline const QString inputModeKey = QStringLiteral("settings.inputMode");
    static inline const QString useMockProvidersKey = QStringLiteral("settings.useMockProviders");
    static inline const QString saveHistoryKey = QStringLiteral("settings.saveHistory");
    static inline const QString launchAtLoginKey = QStringLiteral("settings.launchAtLogin");
    static inline const QString openAIModelKey = QStringLiteral("settings.openAIModel");
    static inline const QString openAIRefinementModelKey = QStringLiteral("settings.openAIRefinementModel");
    static inline const QString deepSeekModelKey = QStringLiteral("settings.deepSeekModel");
    static inline const QString refinementProviderKey = QStringLiteral("settings.refinementProvider");
    static inline const QString selectedMicrophoneUIDKey = QStringLiteral("settings.selectedMicrophoneUID");
    static inline const QString hotkeyPresetKey = QStringLiteral("settings.hotkeyPreset");
    static inline const QString soundCuesKey = QStringLiteral("settings.soundCues");
    static inline const QString hotkeyBehaviorKey = QStringLiteral("settings.hotkeyBehavior");

    // Reads every key once; writes nothing. The store must outlive the settings.
    explicit AppSettings(UserDefaults& defaults, QObject* parent = nullptr);

    InputMode inputMode() const { return m_inputMode; }
    bool useMockProviders() const { return m_useMockProviders; }
    bool saveHistory() const { return m_saveHistory; }
    bool launchAtLogin() const { return m_launchAtLogin; }
    QString openAIModel() const { return m_openAIModel; }
    QString openAIRefinementModel() const { return m_openAIRefinementModel; }
    QString deepSeekModel() const { return m_deepSeekModel; }
    RefinementProviderKind refinementProvider() const { return m_refinementProvider; }
    QString selectedMicrophoneUID() const { return m_selectedMicrophoneUID; }
    HotkeyPreset hotkeyPreset() const { return m_hotkeyPreset; }
    bool soundCues() const { return m_soundCues; }
    HotkeyBehavior hotkeyBehavior() const { return m_hotkeyBehavior; }
    bool isInitializing() const { return m_isInitializing; }

    void setInputMode(InputMode value);
    void setUseMockProviders(bool value);
    void setSaveHistory(bool value);
    void setLaunchAtLogin(bool value);
    void setOpenAIModel(const QString& value);
    void setOpenAIRefinementModel(const QString& value);
    void setDeepSeekModel(const QString& value);
    void setRefinementProvider(RefinementProviderKind value);
    void setSelectedMicrophoneUID(const QString& value);
    void setHotkeyPreset(HotkeyPreset value);
    void setSoundCues(bool value);
    void setHotkeyBehavior(HotkeyBehavior value);

    // Writes all twelve values; does nothing while the object is being constructed.
    void persist();

signals:
    void inputModeChanged(murmelo::InputMode value);
    void useMockProvidersChanged(bool value);
    void saveHistoryChanged(bool value);
    void launchAtLoginChanged(bool value);
    void openAIModelChanged(const QString& value);
    void openAIRefinementModelChanged(const QString& value);
    void deepSeekModelChanged(const QString& value);
    void refinementProviderChanged(murmelo::RefinementProviderKind value);
    void selectedMicrophoneUIDChanged(const QString& value);
    void hotkeyPresetChanged(murmelo::HotkeyPreset value);
    void soundCuesChanged(bool value);
    void hotkeyBehaviorChanged(murmelo::HotkeyBehavior value);
    // After any of the above.
    void changed();

private:
    template <typename T, typename Signal> void assign(T& field, const T& value, Signal signal);

    UserDefaults& m_defaults;
    InputMode m_inputMode = InputMode::smartDictation;
    bool m_useMockProviders = true;
    bool m_saveHistory = false;
    bool m_launchAtLogin = false;
    QString m_openAIModel = QStringLiteral("gpt-live-transcribe");
    QString m_openAIRefinementModel = QStringLiteral("gpt-5.6-terra");
    QString m_deepSeekModel = QStringLiteral("deepseek-v4-flash");
    RefinementProviderKind m_refinementProvider = RefinementProviderKind::deepSeek;
    QString m_selectedMicrophoneUID;
    HotkeyPreset m_hotkeyPreset = HotkeyPreset::controlOptionSpace;
    bool m_soundCues = true; // files from before the setting keep the cues
    HotkeyBehavior m_hotkeyBehavior = HotkeyBehavior::toggle;
    bool m_isInitializing = true;
};

} // namespace murmelo
