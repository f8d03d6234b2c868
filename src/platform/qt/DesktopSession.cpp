#include "qt/DesktopSession.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>

#include <xcb/xcb.h>

namespace murmelo {
namespace {

bool x11Answers(const QByteArray& display) {
    xcb_connection_t* connection = xcb_connect(display.constData(), nullptr);
    const bool ok = connection && xcb_connection_has_error(connection) == 0;
    if (connection) xcb_disconnect(connection);
    return ok;
}

bool waylandSocketExists(const QString& display) {
    if (QDir::isAbsolutePath(display)) return QFileInfo::exists(display);
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QLatin1Char('/') + display);
}

} // namespace

bool DesktopSession::isAvailable() {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return true;
    const QByteArray display = qgetenv("DISPLAY");
    if (!display.isEmpty() && x11Answers(display)) return true;
    const QString wayland = qEnvironmentVariable("WAYLAND_DISPLAY");
    return !wayland.isEmpty() && waylandSocketExists(wayland);
}

DesktopSession::Protocol DesktopSession::protocol(const QString& override, const QString& platformName,
                                                  const QString& sessionType) {
    const QString chosen = override.trimmed().toLower();
    if (chosen == QLatin1String("wayland")) return Protocol::wayland;
    if (chosen == QLatin1String("x11")) return Protocol::x11;
    if (platformName.startsWith(QLatin1String("wayland"))) return Protocol::wayland;
    if (sessionType.compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0) return Protocol::wayland;
    if (platformName == QLatin1String("xcb")) return Protocol::x11;
    return Protocol::none;
}

DesktopSession::Protocol DesktopSession::protocol() {
    return protocol(qEnvironmentVariable("MURMELO_SESSION"), QGuiApplication::platformName(),
                    qEnvironmentVariable("XDG_SESSION_TYPE"));
}

QString DesktopSession::unavailableMessage() {
    return QStringLiteral("Murmelo 需要图形桌面会话（X11 或 Wayland）才能运行，请在桌面环境中启动。");
}

} // namespace murmelo
