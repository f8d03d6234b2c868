#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace murmelo {

// String-valued enums: the raw value is the case name, which is what files and settings store.

enum class InputMode { smartDictation, translateToEnglish };
enum class RefinementProviderKind { deepSeek, openAI };
enum class HotkeyPreset { controlOptionSpace, controlShiftSpace, commandShiftSpace };
// What the hotkey's press and release do.
enum class HotkeyBehavior { toggle, holdToTalk };

QString rawValue(InputMode mode);
QString rawValue(RefinementProviderKind kind);
QString rawValue(HotkeyPreset preset);
QString rawValue(HotkeyBehavior behavior);

// Exact, case-sensitive match against the raw values; anything else is nothing.
template <typename Enum> std::optional<Enum> fromRawValue(const QString& raw);
template <> std::optional<InputMode> fromRawValue<InputMode>(const QString& raw);
template <> std::optional<RefinementProviderKind> fromRawValue<RefinementProviderKind>(const QString& raw);
template <> std::optional<HotkeyPreset> fromRawValue<HotkeyPreset>(const QString& raw);
template <> std::optional<HotkeyBehavior> fromRawValue<HotkeyBehavior>(const QString& raw);

// Every case, in the order pickers show them.
template <typename Enum> QList<Enum> allCases();
template <> QList<InputMode> allCases<InputMode>();
template <> QList<RefinementProviderKind> allCases<RefinementProviderKind>();
template <> QList<HotkeyPreset> allCases<HotkeyPreset>();
template <> QList<HotkeyBehavior> allCases<HotkeyBehavior>();

QString title(InputMode mode);
QString title(RefinementProviderKind kind);
QString title(HotkeyPreset preset);
QString title(HotkeyBehavior behavior);
QString systemImage(InputMode mode);
QString shortTitle(HotkeyPreset preset);

} // namespace murmelo
