#include "system/TerminalClasses.h"

#include <utility>

namespace murmelo {

namespace {

// Each terminal under the names it shows as WM_CLASS or app id, across the versions in use.
QStringList builtInTerminals() {
    return {
        QStringLiteral("xterm"),
        QStringLiteral("urxvt"),
        QStringLiteral("rxvt"),
        QStringLiteral("gnome-terminal"),
        QStringLiteral("gnome-terminal-server"),
        QStringLiteral("org.gnome.Terminal"),
        QStringLiteral("kgx"),
        QStringLiteral("org.gnome.Console"),
        QStringLiteral("ptyxis"),
        QStringLiteral("org.gnome.Ptyxis"),
        QStringLiteral("konsole"),
        QStringLiteral("org.kde.konsole"),
        QStringLiteral("yakuake"),
        QStringLiteral("org.kde.yakuake"),
        QStringLiteral("xfce4-terminal"),
        QStringLiteral("mate-terminal"),
        QStringLiteral("lxterminal"),
        QStringLiteral("qterminal"),
        QStringLiteral("terminator"),
        QStringLiteral("tilix"),
        QStringLiteral("com.gexperts.Tilix"),
        QStringLiteral("guake"),
        QStringLiteral("tilda"),
        QStringLiteral("alacritty"),
        QStringLiteral("kitty"),
        QStringLiteral("foot"),
        QStringLiteral("footclient"),
        QStringLiteral("wezterm"),
        QStringLiteral("org.wezfurlong.wezterm"),
        QStringLiteral("ghostty"),
        QStringLiteral("com.mitchellh.ghostty"),
        QStringLiteral("st"),
        QStringLiteral("st-256color"),
        QStringLiteral("sakura"),
        QStringLiteral("terminology"),
        QStringLiteral("deepin-terminal"),
    };
}

} // namespace

TerminalClasses::TerminalClasses()
    : TerminalClasses(builtInTerminals()) {}

TerminalClasses::TerminalClasses(QStringList names)
    : m_names(std::move(names)) {
    for (QString& name : m_names)
        name = name.toCaseFolded();
}

bool TerminalClasses::matches(const QStringList& windowClasses) const {
    for (const QString& windowClass : windowClasses)
        if (m_names.contains(windowClass.toCaseFolded())) return true;
    return false;
}

PasteShortcut TerminalClasses::pasteShortcutFor(const QStringList& windowClasses) const {
    return matches(windowClasses) ? PasteShortcut::controlShift : PasteShortcut::control;
}

} // namespace murmelo
