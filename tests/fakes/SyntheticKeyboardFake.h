#pragma once

#include "system/SyntheticKeyboard.h"

#include <QStringList>

#include <optional>

namespace murmelo {

// Controls: whether input may be posted, whether posting works, how long a modifier stays held,
// the focused window's classes then and after. Records: the pastes and the shortcut of the last one.
class SyntheticKeyboardFake final : public SyntheticKeyboard {
public:
    bool available = true;
    bool postSucceeds = true;
    mutable int heldPolls = 0; // isModifierHeld() answers true this many times
    QStringList focusedClasses, classesWhileHeld;

    int pastes = 0; // successful posts
    int postAttempts = 0;
    std::optional<PasteShortcut> pasted;

    bool isAvailable() const override { return available; }
    bool isModifierHeld() const override { return heldPolls > 0 && heldPolls--; }
    QCoro::Task<QStringList> focusedWindowClasses() override {
        co_return heldPolls > 0 ? classesWhileHeld : focusedClasses;
    }
    QCoro::Task<bool> postPasteShortcut(PasteShortcut shortcut) override {
        ++postAttempts;
        if (!available || !postSucceeds) co_return false;
        ++pastes;
        pasted = shortcut;
        co_return true;
    }
};

} // namespace murmelo
