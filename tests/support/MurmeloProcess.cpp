#include "MurmeloProcess.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

namespace murmelo::test {

namespace {
const QString overlayPrefix = QStringLiteral("Murmelo — ");

QString program() {
    return qEnvironmentVariable("MURMELO_BUILD_DIR") + QStringLiteral("/bin/murmelo");
}
} // namespace

MurmeloProcess::MurmeloProcess(TestDisplay& display, QString pulseServer)
    : m_display(display)
    , m_pulseServer(std::move(pulseServer)) {
    const QString runtime = m_home.path() + QStringLiteral("/runtime");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

MurmeloProcess::~MurmeloProcess() {
    stop();
}

QProcessEnvironment MurmeloProcess::environment() const {
    QProcessEnvironment environment = m_display.environment();
    environment.insert("HOME", m_home.path() + "/home");
    environment.insert("XDG_CONFIG_HOME", m_home.path() + "/config");
    environment.insert("XDG_DATA_HOME", m_home.path() + "/data");
    environment.insert("XDG_RUNTIME_DIR", m_home.path() + "/runtime");
    environment.insert("PULSE_SERVER", m_pulseServer);
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("MURMELO_SESSION", "x11");
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    environment.remove("OPENAI_API_KEY");
    environment.remove("DEEPSEEK_API_KEY");
    return environment;
}

bool MurmeloProcess::writeSettings(const QJsonObject& values) {
    QDir().mkpath(m_home.path() + "/config/Murmelo");
    QFile file(m_home.path() + "/config/Murmelo/settings.json");
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(values).toJson()) > 0;
}

bool MurmeloProcess::start(const QProcessEnvironment& environment) {
    m_startedWith = environment;
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_process.start(program(), {});
    if (!m_process.waitForStarted(5000)) return false;
    return waitUntil(
        [&] {
            QByteArray ids;
            return m_display.run("xdotool", {"search", "--class", "^murmelo$"}, &ids,
                                 std::chrono::seconds(3)) &&
                   !ids.trimmed().isEmpty();
        },
        std::chrono::seconds(15), std::chrono::milliseconds(20));
}

void MurmeloProcess::stop() {
    stopChild(m_process, 5000);
}

int MurmeloProcess::runCommand(const QStringList& arguments, std::chrono::milliseconds limit) {
    QProcess command;
    command.setProcessEnvironment(m_startedWith.isEmpty() ? environment() : m_startedWith);
    command.setProcessChannelMode(QProcess::ForwardedChannels);
    command.start(program(), arguments);
    if (!command.waitForFinished(int(limit.count()))) {
        command.kill();
        command.waitForFinished(2000);
        return -1;
    }
    return command.exitStatus() == QProcess::NormalExit ? command.exitCode() : -1;
}

QString MurmeloProcess::overlayTitle() const {
    QByteArray ids;
    if (!m_display.run("xdotool", {"search", "--onlyvisible", "--name", "^" + overlayPrefix}, &ids,
                       std::chrono::seconds(3)) ||
        ids.trimmed().isEmpty())
        return QString();
    QByteArray name;
    if (!m_display.run("xdotool", {"getwindowname", QString::fromLatin1(ids.split('\n').first())}, &name,
                       std::chrono::seconds(3)))
        return QString();
    const QString title = QString::fromUtf8(name).trimmed();
    return title.startsWith(overlayPrefix) ? title.mid(overlayPrefix.size()) : title;
}

bool MurmeloProcess::waitForOverlay(const QString& title, std::chrono::milliseconds limit) const {
    return waitUntil([&] { return overlayTitle() == title; }, limit, std::chrono::milliseconds(20));
}

bool MurmeloProcess::waitForOverlayHidden(std::chrono::milliseconds limit) const {
    return waitUntil([&] { return overlayTitle().isNull(); }, limit, std::chrono::milliseconds(50));
}

} // namespace murmelo::test
