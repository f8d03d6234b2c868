#include "settings/AppSettings.h"

#include "settings/UserDefaults.h"

#include <QJsonObject>

namespace murmelo {
namespace {

template <typename Enum> void readEnum(const UserDefaults& defaults, const QString& key, Enum& field) {
    if (const auto raw = defaults.string(key))
        if (const auto parsed = fromRawValue<Enum>(*raw)) field = *parsed;
}

// A stored non-boolean does not count as present: the default stays.
void readBool(const UserDefaults& defaults, const QString& key, bool& field) {
    const QJsonValue stored = defaults.value(key);
    if (stored.isBool()) field = stored.toBool();
}

void readString(const UserDefaults& defaults, const QString& key, QString& field) {
    if (const auto stored = defaults.string(key)) field = *stored;
}

} // namespace

AppSettings::AppSettings(UserDefaults& defaults, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults) {
    readEnum(defaults, inputModeKey, m_inputMode);
    readBool(defaults, useMockProvidersKey, m_useMockProviders);
    readBool(defaults, saveHistoryKey, m_saveHistory);
    readBool(defaults, launchAtLoginKey, m_launchAtLogin);
    readString(defaults, openAIModelKey, m_openAIModel);
    readString(defaults, openAIRefinementModelKey, m_openAIRefinementModel);
    readString(defaults, deepSeekModelKey, m_deepSeekModel);
    readEnum(defaults, refinementProviderKey, m_refinementProvider);
    readString(defaults, selectedMicrophoneUIDKey, m_selectedMicrophoneUID);
    readEnum(defaults, hotkeyPresetKey, m_hotkeyPreset);
    readBool(defaults, soundCuesKey, m_soundCues);
    readEnum(defaults, hotkeyBehaviorKey, m_hotkeyBehavior);
    m_isInitializing = false;
}

template <typename T, typename Signal> void AppSettings::assign(T& field, const T& value, Signal signal) {
    field = value;
    emit(this->*signal)(value);
    emit changed();
    persist();
}

void AppSettings::setInputMode(InputMode value) { assign(m_inputMode, value, &AppSettings::inputModeChanged); }
void AppSettings::setUseMockProviders(bool value) {
    assign(m_useMockProviders, value, &AppSettings::useMockProvidersChanged);
}
void AppSettings::setSaveHistory(bool value) { assign(m_saveHistory, value, &AppSettings::saveHistoryChanged); }
void AppSettings::setLaunchAtLogin(bool value) {
    assign(m_launchAtLogin, value, &AppSettings::launchAtLoginChanged);
}
void AppSettings::setOpenAIModel(const QString& value) {
    assign(m_openAIModel, value, &AppSettings::openAIModelChanged);
}
void AppSettings::setOpenAIRefinementModel(const QString& value) {
    assign(m_openAIRefinementModel, value, &AppSettings::openAIRefinementModelChanged);
}
void AppSettings::setDeepSeekModel(const QString& value) {
    assign(m_deepSeekModel, value, &AppSettings::deepSeekModelChanged);
}
void AppSettings::setRefinementProvider(RefinementProviderKind value) {
    assign(m_refinementProvider, value, &AppSettings::refinementProviderChanged);
}
void AppSettings::setSelectedMicrophoneUID(const QString& value) {
    assign(m_selectedMicrophoneUID, value, &AppSettings::selectedMicrophoneUIDChanged);
}
void AppSettings::setHotkeyPreset(HotkeyPreset value) {
    assign(m_hotkeyPreset, value, &AppSettings::hotkeyPresetChanged);
}

void AppSettings::setSoundCues(bool value) { assign(m_soundCues, value, &AppSettings::soundCuesChanged); }
void AppSettings::setHotkeyBehavior(HotkeyBehavior value) {
    assign(m_hotkeyBehavior, value, &AppSettings::hotkeyBehaviorChanged);
}

void AppSettings::persist() {
    if (m_isInitializing) return;
    QJsonObject values;
    values.insert(inputModeKey, rawValue(m_inputMode));
    values.insert(useMockProvidersKey, m_useMockProviders);
    values.insert(saveHistoryKey, m_saveHistory);
    values.insert(launchAtLoginKey, m_launchAtLogin);
    values.insert(openAIModelKey, m_openAIModel);
    values.insert(openAIRefinementModelKey, m_openAIRefinementModel);
    values.insert(deepSeekModelKey, m_deepSeekModel);
    values.insert(refinementProviderKey, rawValue(m_refinementProvider));
    values.insert(selectedMicrophoneUIDKey, m_selectedMicrophoneUID);
    values.insert(hotkeyPresetKey, rawValue(m_hotkeyPreset));
    values.insert(soundCuesKey, m_soundCues);
    values.insert(hotkeyBehaviorKey, rawValue(m_hotkeyBehavior));
    m_defaults.set(values);
}

} // namespace murmelo
