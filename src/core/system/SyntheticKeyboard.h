#pragma once

namespace murmelo {

// Synthetic input into whatever application has the keyboard focus.
class SyntheticKeyboard {
public:
    virtual ~SyntheticKeyboard() = default;
    // The platform lets this process post input (on X11: the display offers XTest).
    virtual bool isAvailable() const = 0;
    // Whether the user still holds a modifier key (Shift, Control, Alt, Super, ...). Locks such
    // as Caps Lock or Num Lock being on do not count.
    virtual bool isModifierHeld() const = 0;
    // Posts the paste shortcut; false when the events could not be made or sent.
    virtual bool postPasteShortcut() = 0;
};

} // namespace murmelo
