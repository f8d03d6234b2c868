#pragma once

namespace murmelo {

// The platform's record that the application starts with the user's session.
enum class LoginItemStatus {
    notRegistered = 0,
    enabled = 1,
    requiresApproval = 2, // the user must still allow it in the system's settings
    notFound = 3,         // registered, but what it would start is missing
};

class LoginItemBackend {
public:
    virtual ~LoginItemBackend() = default;
    virtual LoginItemStatus status() const = 0;
    // Both throw the platform's own murmelo::Error subclass when they fail.
    virtual void registerItem() = 0;
    virtual void unregisterItem() = 0;
};

} // namespace murmelo
