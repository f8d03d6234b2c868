#pragma once

#include "system/LoginItemBackend.h"

#include <QString>

namespace murmelo {

// Launch at login as an XDG autostart entry, $XDG_CONFIG_HOME/autostart/com.murmelo.Murmelo.desktop,
// which every freedesktop session (GNOME, KDE, Xfce, LXQt, ...) starts at login.
// Status: no entry or a hidden/disabled one = notRegistered; an entry whose program exists =
// enabled; an entry whose program is gone = notFound. requiresApproval never happens here.
class LoginItemBackendXdg final : public LoginItemBackend {
public:
    static constexpr const char* entryFileName = "com.murmelo.Murmelo.desktop";

    // `executable`: what the entry starts; empty means the running program (resolved when
    // registering). `configHome`: empty means $XDG_CONFIG_HOME as it is at each call.
    explicit LoginItemBackendXdg(QString executable = {}, QString configHome = {});

    LoginItemStatus status() const override;
    // Writes the entry atomically; throws FileError (createDirectory or write).
    void registerItem() override;
    // Removes the entry; throws FileError (remove) when it stays.
    void unregisterItem() override;

    QString entryPath() const;
    // The entry's text for `executable`.
    static QByteArray entryContent(const QString& executable);

private:
    QString executable() const;

    QString m_executable;
    QString m_configHome;
};

} // namespace murmelo
