#include "TestDisplay.h"
#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeySequence>
#include <QStandardPaths>
#include <QThread>

#include <xcb/xcb.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <utility>

namespace murmelo::test {
namespace {

using namespace std::chrono_literals;

// One short-lived client connection, for the readiness checks.
class Connection {
public:
    explicit Connection(const QString& display)
        : m_connection(xcb_connect(display.toLocal8Bit().constData(), &m_screen)) {}
    ~Connection() { xcb_disconnect(m_connection); }
    bool ok() const { return xcb_connection_has_error(m_connection) == 0; }
    xcb_connection_t* get() const { return m_connection; }
    xcb_window_t root() const {
        auto iterator = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < m_screen && iterator.rem > 1; ++i)
            xcb_screen_next(&iterator);
        return iterator.data->root;
    }
    xcb_atom_t atom(const char* name) const {
        auto* reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, std::strlen(name), name), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return atom;
    }

private:
    int m_screen = 0;
    xcb_connection_t* m_connection;
};

} // namespace

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit,
               std::chrono::milliseconds interval) {
    QDeadlineTimer deadline(limit);
    while (!condition()) {
        if (deadline.hasExpired()) return condition();
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, int(interval.count()));
        QThread::msleep(quint64(interval.count()));
    }
    return true;
}

qint64 monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

TestDisplay::TestDisplay() {
    for (const char* folder : {"home", "config", "data", "cache", "runtime"})
        QDir(m_root.path()).mkpath(QLatin1String(folder));
    QFile::setPermissions(m_root.path() + QStringLiteral("/runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TestDisplay::~TestDisplay() {
    stop();
}

bool TestDisplay::fail(const QString& message) {
    m_error = message;
    stop();
    return false;
}

QProcessEnvironment TestDisplay::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), m_root.path() + QStringLiteral("/home"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_root.path() + QStringLiteral("/config"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_root.path() + QStringLiteral("/data"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_root.path() + QStringLiteral("/cache"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_root.path() + QStringLiteral("/runtime"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    if (!m_name.isEmpty()) environment.insert(QStringLiteral("DISPLAY"), m_name);
    return environment;
}

void TestDisplay::exportToThisProcess() const {
    qputenv("DISPLAY", m_name.toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("WAYLAND_DISPLAY");
}

bool TestDisplay::isRunning() const {
    return m_server && m_server->state() == QProcess::Running;
}

bool TestDisplay::startServer(const Options& options) {
    // The server writes its display number to a pipe we hand it (-displayfd): no guessing of
    // free numbers, and the number arrives once it accepts connections.
    int fds[2];
    if (::pipe(fds) != 0)
        return fail(QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    const int readEnd = fds[0];
    const int writeEnd = fds[1];

    QStringList arguments{QStringLiteral("-displayfd"),
                          QString::number(writeEnd),
                          QStringLiteral("-screen"),
                          QStringLiteral("0"),
                          options.screen,
                          QStringLiteral("-nolisten"),
                          QStringLiteral("tcp")};
    if (!options.xtest) arguments << QStringLiteral("-extension") << QStringLiteral("XTEST");
    m_server = std::make_unique<QProcess>();
    dieWithParent(*m_server);
    m_server->setProcessEnvironment(environment());
    m_server->setStandardOutputFile(QProcess::nullDevice());
    m_server->setStandardErrorFile(m_root.path() + QStringLiteral("/Xvfb.log"));
    m_server->start(QStringLiteral("Xvfb"), arguments);
    const bool started = m_server->waitForStarted(int(options.limit.count()));
    ::close(writeEnd); // the server holds its own copy
    if (!started) {
        ::close(readEnd);
        return fail(QStringLiteral("Xvfb did not start: %1").arg(m_server->errorString()));
    }

    QByteArray number;
    QDeadlineTimer deadline(options.limit);
    while (!number.endsWith('\n')) {
        pollfd readable{readEnd, POLLIN, 0};
        const int ready = ::poll(&readable, 1, int(std::max<qint64>(deadline.remainingTime(), 0)));
        if (ready <= 0) break;
        char buffer[16];
        const ssize_t count = ::read(readEnd, buffer, sizeof buffer);
        if (count <= 0) break;
        number.append(buffer, count);
    }
    ::close(readEnd);
    if (!number.endsWith('\n'))
        return fail(
            QStringLiteral("Xvfb gave no display number: %1")
                .arg(QString::fromLocal8Bit(QFile(m_root.path() + QStringLiteral("/Xvfb.log")).exists()
                                                ? QByteArray("see Xvfb.log")
                                                : QByteArray())));
    m_name = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    return true;
}

bool TestDisplay::start(const Options& options) {
    stop();
    m_error.clear();
    if (!startServer(options)) return false;

    if (options.windowManager) {
        startProcess(QStringLiteral("openbox"), {});
        if (!waitForWindowManager(options.limit))
            return fail(QStringLiteral("openbox did not manage the screen"));
    }
    if (options.tray) {
        startProcess(QStringLiteral("trayer"),
                     {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                      QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
                      QStringLiteral("--height"), QStringLiteral("24"), QStringLiteral("--SetDockType"),
                      QStringLiteral("true")});
        if (!waitForTray(options.limit))
            return fail(QStringLiteral("trayer did not take the tray selection"));
    }
    return true;
}

bool TestDisplay::waitForWindowManager(std::chrono::milliseconds limit) {
    Connection connection(m_name);
    if (!connection.ok()) return false;
    auto hasProperty = [&](xcb_window_t window, xcb_atom_t property) {
        auto* reply = xcb_get_property_reply(
            connection.get(), xcb_get_property(connection.get(), 0, window, property, XCB_ATOM_ANY, 0, 1),
            nullptr);
        const bool set = reply && xcb_get_property_value_length(reply) > 0;
        std::free(reply);
        return set;
    };
    const xcb_atom_t check = connection.atom("_NET_SUPPORTING_WM_CHECK");
    if (!waitUntil([&] { return hasProperty(connection.root(), check); }, limit, 10ms)) return false;

    // The check window appears before openbox handles map requests, and a window mapped right
    // then stays unmapped for good. A probe window that openbox has taken on (WM_STATE set)
    // proves it is ready; the probe asks again until it is.
    const xcb_window_t probe = xcb_generate_id(connection.get());
    const auto iterator = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    xcb_create_window(connection.get(), XCB_COPY_FROM_PARENT, probe, connection.root(), 0, 0, 10, 10, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, iterator.data->root_visual, 0, nullptr);
    xcb_map_window(connection.get(), probe);
    xcb_flush(connection.get());
    const xcb_atom_t wmState = connection.atom("WM_STATE");
    int polls = 0;
    const bool managed = waitUntil(
        [&] {
            if (hasProperty(probe, wmState)) return true;
            if (++polls % 10 == 0) {
                xcb_map_window(connection.get(), probe);
                xcb_flush(connection.get());
            }
            return false;
        },
        limit, 10ms);
    xcb_destroy_window(connection.get(), probe);
    xcb_flush(connection.get());
    return managed;
}

bool TestDisplay::waitForTray(std::chrono::milliseconds limit) {
    Connection connection(m_name);
    if (!connection.ok()) return false;
    const xcb_atom_t selection = connection.atom("_NET_SYSTEM_TRAY_S0");
    return waitUntil(
        [&] {
            auto* reply = xcb_get_selection_owner_reply(
                connection.get(), xcb_get_selection_owner(connection.get(), selection), nullptr);
            const bool owned = reply && reply->owner != XCB_NONE;
            std::free(reply);
            return owned;
        },
        limit, 10ms);
}

QProcess* TestDisplay::startProcess(const QString& program, const QStringList& arguments) {
    return m_helpers.start(environment(), m_root.path(), program, arguments);
}

void TestDisplay::stopProcess(QProcess* process) {
    m_helpers.stop(process);
}

bool TestDisplay::run(const QString& program, const QStringList& arguments, QByteArray* output,
                      std::chrono::milliseconds limit) const {
    return runToEnd(environment(), program, arguments, output, limit);
}

bool runToEnd(const QProcessEnvironment& environment, const QString& program, const QStringList& arguments,
              QByteArray* output, std::chrono::milliseconds limit) {
    QProcess process;
    dieWithParent(process);
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted(int(limit.count()))) return false;
    if (!waitUntil([&] { return process.state() == QProcess::NotRunning || process.waitForFinished(0); },
                   limit)) {
        stopChild(process);
        return false;
    }
    if (output) *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QProcess* ChildProcesses::start(const QProcessEnvironment& environment, const QString& logFolder,
                                const QString& program, const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    dieWithParent(*process);
    process->setProcessEnvironment(environment);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(logFolder + QLatin1Char('/') + QFileInfo(program).fileName() +
                                      QStringLiteral(".log"),
                                  QIODevice::Append);
    process->start(program, arguments);
    process->waitForStarted(10000);
    m_children.push_back(std::move(process));
    return m_children.back().get();
}

void ChildProcesses::stop(QProcess* process) {
    for (auto it = m_children.begin(); it != m_children.end(); ++it) {
        if (it->get() != process) continue;
        stopChild(**it);
        m_children.erase(it);
        return;
    }
}

void ChildProcesses::stopAll() {
    while (!m_children.empty()) {
        stopChild(*m_children.back());
        m_children.pop_back();
    }
}

void TestDisplay::stop() {
    m_helpers.stopAll();
    if (m_server) {
        stopChild(*m_server);
        m_server.reset();
    }
    m_name.clear();
}

// --- PasteTarget ---

PasteTarget::PasteTarget(TestDisplay& display)
    : m_display(display) {}

PasteTarget::PasteTarget(TestDisplay& display, QString windowClass)
    : m_display(display)
    , m_windowClass(std::move(windowClass)) {}

PasteTarget::~PasteTarget() {
    stop();
}

QString PasteTarget::programPath() {
    const QString build = qEnvironmentVariable("MURMELO_BUILD_DIR");
    if (!build.isEmpty()) return build + QStringLiteral("/bin/murmelo-paste-target");
    return QCoreApplication::applicationDirPath() + QStringLiteral("/murmelo-paste-target");
}

bool PasteTarget::start(std::chrono::milliseconds limit) {
    stop();
    QStringList arguments;
    if (!m_windowClass.isEmpty()) arguments << QStringLiteral("--class") << m_windowClass;
    arguments << m_files.filePath(QStringLiteral("text")) << m_files.filePath(QStringLiteral("changes"));
    m_process = m_display.startProcess(programPath(), arguments);
    if (m_process->state() != QProcess::Running) return false;
    // Activated as a pager would: a window manager may keep a new window unfocused. Activation
    // fails while the window is mapped but not yet managed, so it is asked again until it holds.
    const QString pid = QString::number(m_process->processId());
    const QStringList activate{QStringLiteral("search"),
                               QStringLiteral("--sync"),
                               QStringLiteral("--all"),
                               QStringLiteral("--onlyvisible"),
                               QStringLiteral("--pid"),
                               pid,
                               QStringLiteral("--name"),
                               QStringLiteral("^Murmelo paste target$"),
                               QStringLiteral("windowactivate"),
                               QStringLiteral("--sync"),
                               QStringLiteral("%1")};
    if (!waitUntil([&] { return m_display.run(QStringLiteral("xdotool"), activate, nullptr, limit); }, limit,
                   std::chrono::milliseconds(50)))
        return false;
    return waitUntil([&] { return QFile::exists(m_files.filePath(QStringLiteral("text.ready"))); }, limit);
}

void PasteTarget::stop() {
    if (!m_process) return;
    m_display.stopProcess(m_process);
    m_process = nullptr;
    QFile::remove(m_files.filePath(QStringLiteral("text.ready")));
    QFile::remove(m_files.filePath(QStringLiteral("text")));
    QFile::remove(m_files.filePath(QStringLiteral("changes")));
}

QString PasteTarget::text() const {
    QFile file(m_files.filePath(QStringLiteral("text")));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

int PasteTarget::changes() const {
    QFile file(m_files.filePath(QStringLiteral("changes")));
    if (!file.open(QIODevice::ReadOnly)) return 0;
    return int(file.readAll().count('\n'));
}

qint64 PasteTarget::lastChangeNs() const {
    QFile file(m_files.filePath(QStringLiteral("changes")));
    if (!file.open(QIODevice::ReadOnly)) return -1;
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    return lines.isEmpty() ? -1 : lines.last().toLongLong();
}

bool PasteTarget::waitForText(const QString& expected, std::chrono::milliseconds limit) {
    return waitUntil([&] { return text() == expected; }, limit);
}

} // namespace murmelo::test

namespace murmelo::test {
QString PasteTarget::keyLog() const {
    QFile file(m_files.filePath(QStringLiteral("text.keys")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QStringList PasteTarget::pressedChords() const {
    return chordsInKeyLog(keyLog());
}

QStringList chordsInKeyLog(const QString& keyLog) {
    static const QList<int> modifierKeys{Qt::Key_Shift,   Qt::Key_Control, Qt::Key_Alt,  Qt::Key_Meta,
                                         Qt::Key_Super_L, Qt::Key_Super_R, Qt::Key_AltGr};
    QStringList chords;
    for (const QString& line : keyLog.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        // "<ns> press <key hex> mods <modifiers hex>"
        const QStringList fields = line.split(QLatin1Char(' '));
        if (fields.size() != 5 || fields.at(1) != QStringLiteral("press")) continue;
        const int key = fields.at(2).toInt(nullptr, 16);
        if (modifierKeys.contains(key)) continue;
        const auto modifiers = Qt::KeyboardModifiers(fields.at(4).toInt(nullptr, 16)) & ~Qt::KeypadModifier;
        chords << QKeySequence(QKeyCombination(modifiers, Qt::Key(key))).toString();
    }
    return chords;
}
} // namespace murmelo::test
