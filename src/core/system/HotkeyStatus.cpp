#include "system/HotkeyStatus.h"

namespace murmelo {

void HotkeyStatus::set(const HotkeyFacts& facts) {
    if (facts == m_facts) return;
    m_facts = facts;
    emit changed();
}

QString HotkeyStatus::changeDeclined(HotkeyPreset refused, HotkeyPreset kept) {
    return QStringLiteral("桌面未允许改用 %1，仍在使用 %2。").arg(title(refused), title(kept));
}

QString HotkeyStatus::changeFailed(const QString& reason, HotkeyPreset kept) {
    return reason + QStringLiteral(" 仍在使用 %1。").arg(title(kept));
}

} // namespace murmelo
