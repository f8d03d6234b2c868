#pragma once

#include "system/SyntheticKeyboard.h"

namespace murmelo {

// For sessions where we cannot post input (no X11): every insertion ends as copiedOnly, with the
// text on the clipboard for the user to paste.
class SyntheticKeyboardNull final : public SyntheticKeyboard {
public:
    bool isAvailable() const override { return false; }
    bool isModifierHeld() const override { return false; }
    QCoro::Task<QStringList> focusedWindowClasses() override { co_return QStringList(); }
    QCoro::Task<bool> postPasteShortcut(PasteShortcut) override { co_return false; }
};

} // namespace murmelo
