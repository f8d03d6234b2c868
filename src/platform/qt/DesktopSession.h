#pragma once

#include <QString>

namespace murmelo {

// Whether a graphical session can be reached, checked before QApplication exists so that a
// missing display gives our own message instead of Qt's abort.
struct DesktopSession {
    // True when QT_QPA_PLATFORM names a platform, an X server answers on $DISPLAY, or the
    // Wayland socket exists.
    static bool isAvailable();
    static QString unavailableMessage();
};

} // namespace murmelo
