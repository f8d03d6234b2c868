#pragma once

#include "system/SyntheticKeyboard.h"

#include <QStringList>

#include <chrono>
#include <vector>

namespace murmelo {

// Controls: whether input may be posted, whether posting works, whether a modifier is held, the
// focused window's classes.
// Records: polls of the modifier state, pastes, their shortcuts and whether a modifier was held.
class SyntheticKeyboardFake final : public SyntheticKeyboard {
public:
    bool available = true;
    bool postSucceeds = true;
    bool modifierHeld = false;
    QStringList focusedClasses;

    mutable int modifierPolls = 0;
    int pastes = 0; // successful posts
    int postAttempts = 0;
    std::vector<PasteShortcut> shortcuts; // of every attempt, in order
    bool postedWhileHeld = false;
    std::chrono::steady_clock::time_point postedAt{}; // when the last paste was posted
    QStringList* journal = nullptr;                   // shared with other fakes to check the order of events

    bool isAvailable() const override { return available; }
    bool isModifierHeld() const override {
        ++modifierPolls;
        return modifierHeld;
    }
    QStringList focusedWindowClasses() const override { return focusedClasses; }
    bool postPasteShortcut(PasteShortcut shortcut) override {
        ++postAttempts;
        shortcuts.push_back(shortcut);
        if (journal) journal->append(QStringLiteral("keyboard.paste"));
        if (!available || !postSucceeds) return false;
        ++pastes;
        postedWhileHeld = modifierHeld;
        postedAt = std::chrono::steady_clock::now();
        return true;
    }
};

} // namespace murmelo
