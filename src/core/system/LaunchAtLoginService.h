#pragma once

#include "system/LaunchAtLoginError.h"
#include "system/LoginItemBackend.h"

namespace murmelo {

// Turns starting with the session on and off. Synchronous, main thread; the back end must
// outlive the service.
class LaunchAtLoginService final {
public:
    explicit LaunchAtLoginService(LoginItemBackend& backend)
        : m_backend(backend) {}

    // Throws LaunchAtLoginError when the platform wants the user's approval (the registration
    // stays, so approving later is enough), or the back end's own error unchanged.
    void setEnabled(bool enabled);
    LoginItemStatus status() const { return m_backend.status(); }
    // What the launch-at-login setting should say after any call: on exactly when enabled.
    bool isEnabled() const { return status() == LoginItemStatus::enabled; }

private:
    LoginItemBackend& m_backend;
};

} // namespace murmelo
