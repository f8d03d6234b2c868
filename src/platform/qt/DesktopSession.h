#pragma once

#include <QString>

namespace murmelo {

// Whether a graphical session can be reached, checked before QApplication exists so that a
// missing display gives our own message instead of Qt's abort.
struct DesktopSession {
    enum class Protocol { x11, wayland, none };

    // Which kind of back ends serve this session: MURMELO_SESSION ("x11" or "wayland") when set,
    // else Wayland when Qt runs on it or the login session says so (an X11 shortcut grab or
    // XTest only reaches XWayland windows there), else X11 when Qt runs on xcb.
    static Protocol protocol(const QString& override, const QString& platformName,
                             const QString& sessionType);
    // The same for this process, after QGuiApplication exists.
    static Protocol protocol();

    // True when QT_QPA_PLATFORM names a platform, an X server answers on $DISPLAY, or the
    // Wayland socket exists.
    static bool isAvailable();
    static QString unavailableMessage();
};

} // namespace murmelo
