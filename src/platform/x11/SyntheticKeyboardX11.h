#pragma once

#include "system/SyntheticKeyboard.h"

namespace murmelo {

// Synthetic input through the XTest extension on Qt's X connection. Without XTest (or without
// X) nothing can be posted and isAvailable() says so.
class SyntheticKeyboardX11 final : public SyntheticKeyboard {
public:
    bool isAvailable() const override;
    // Reads the modifier state of the pointer (one round trip); Caps, Num and Scroll Lock being
    // on do not count.
    bool isModifierHeld() const override;
    // WM_CLASS of the window the window manager reports active (_NET_ACTIVE_WINDOW), else of the
    // window holding the input focus or its nearest ancestor that has one.
    QCoro::Task<QStringList> focusedWindowClasses() override { co_return focusedWindowClassesNow(); }
    QStringList focusedWindowClassesNow() const;
    // Control_L down, V down, V up, Control_L up; for Ctrl+Shift+V with Shift_L inside Control_L.
    // Key codes come from the current keymap.
    QCoro::Task<bool> postPasteShortcut(PasteShortcut shortcut) override { co_return postPasteShortcutNow(shortcut); }
    bool postPasteShortcutNow(PasteShortcut shortcut);
};

} // namespace murmelo
