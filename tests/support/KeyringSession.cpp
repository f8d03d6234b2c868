#include "KeyringSession.h"

#include <QDir>
#include <QFile>

namespace murmelo::test {

using namespace std::chrono_literals;

KeyringSession::KeyringSession(Service service) {
    const QString root = m_environment.root();
    for (const char* folder : {"runtime", "data", "config", "cache"})
        QDir(root).mkpath(folder);
    QFile::setPermissions(root + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_environment.set("XDG_RUNTIME_DIR", QFile::encodeName(root + "/runtime"));
    m_environment.set("XDG_CACHE_HOME", QFile::encodeName(root + "/cache"));
    // With a display, GDBus may autolaunch a stray bus and the keyring may show a prompt nobody answers.
    m_environment.unset("DISPLAY");
    m_environment.unset("WAYLAND_DISPLAY");
    m_busAddress = "unix:path=" + root + "/runtime/bus";
    m_environment.set("DBUS_SESSION_BUS_ADDRESS", m_busAddress.toUtf8());
    // A bus that only routes: no <servicedir>, so nothing is activated behind our back.
    writeFile(root + "/bus.conf",
              "<busconfig><type>session</type><listen>" + m_busAddress.toUtf8() +
                  "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                  "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                  "<allow own=\"*\"/></policy></busconfig>");
    m_ready = m_children.startAndWait(
        QProcessEnvironment::systemEnvironment(), root, "dbus-daemon",
        {"--config-file=" + root + "/bus.conf", "--nofork"},
        [this] { return answers("org.freedesktop.DBus"); }, 15s);
    if (!m_ready) m_error = "dbus-daemon did not answer; see " + root + "/dbus-daemon.log";
    if (m_ready && service == Service::gnomeKeyring) m_ready = startKeyring();
}

bool KeyringSession::startKeyring() {
    // --unlock reads the login password from standard input; exec keeps the daemon's PID the one we stop.
    const QString daemon =
        "exec gnome-keyring-daemon --foreground --unlock --components=secrets <<END\npw\nEND";
    if (m_children.startAndWait(
            QProcessEnvironment::systemEnvironment(), m_environment.root(), "sh", {"-c", daemon},
            [this] { return answers("org.freedesktop.secrets"); }, 15s))
        return true;
    m_error = "the Secret Service did not appear on the bus; see " + m_environment.root() + "/sh.log";
    return false;
}

bool KeyringSession::answers(const QString& name) {
    return runOnBus("dbus-send",
                    {"--session", "--print-reply", "--dest=" + name, "/", "org.freedesktop.DBus.Peer.Ping"})
        .has_value();
}

bool KeyringSession::lockLoginCollection() {
    return runOnBus("dbus-send", {"--session", "--print-reply", "--dest=org.freedesktop.secrets",
                                  "/org/freedesktop/secrets", "org.freedesktop.Secret.Service.Lock",
                                  "array:objpath:/org/freedesktop/secrets/collection/login"})
        .has_value();
}

std::optional<QByteArray> KeyringSession::runOnBus(const QString& program, const QStringList& arguments) {
    QByteArray output;
    if (!runToEnd(QProcessEnvironment::systemEnvironment(), program, arguments, &output, 10s))
        return std::nullopt;
    return output;
}

} // namespace murmelo::test
