#include "SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>

#include <unistd.h>

namespace murmelo {
namespace {

constexpr qint64 maximumCommandLength = 64;

} // namespace

QString SingleInstance::socketPath() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) return runtime + QStringLiteral("/murmelo.socket");
    return QDir::tempPath() + QStringLiteral("/murmelo-%1.socket").arg(::getuid());
}

bool SingleInstance::sendToRunningInstance(const QString& command, int timeoutMs, const QString& path) {
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs)) return false;
    socket.write(command.toUtf8() + '\n');
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    // The answer tells that the running instance took the request, not merely that a socket existed.
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(timeoutMs)) return false;
    return socket.readLine().trimmed() == "ok";
}

SingleInstance::SingleInstance(QObject* parent)
    : QObject(parent) {
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_server.nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                if (!client->canReadLine()) {
                    if (client->bytesAvailable() > maximumCommandLength) client->abort();
                    return;
                }
                const QString command = QString::fromUtf8(client->readLine(maximumCommandLength)).trimmed();
                const bool known = command == openSettingsCommand || command == toggleCommand;
                client->write(known ? "ok\n" : "unknown\n");
                client->flush();
                client->disconnectFromServer();
                if (known) emit commandReceived(command);
            });
        }
    });
}

SingleInstance::Listening SingleInstance::listen(const QString& path) {
    // The socket's file cannot tell a crashed instance from one that is slow to answer, and Qt
    // replaces an existing socket file when it listens: the lock decides who owns it. QLockFile
    // takes over a lock whose process has died.
    auto lock = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
    if (!lock->tryLock(0))
        return lock->error() == QLockFile::LockFailedError ? Listening::heldByAnother : Listening::failed;
    QLocalServer::removeServer(path); // left behind by an instance that crashed
    if (!m_server.listen(path)) return Listening::failed;
    m_lock = std::move(lock);
    return Listening::started;
}

} // namespace murmelo
