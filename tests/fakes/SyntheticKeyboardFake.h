#pragma once

#include "system/SyntheticKeyboard.h"

#include <QStringList>

#include <optional>

namespace murmelo {

// Controls: whether input may be posted, whether posting works, whether a modifier is held, the
// focused window's classes. Records: the pastes and the shortcut of the last one.
class SyntheticKeyboardFake final : public SyntheticKeyboard {
public:
    bool available = true;
    bool postSucceeds = true;
    bool modifierHeld = false;
    QStringList focusedClasses;

    int pastes = 0; // successful posts
    int postAttempts = 0;
    std::optional<PasteShortcut> pasted;
    bool postedWhileHeld = false;

    bool isAvailable() const override { return available; }
    bool isModifierHeld() const override { return modifierHeld; }
    QStringList focusedWindowClasses() const override { return focusedClasses; }
    bool postPasteShortcut(PasteShortcut shortcut) override {
        ++postAttempts;
        if (!available || !postSucceeds) return false;
        ++pastes;
        pasted = shortcut;
        postedWhileHeld = modifierHeld;
        return true;
    }
};

} // namespace murmelo
