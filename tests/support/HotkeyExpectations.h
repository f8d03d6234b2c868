#pragma once

#include "system/GlobalHotkeyService.h"

#include <optional>

namespace murmelo::test {

// The error of registering `preset`, or nothing when the registration succeeded.
inline std::optional<GlobalHotkeyError> registerExpectingError(GlobalHotkeyService& service,
                                                               HotkeyPreset preset,
                                                               GlobalHotkeyService::Action action) {
    try {
        service.registerHotkey(preset, std::move(action));
    } catch (const GlobalHotkeyError& error) {
        return error;
    }
    return std::nullopt;
}

} // namespace murmelo::test
