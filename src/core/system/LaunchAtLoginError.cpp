#include "system/LaunchAtLoginError.h"

namespace murmelo {

QString LaunchAtLoginError::description() const {
    switch (m_case) {
    case Case::requiresApproval:
        return QStringLiteral("登录项需要系统确认，请在“系统设置 → 通用 → 登录项与扩展”中允许 Murmelo。");
    }
    return {};
}

} // namespace murmelo
