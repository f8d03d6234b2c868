#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace murmelo {

// One Murmelo per user session. A second start hands its request ("settings" or "toggle") to the
// running one over a local socket and exits; this is also how users without a tray reach the
// settings, and how a desktop shortcut can toggle dictation.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    static inline const QString openSettingsCommand = QStringLiteral("settings");
    static inline const QString toggleCommand = QStringLiteral("toggle");

    // $XDG_RUNTIME_DIR/murmelo.socket, or a per-user name in the temporary directory.
    static QString socketPath();
    // Delivers `command` to a running instance; false when none answered within `timeoutMs`.
    static bool sendToRunningInstance(const QString& command, int timeoutMs = 2000,
                                      const QString& path = socketPath());

    explicit SingleInstance(QObject* parent = nullptr);
    // Starts answering; false when the socket cannot be created.
    bool listen(const QString& path = socketPath());

signals:
    void commandReceived(const QString& command);

private:
    QLocalServer m_server;
};

} // namespace murmelo
