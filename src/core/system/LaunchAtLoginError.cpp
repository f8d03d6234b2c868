#include "system/LaunchAtLoginError.h"

namespace murmelo {

QString LaunchAtLoginError::description() const {
    switch (m_case) {
    case Case::requiresApproval:
        return QStringLiteral("自动启动项需要桌面确认，请在桌面的“自动启动”设置中允许 Murmelo。");
    }
    return {};
}

} // namespace murmelo
