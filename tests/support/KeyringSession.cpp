#include "KeyringSession.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <optional>

namespace murmelo::test {
namespace {

using Clock = std::chrono::steady_clock;

int remainingMilliseconds(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return int(std::max<long long>(left, 0));
}

// A session bus that only routes: no <servicedir>, so nothing is activated behind our back.
QByteArray busConfiguration(const QString& socketPath) {
    return QByteArrayLiteral(
               "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig>\n"
               "  <type>session</type>\n"
               "  <listen>unix:path=") +
           socketPath.toUtf8() +
           QByteArrayLiteral("</listen>\n"
                             "  <auth>EXTERNAL</auth>\n"
                             "  <policy context=\"default\">\n"
                             "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                             "    <allow eavesdrop=\"true\"/>\n"
                             "    <allow own=\"*\"/>\n"
                             "  </policy>\n"
                             "</busconfig>\n");
}

} // namespace

KeyringSession::KeyringSession(Service service, std::chrono::milliseconds startLimit) {
    const auto deadline = Clock::now() + startLimit;
    const QString root = m_environment.root();
    const QString runtime = root + QStringLiteral("/runtime");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QDir().mkpath(m_environment.dataHome());
    QDir().mkpath(m_environment.configHome());
    m_environment.set("XDG_RUNTIME_DIR", runtime.toUtf8());
    m_environment.set("XDG_CACHE_HOME", (root + QStringLiteral("/cache")).toUtf8());
    // With a display, GDBus may autolaunch a stray bus and the keyring may show a prompt that
    // nobody answers.
    m_environment.unset("DISPLAY");
    m_environment.unset("WAYLAND_DISPLAY");
    m_environment.unset("DBUS_SESSION_BUS_ADDRESS");

    m_ready = startBus(deadline) && (service == Service::none || startKeyring(deadline));
}

KeyringSession::~KeyringSession() {
    stopChild(m_keyring);
    stopChild(m_bus);
}

bool KeyringSession::startBus(Clock::time_point deadline) {
    const QString root = m_environment.root();
    const QString configPath = root + QStringLiteral("/bus.conf");
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly) ||
        config.write(busConfiguration(root + QStringLiteral("/runtime/bus"))) < 0) {
        m_error = QStringLiteral("cannot write the bus configuration");
        return false;
    }
    config.close();

    m_bus.setProcessChannelMode(QProcess::SeparateChannels);
    m_bus.setStandardErrorFile(root + QStringLiteral("/bus.log"));
    m_bus.start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--config-file=") + configPath, QStringLiteral("--nofork"),
                 QStringLiteral("--print-address=1")});
    if (!m_bus.waitForStarted(remainingMilliseconds(deadline))) {
        m_error = QStringLiteral("dbus-daemon did not start: ") + m_bus.errorString();
        return false;
    }
    while (!m_bus.canReadLine()) {
        if (m_bus.state() == QProcess::NotRunning ||
            !m_bus.waitForReadyRead(remainingMilliseconds(deadline))) {
            m_error = QStringLiteral("dbus-daemon printed no address");
            return false;
        }
    }
    m_busAddress = QString::fromUtf8(m_bus.readLine().trimmed());
    m_environment.set("DBUS_SESSION_BUS_ADDRESS", m_busAddress.toUtf8());
    return true;
}

bool KeyringSession::startKeyring(Clock::time_point deadline) {
    m_keyring.setProcessChannelMode(QProcess::MergedChannels);
    m_keyring.setStandardOutputFile(m_environment.root() + QStringLiteral("/keyring.log"));
    // In the foreground the daemon stays our child, so we can stop it by its PID.
    m_keyring.start(
        QStringLiteral("gnome-keyring-daemon"),
        {QStringLiteral("--foreground"), QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
    if (!m_keyring.waitForStarted(remainingMilliseconds(deadline))) {
        m_error = QStringLiteral("gnome-keyring-daemon did not start: ") + m_keyring.errorString();
        return false;
    }
    // --unlock reads the login password from standard input until end of file.
    m_keyring.write("test-password");
    // Nothing runs our event loop here: push the bytes out before closing, or they never leave.
    m_keyring.waitForBytesWritten(remainingMilliseconds(deadline));
    m_keyring.closeWriteChannel();
    while (!serviceIsOwned()) {
        if (m_keyring.state() == QProcess::NotRunning) {
            m_error = QStringLiteral("gnome-keyring-daemon exited: ") + keyringLog();
            return false;
        }
        if (remainingMilliseconds(deadline) == 0) {
            m_error = QStringLiteral("the Secret Service did not appear on the bus in time: ") + keyringLog();
            return false;
        }
        QThread::msleep(50);
    }
    return true;
}

std::optional<QByteArray> KeyringSession::runOnBus(const QString& program, const QStringList& arguments,
                                                   const QByteArray& input) {
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(5000)) return std::nullopt;
    if (!input.isEmpty()) {
        process.write(input);
        process.waitForBytesWritten(5000);
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(3000);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return std::nullopt;
    return process.readAllStandardOutput();
}

QString KeyringSession::keyringLog() const {
    QFile log(m_environment.root() + QStringLiteral("/keyring.log"));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

bool KeyringSession::serviceIsOwned() {
    const auto reply = runOnBus(QStringLiteral("dbus-send"),
                                {QStringLiteral("--session"), QStringLiteral("--dest=org.freedesktop.DBus"),
                                 QStringLiteral("--type=method_call"), QStringLiteral("--print-reply"),
                                 QStringLiteral("/org/freedesktop/DBus"),
                                 QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                                 QStringLiteral("string:org.freedesktop.secrets")});
    return reply && reply->contains("boolean true");
}

bool KeyringSession::lockLoginCollection() {
    return runOnBus(QStringLiteral("dbus-send"),
                    {QStringLiteral("--session"), QStringLiteral("--dest=org.freedesktop.secrets"),
                     QStringLiteral("--type=method_call"), QStringLiteral("--print-reply"),
                     QStringLiteral("/org/freedesktop/secrets"),
                     QStringLiteral("org.freedesktop.Secret.Service.Lock"),
                     QStringLiteral("array:objpath:/org/freedesktop/secrets/collection/login")})
        .has_value();
}

} // namespace murmelo::test
