#pragma once

#include <QCoroTask>
#include <QStringList>

namespace murmelo {

// The chord that asks the focused application to paste the clipboard.
enum class PasteShortcut {
    control,      // Ctrl+V: text fields, editors, browsers
    controlShift, // Ctrl+Shift+V: terminals, where Ctrl+V is a control character for the program inside
};

// Synthetic input into whatever application has the keyboard focus.
class SyntheticKeyboard {
public:
    virtual ~SyntheticKeyboard() = default;
    // The platform lets this process post input (on X11: the display offers XTest).
    virtual bool isAvailable() const = 0;
    // Whether the user still holds a modifier key (Shift, Control, Alt, Super, ...). Locks such
    // as Caps Lock or Num Lock being on do not count.
    virtual bool isModifierHeld() const = 0;
    // The names that identify the application owning the focused window (on X11 the instance and
    // class of WM_CLASS, on Wayland the app id); empty when nothing is focused or it cannot be told.
    // Awaited: back ends that ask the compositor or a helper process must not stall the UI thread.
    virtual QCoro::Task<QStringList> focusedWindowClasses() = 0;
    // Posts the paste shortcut; false when the events could not be made or sent. Awaited for the
    // same reason; the object outlives the task.
    virtual QCoro::Task<bool> postPasteShortcut(PasteShortcut shortcut) = 0;
};

} // namespace murmelo
