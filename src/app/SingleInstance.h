#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

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

    enum class Listening { started, heldByAnother, failed };

    explicit SingleInstance(QObject* parent = nullptr);
    // Starts answering. heldByAnother: a live instance owns the socket, perhaps still starting;
    // failed: the socket cannot be created.
    Listening listen(const QString& path = socketPath());

signals:
    void commandReceived(const QString& command);

private:
    std::unique_ptr<QLockFile> m_lock; // held while this instance owns the socket
    QLocalServer m_server;
};

} // namespace murmelo
