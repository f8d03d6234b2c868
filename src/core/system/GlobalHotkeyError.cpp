#include "system/GlobalHotkeyError.h"

#include "system/HotkeyBackend.h"

namespace murmelo {

QString GlobalHotkeyError::description() const {
    const QString status = QString::number(m_status);
    switch (m_case) {
    case Case::installHandler:
        return QStringLiteral("无法安装全局快捷键监听（") + status + QStringLiteral("）。");
    case Case::registerHotKey:
        if (m_status == HotkeyBackend::statusNoShortcutService)
            return QStringLiteral(
                "当前桌面不提供全局快捷键服务，请在桌面的键盘设置中为命令 murmelo --toggle 绑定一个快捷键。");
        if (m_status == HotkeyBackend::statusDeclined)
            return QStringLiteral(
                "桌面未允许注册全局快捷键，请在桌面的键盘设置中为命令 murmelo --toggle 绑定一个快捷键。");
        return QStringLiteral("无法注册全局快捷键，可能已被其他应用占用（") + status + QStringLiteral("）。");
    }
    return {};
}

} // namespace murmelo
