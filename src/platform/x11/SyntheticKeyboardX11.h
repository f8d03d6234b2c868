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
    // Control_L down, V down, V up, Control_L up, with key codes from the current keymap.
    bool postPasteShortcut() override;
};

} // namespace murmelo
