#include "settings/Modes.h"

#include <array>

namespace murmelo {
namespace {

template <typename Enum> struct CaseInfo {
    Enum value;
    const char* raw;
    const char* title;
};

constexpr std::array inputModes{
    CaseInfo<InputMode>{InputMode::smartDictation, "smartDictation", "智能口述"},
    CaseInfo<InputMode>{InputMode::translateToEnglish, "translateToEnglish", "中文转英文"},
};
constexpr std::array providerKinds{
    CaseInfo<RefinementProviderKind>{RefinementProviderKind::deepSeek, "deepSeek", "DeepSeek"},
    CaseInfo<RefinementProviderKind>{RefinementProviderKind::openAI, "openAI", "OpenAI"},
};
constexpr std::array hotkeyPresets{
    CaseInfo<HotkeyPreset>{HotkeyPreset::controlOptionSpace, "controlOptionSpace", "Ctrl + Alt + Space"},
    CaseInfo<HotkeyPreset>{HotkeyPreset::controlShiftSpace, "controlShiftSpace", "Ctrl + Shift + Space"},
    CaseInfo<HotkeyPreset>{HotkeyPreset::commandShiftSpace, "commandShiftSpace", "Super + Shift + Space"},
};

constexpr std::array hotkeyBehaviors{
    CaseInfo<HotkeyBehavior>{HotkeyBehavior::toggle, "toggle", "按一下开始，再按一下结束"},
    CaseInfo<HotkeyBehavior>{HotkeyBehavior::holdToTalk, "holdToTalk", "按住说话，松开结束"},
};

template <typename Table, typename Enum> const auto& find(const Table& table, Enum value) {
    for (const auto& info : table)
        if (info.value == value) return info;
    return table.front(); // unreachable for valid enum values
}

template <typename Table> auto parse(const Table& table, const QString& raw) {
    using Enum = decltype(table.front().value);
    for (const auto& info : table)
        if (raw == QLatin1String(info.raw)) return std::optional<Enum>(info.value);
    return std::optional<Enum>();
}

template <typename Table> auto list(const Table& table) {
    QList<decltype(table.front().value)> result;
    for (const auto& info : table) result.append(info.value);
    return result;
}

} // namespace

QString rawValue(InputMode mode) { return QString::fromLatin1(find(inputModes, mode).raw); }
QString rawValue(RefinementProviderKind kind) { return QString::fromLatin1(find(providerKinds, kind).raw); }
QString rawValue(HotkeyPreset preset) { return QString::fromLatin1(find(hotkeyPresets, preset).raw); }

template <> std::optional<InputMode> fromRawValue<InputMode>(const QString& raw) { return parse(inputModes, raw); }
template <> std::optional<RefinementProviderKind> fromRawValue<RefinementProviderKind>(const QString& raw) {
    return parse(providerKinds, raw);
}
template <> std::optional<HotkeyPreset> fromRawValue<HotkeyPreset>(const QString& raw) {
    return parse(hotkeyPresets, raw);
}

template <> QList<InputMode> allCases<InputMode>() { return list(inputModes); }
template <> QList<RefinementProviderKind> allCases<RefinementProviderKind>() { return list(providerKinds); }
template <> QList<HotkeyPreset> allCases<HotkeyPreset>() { return list(hotkeyPresets); }

QString title(InputMode mode) { return QString::fromUtf8(find(inputModes, mode).title); }
QString title(RefinementProviderKind kind) { return QString::fromUtf8(find(providerKinds, kind).title); }
QString rawValue(HotkeyBehavior behavior) { return QString::fromLatin1(find(hotkeyBehaviors, behavior).raw); }
template <> std::optional<HotkeyBehavior> fromRawValue<HotkeyBehavior>(const QString& raw) {
    return parse(hotkeyBehaviors, raw);
}
template <> QList<HotkeyBehavior> allCases<HotkeyBehavior>() { return list(hotkeyBehaviors); }
QString title(HotkeyBehavior behavior) { return QString::fromUtf8(find(hotkeyBehaviors, behavior).title); }

QString title(HotkeyPreset preset) { return QString::fromUtf8(find(hotkeyPresets, preset).title); }

QString systemImage(InputMode mode) {
    return mode == InputMode::translateToEnglish ? QStringLiteral("translate") : QStringLiteral("text.badge.checkmark");
}

QString shortTitle(HotkeyPreset preset) {
    switch (preset) {
    case HotkeyPreset::controlOptionSpace:
        return QStringLiteral("Ctrl+Alt+Space");
    case HotkeyPreset::controlShiftSpace:
        return QStringLiteral("Ctrl+Shift+Space");
    case HotkeyPreset::commandShiftSpace:
        return QStringLiteral("Super+Shift+Space");
    }
    return {};
}

} // namespace murmelo
