#include "SwaySession.h"
#include "TestEnvironment.h"

#include "TestDisplay.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeySequence>
#include <QLibraryInfo>
#include <QStandardPaths>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace murmelo::test {
namespace {

using namespace std::chrono_literals;

constexpr uid_t nobody = 65534;

} // namespace

SwaySession::SwaySession() {
    // nobody must get through the root-owned private folder to its own runtime folder and the config.
    QFile::setPermissions(m_root.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                             QFile::ExeGroup | QFile::ExeOther);
    for (const char* folder : {"compositor", "home", "config", "data", "cache", "runtime"})
        QDir(m_root.path()).mkpath(QLatin1String(folder));
    const QString compositor = m_root.filePath(QStringLiteral("compositor"));
    if (::geteuid() == 0) {
        [[maybe_unused]] const int owned = ::chown(QFile::encodeName(compositor).constData(), nobody, nobody);
    }
    const auto privateFolder = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    QFile::setPermissions(compositor, privateFolder);
    QFile::setPermissions(m_root.filePath(QStringLiteral("runtime")), privateFolder);

    QFile config(m_root.filePath(QStringLiteral("sway.config")));
    if (config.open(QIODevice::WriteOnly))
        config.write("xwayland disable\n"
                     "output HEADLESS-1 resolution 1280x720\n");
    config.close();
    config.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
}

SwaySession::~SwaySession() {
    stop();
}

QStringList SwaySession::missingPrograms() {
    QStringList missing;
    for (const char* program : {"sway", "swaymsg", "setpriv", "wl-copy", "wl-paste", "wtype"})
        if (QStandardPaths::findExecutable(QLatin1String(program)).isEmpty())
            missing << QLatin1String(program);
    const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
    if (platforms.entryList({QStringLiteral("libqwayland-generic.so")}).isEmpty())
        missing << QStringLiteral("Qt Wayland platform plugin (qt6-wayland)");
    return missing;
}

bool SwaySession::fail(const QString& message) {
    QFile log(m_root.filePath(QStringLiteral("sway.log")));
    const QByteArray tail = log.open(QIODevice::ReadOnly) ? log.readAll().right(2000) : QByteArray();
    m_error = message + QStringLiteral("\n") + QString::fromLocal8Bit(tail);
    stop();
    return false;
}

bool SwaySession::isRunning() const {
    return m_compositor && m_compositor->state() == QProcess::Running;
}

bool SwaySession::start(std::chrono::milliseconds limit) {
    stop();
    m_error.clear();
    const QString runtime = m_root.filePath(QStringLiteral("compositor"));
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
    environment.insert(QStringLiteral("HOME"), runtime);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    environment.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    environment.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    environment.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));

    m_compositor = std::make_unique<QProcess>();
    m_compositor->setProcessEnvironment(environment);
    m_compositor->setStandardInputFile(QProcess::nullDevice());
    m_compositor->setStandardOutputFile(QProcess::nullDevice());
    m_compositor->setStandardErrorFile(m_root.filePath(QStringLiteral("sway.log")));
    // sway refuses root: as root it runs as nobody. Changing the user clears a parent-death signal
    // set before; setpriv sets it again after.
    QStringList arguments;
    if (::geteuid() == 0)
        arguments << QStringLiteral("--reuid=65534") << QStringLiteral("--regid=65534")
                  << QStringLiteral("--clear-groups");
    arguments << QStringLiteral("--pdeathsig=TERM") << QStringLiteral("sway") << QStringLiteral("-c")
              << m_root.filePath(QStringLiteral("sway.config"));
    m_compositor->start(QStringLiteral("setpriv"), arguments);
    if (!m_compositor->waitForStarted(int(limit.count())))
        return fail(QStringLiteral("sway did not start: %1").arg(m_compositor->errorString()));

    // The Wayland socket appears before the outputs exist; the IPC answering with the headless
    // output means the compositor is serving.
    const QDir folder(runtime);
    const bool ready = waitUntil(
        [&] {
            if (!isRunning()) return true;
            if (m_socket.isEmpty()) {
                for (const QFileInfo& entry :
                     folder.entryInfoList({QStringLiteral("wayland-*")}, QDir::System))
                    if (!entry.fileName().endsWith(QLatin1String(".lock")))
                        m_socket = entry.absoluteFilePath();
                for (const QFileInfo& entry :
                     folder.entryInfoList({QStringLiteral("sway-ipc.*.sock")}, QDir::System))
                    m_ipcSocket = entry.absoluteFilePath();
            }
            if (m_socket.isEmpty() || m_ipcSocket.isEmpty()) return false;
            QByteArray outputs;
            return run(QStringLiteral("swaymsg"), {QStringLiteral("-t"), QStringLiteral("get_outputs")},
                       &outputs, 2s) &&
                   outputs.contains("HEADLESS-1");
        },
        limit, 20ms);
    if (!isRunning()) return fail(QStringLiteral("sway exited at start"));
    if (!ready) return fail(QStringLiteral("sway did not come up in time"));
    return true;
}

void SwaySession::stop() {
    m_clients.stopAll();
    if (m_compositor) {
        stopChild(*m_compositor);
        m_compositor.reset();
    }
    // sway's sockets go with it; the folder stays for the next start and goes with m_root.
    for (const QFileInfo& entry : QDir(m_root.filePath(QStringLiteral("compositor")))
                                      .entryInfoList(QDir::Files | QDir::System | QDir::Hidden))
        QFile::remove(entry.absoluteFilePath());
    m_socket.clear();
    m_ipcSocket.clear();
}

QProcessEnvironment SwaySession::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), m_root.filePath(QStringLiteral("home")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_root.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_root.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_root.filePath(QStringLiteral("cache")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_root.filePath(QStringLiteral("runtime")));
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), m_socket);
    environment.insert(QStringLiteral("SWAYSOCK"), m_ipcSocket);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_SOCKET"));
    return environment;
}

void SwaySession::exportToThisProcess() const {
    qputenv("WAYLAND_DISPLAY", QFile::encodeName(m_socket));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_root.filePath(QStringLiteral("runtime"))));
    qunsetenv("WAYLAND_SOCKET");
    qunsetenv("DISPLAY");
}

bool SwaySession::run(const QString& program, const QStringList& arguments, QByteArray* output,
                      std::chrono::milliseconds limit) const {
    return runToEnd(environment(), program, arguments, output, limit);
}

QProcess* SwaySession::startProcess(const QString& program, const QStringList& arguments) {
    return m_clients.start(environment(), m_root.path(), program, arguments);
}

void SwaySession::stopProcess(QProcess* process) {
    m_clients.stop(process);
}

// --- WaylandPasteTarget ---

WaylandPasteTarget::WaylandPasteTarget(SwaySession& session, QString appId)
    : m_session(session)
    , m_appId(std::move(appId)) {}

WaylandPasteTarget::~WaylandPasteTarget() {
    stop();
}

bool WaylandPasteTarget::start(std::chrono::milliseconds limit) {
    stop();
    QStringList arguments;
    if (!m_appId.isEmpty()) arguments << QStringLiteral("--app-id") << m_appId;
    arguments << m_files.filePath(QStringLiteral("text")) << m_files.filePath(QStringLiteral("changes"));
    m_process = m_session.startProcess(PasteTarget::programPath(), arguments);
    if (m_process->state() != QProcess::Running) return false;
    // sway focuses a new window itself; the target says when its field has the focus.
    return waitUntil(
               [&] {
                   return QFile::exists(m_files.filePath(QStringLiteral("text.ready"))) ||
                          m_process->state() != QProcess::Running;
               },
               limit) &&
           m_process->state() == QProcess::Running;
}

void WaylandPasteTarget::stop() {
    if (!m_process) return;
    m_session.stopProcess(m_process);
    m_process = nullptr;
    for (const char* file : {"text.ready", "text", "changes", "text.keys"})
        QFile::remove(m_files.filePath(QLatin1String(file)));
}

QString WaylandPasteTarget::text() const {
    QFile file(m_files.filePath(QStringLiteral("text")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool WaylandPasteTarget::waitForText(const QString& expected, std::chrono::milliseconds limit) {
    return waitUntil([&] { return text() == expected; }, limit);
}

QString WaylandPasteTarget::keyLog() const {
    QFile file(m_files.filePath(QStringLiteral("text.keys")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QStringList WaylandPasteTarget::pressedChords() const {
    return chordsInKeyLog(keyLog());
}

} // namespace murmelo::test
