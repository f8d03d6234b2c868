#pragma once

#include "KeyringSession.h"

#include <QDBusConnection>
#include <QProcess>
#include <QStringList>

#include <chrono>

namespace murmelo::test {

struct PortalOptions {
    // Back-end interfaces the mock announces to xdg-desktop-portal, without the common prefix.
    QStringList interfaces{QStringLiteral("GlobalShortcuts"), QStringLiteral("RemoteDesktop")};
    quint32 remoteDesktopVersion = 1;
    // The mock serves RemoteDesktop to clients itself, as a portal newer than the installed one;
    // no xdg-desktop-portal runs then.
    bool mockIsThePortal = false;
};

// A private session bus with the installed xdg-desktop-portal and our mock back end
// (murmelo-portal-mock) on it, for the lifetime of the object. The portal finds the mock through
// a portal file in a private XDG_DESKTOP_PORTAL_DIR for the desktop "murmelotest". Everything
// started is stopped by PID. connection() is a connection of this process to that bus.
class PortalSession {
public:
    explicit PortalSession(PortalOptions options = {},
                           std::chrono::milliseconds startLimit = std::chrono::seconds(15));
    ~PortalSession();
    PortalSession(const PortalSession&) = delete;
    PortalSession& operator=(const PortalSession&) = delete;

    bool isReady() const { return m_ready; }
    QString errorString() const { return m_error; }
    QDBusConnection connection() const { return QDBusConnection(m_connectionName); }
    QString busAddress() const { return m_bus.busAddress(); }

    // Control of the mock; each false when the mock did not answer.
    // The response code of a request method from now on (-1: hold the answer until release()).
    bool setResponse(const QString& method, int code);
    bool release(const QString& method, quint32 code);
    bool activate(const QString& shortcutId);
    bool deactivate(const QString& shortcutId);
    bool closeSessions();
    // What clients asked the mock for, one line a call; lines starting with `prefix` only.
    QStringList log(const QString& prefix = {});

private:
    bool startProcess(QProcess& process, const QString& program, const QStringList& arguments,
                      const QString& logName, const QString& busName,
                      std::chrono::steady_clock::time_point deadline);
    bool callMock(const QString& method, const QVariantList& arguments, QVariant* result = nullptr);
    QString logOf(const QString& logName);

    KeyringSession m_bus;
    QString m_connectionName;
    QString m_mockName;
    QProcess m_mock;
    QProcess m_portal;
    QString m_error;
    bool m_ready = false;
};

} // namespace murmelo::test
