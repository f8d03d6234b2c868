#pragma once

#include "system/LoginItemBackend.h"

#include <QStringList>

#include <functional>

namespace murmelo {

// A login item in memory. Registering yields `statusAfterRegister` (enabled unless the test wants
// approval pending); a failure is set as a function that throws the platform's error.
class LoginItemBackendFake final : public LoginItemBackend {
public:
    LoginItemStatus current = LoginItemStatus::notRegistered;
    LoginItemStatus statusAfterRegister = LoginItemStatus::enabled;
    std::function<void()> failRegister;   // throws when set
    std::function<void()> failUnregister; // throws when set

    int registerCalls = 0;
    int unregisterCalls = 0;

    LoginItemStatus status() const override { return current; }
    void registerItem() override {
        ++registerCalls;
        if (failRegister) failRegister();
        current = statusAfterRegister;
    }
    void unregisterItem() override {
        ++unregisterCalls;
        if (failUnregister) failUnregister();
        current = LoginItemStatus::notRegistered;
    }
};

} // namespace murmelo
