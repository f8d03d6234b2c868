#include "system/GlobalHotkeyError.h"

namespace murmelo {

QString GlobalHotkeyError::description() const {
    const QString status = QString::number(m_status);
    switch (m_case) {
    case Case::installHandler:
        return QStringLiteral("无法安装全局快捷键监听（") + status + QStringLiteral("）。");
    case Case::registerHotKey:
        return QStringLiteral("无法注册全局快捷键，可能已被其他应用占用（") + status + QStringLiteral("）。");
    }
    return {};
}

} // namespace murmelo
