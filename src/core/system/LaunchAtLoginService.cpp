#include "system/LaunchAtLoginService.h"

namespace murmelo {

void LaunchAtLoginService::setEnabled(bool enabled) {
    const LoginItemStatus before = m_backend.status();
    if (enabled) {
        // A registration whose program is missing (the executable moved since it was made) is
        // made again, so switching the option on always leads to a working entry.
        if (before == LoginItemStatus::notRegistered || before == LoginItemStatus::notFound)
            m_backend.registerItem();
        if (m_backend.status() == LoginItemStatus::requiresApproval)
            throw LaunchAtLoginError(LaunchAtLoginError::Case::requiresApproval);
        return;
    }
    if (before == LoginItemStatus::notRegistered) return;
    m_backend.unregisterItem();
}

} // namespace murmelo
