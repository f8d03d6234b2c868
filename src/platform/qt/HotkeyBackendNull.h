#pragma once

#include "system/HotkeyBackend.h"

namespace murmelo {

// For sessions that offer no global shortcuts to us (no X11): every call fails with
// statusNoDisplay, so registering shows "无法安装全局快捷键监听（-1）。" and the menu remains the
// way to start a dictation.
class HotkeyBackendNull final : public HotkeyBackend {
public:
    qint32 installHandler(PressHandler) override { return statusNoDisplay; }
    void removeHandler() override {}
    qint32 registerHotKey(HotkeyShortcut, HotkeyIdentifier, HotkeyHandle&) override {
        return statusNoDisplay;
    }
    void unregisterHotKey(HotkeyHandle) override {}
};

} // namespace murmelo
