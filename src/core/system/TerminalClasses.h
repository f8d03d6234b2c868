#pragma once

#include "system/SyntheticKeyboard.h"

#include <QStringList>

namespace murmelo {

// Window classes (X11 WM_CLASS instance or class, Wayland app id) of terminal emulators, which
// paste with Ctrl+Shift+V. Names are matched whole and case-insensitively: "st" must not match
// "steam". To support another terminal, add its names to the list in TerminalClasses.cpp.
class TerminalClasses {
public:
    // The built-in list.
    TerminalClasses();
    explicit TerminalClasses(QStringList names);

    // Whether any of `windowClasses` names a terminal.
    bool matches(const QStringList& windowClasses) const;
    // Ctrl+Shift+V for a terminal; Ctrl+V for everything else, including an unknown focus.
    PasteShortcut pasteShortcutFor(const QStringList& windowClasses) const;

    const QStringList& names() const { return m_names; }

private:
    QStringList m_names; // case-folded
};

} // namespace murmelo
