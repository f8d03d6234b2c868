#pragma once

#include "system/SyntheticKeyboard.h"

#include <QStringList>

#include <vector>

namespace murmelo {

// Controls: whether input may be posted, whether posting works, whether a modifier is held, the
// focused window's classes.
// Records: pastes, their shortcuts and whether a modifier was held.
class SyntheticKeyboardFake final : public SyntheticKeyboard {
public:
    bool available = true;
    bool postSucceeds = true;
    bool modifierHeld = false;
    QStringList focusedClasses;

    int pastes = 0; // successful posts
    int postAttempts = 0;
    std::vector<PasteShortcut> shortcuts; // of every attempt, in order
    bool postedWhileHeld = false;

    bool isAvailable() const override { return available; }
    bool isModifierHeld() const override { return modifierHeld; }
    QStringList focusedWindowClasses() const override { return focusedClasses; }
    bool postPasteShortcut(PasteShortcut shortcut) override {
        ++postAttempts;
        shortcuts.push_back(shortcut);
        if (!available || !postSucceeds) return false;
        ++pastes;
        postedWhileHeld = modifierHeld;
        return true;
    }
};

} // namespace murmelo
