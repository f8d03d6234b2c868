#pragma once

#include "system/LoginItemBackend.h"

#include <functional>

namespace murmelo {

// A login item in memory. Registering yields `statusAfterRegister` (the XDG back end can also find
// its executable missing); a failure is set as a function that throws the platform's error.
class LoginItemBackendFake final : public LoginItemBackend {
public:
    LoginItemStatus current = LoginItemStatus::notRegistered;
    LoginItemStatus statusAfterRegister = LoginItemStatus::enabled;
    std::function<void()> failRegister; // throws when set

    LoginItemStatus status() const override { return current; }
    void registerItem() override {
        if (failRegister) failRegister();
        current = statusAfterRegister;
    }
    void unregisterItem() override { current = LoginItemStatus::notRegistered; }
};

} // namespace murmelo
