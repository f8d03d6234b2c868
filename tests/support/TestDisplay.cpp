#include "TestDisplay.h"
#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QKeySequence>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdlib>

namespace murmelo::test {

using namespace std::chrono_literals;

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

bool runToEnd(const QProcessEnvironment& environment, const QString& program, const QStringList& arguments,
              QByteArray* output, std::chrono::milliseconds limit) {
    QProcess process;
    dieWithParent(process);
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    const bool ended =
        process.waitForStarted(int(limit.count())) &&
        waitUntil([&] { return process.state() == QProcess::NotRunning || process.waitForFinished(0); },
                  limit);
    stopChild(process);
    if (output) *output = process.readAllStandardOutput();
    return ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

qint64 monotonicNs() {
    return QDeadlineTimer::current().deadlineNSecs(); // CLOCK_MONOTONIC
}

QProcess* ChildProcesses::start(const QProcessEnvironment& environment, const QString& logFolder,
                                const QString& program, const QStringList& arguments) {
    QProcess* process = m_children.emplace_back(std::make_unique<QProcess>()).get();
    dieWithParent(*process);
    process->setProcessEnvironment(environment);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(logFolder + "/" + QFileInfo(program).fileName() + ".log",
                                  QIODevice::Append);
    process->start(program, arguments);
    process->waitForStarted(10000);
    return process;
}

QProcess* ChildProcesses::startAndWait(const QProcessEnvironment& environment, const QString& logFolder,
                                       const QString& program, const QStringList& arguments,
                                       const std::function<bool()>& ready, std::chrono::milliseconds limit) {
    QProcess* process = start(environment, logFolder, program, arguments);
    bool isReady = false;
    waitUntil([&] { return process->state() != QProcess::Running || (isReady = ready()); }, limit, 10ms);
    if (isReady) return process;
    stop(process);
    return nullptr;
}

void ChildProcesses::stop(QProcess* process) {
    for (auto it = m_children.begin(); it != m_children.end(); ++it)
        if (it->get() == process) {
            stopChild(*process);
            m_children.erase(it);
            return;
        }
}

void ChildProcesses::stopAll() {
    while (!m_children.empty())
        stop(m_children.back().get());
}

namespace {

// Named after the variables that point at them.
const char* const privateFolders[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                                      "XDG_RUNTIME_DIR"};

// A tray serves once it owns _NET_SYSTEM_TRAY_S0.
bool trayIsOwned(const QString& display) {
    xcb_connection_t* connection = xcb_connect(display.toLocal8Bit().constData(), nullptr);
    static const char name[] = "_NET_SYSTEM_TRAY_S0";
    auto* atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
    auto* owner = atom ? xcb_get_selection_owner_reply(
                             connection, xcb_get_selection_owner(connection, atom->atom), nullptr)
                       : nullptr;
    const bool owned = owner && owner->owner != XCB_NONE;
    std::free(owner);
    std::free(atom);
    xcb_disconnect(connection);
    return owned;
}

} // namespace

TestDisplay::TestDisplay() {
    for (const char* folder : privateFolders)
        QDir(m_root.path()).mkpath(QLatin1String(folder));
    QFile::setPermissions(m_root.filePath("XDG_RUNTIME_DIR"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

bool TestDisplay::fail(const QString& message) {
    m_error = message + " (logs in " + m_root.path() + ")";
    stop();
    return false;
}

QProcessEnvironment TestDisplay::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* folder : privateFolders)
        environment.insert(folder, m_root.filePath(QLatin1String(folder)));
    environment.remove("WAYLAND_DISPLAY");
    environment.insert("QT_QPA_PLATFORM", "xcb");
    if (!m_name.isEmpty()) environment.insert("DISPLAY", m_name);
    return environment;
}

void TestDisplay::exportToThisProcess() const {
    qputenv("DISPLAY", m_name.toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("WAYLAND_DISPLAY");
}

bool TestDisplay::start(const Options& options) {
    stop();
    m_error.clear();
    // The server writes its display number to the descriptor it is handed (-displayfd) once it
    // accepts connections: no guessing of free numbers. The shell opens that descriptor on a file.
    const QString number = m_root.filePath("display");
    QFile::remove(number);
    const QString server =
        QStringLiteral("exec Xvfb -displayfd 3 -screen 0 %1 -nolisten tcp %2 3>'%3'")
            // -noreset: the monitors set below would go with the server's reset once xrandr leaves.
            .arg(options.twoScreens ? "2560x800x24 -noreset" : "1280x800x24")
            .arg(options.xtest ? "" : "-extension XTEST", number);
    if (!m_children.startAndWait(
            environment(), m_root.path(), "sh", {"-c", server},
            [&] { return readAll(number).endsWith('\n'); }, 15s))
        return fail("Xvfb did not come up");
    m_name = ":" + QString::fromLatin1(readAll(number).trimmed());
    // One wide screen cut into two RandR monitors, which window managers and Qt take as two
    // screens; the first takes the server's only output, so it is the primary one.
    if (options.twoScreens &&
        !(run("xrandr", {"--setmonitor", "A", "1280/340x800/210+0+0", "screen"}) &&
          run("xrandr", {"--setmonitor", "B", "1280/340x800/210+1280+0", "none"})))
        return fail("xrandr could not split the screen");

    // openbox runs its start-up command once it manages the screen; a window mapped before that
    // may never be managed.
    m_windowManager = options.windowManager;
    const QString managing = m_root.filePath("openbox.ready");
    if (options.windowManager && !m_children.startAndWait(
                                     environment(), m_root.path(), "openbox",
                                     {"--startup", QStringLiteral("touch '%1'").arg(managing)},
                                     [&] { return QFile::exists(managing); }, 15s))
        return fail("openbox did not manage the screen");
    if (options.tray && !m_children.startAndWait(
                            environment(), m_root.path(), "trayer",
                            {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24",
                             "--SetDockType", "true"},
                            [&] { return trayIsOwned(m_name); }, 15s))
        return fail("trayer did not take the tray selection");
    return true;
}

void TestDisplay::stop() {
    m_children.stopAll();
    m_name.clear();
}

bool TestDisplay::run(const QString& program, const QStringList& arguments, QByteArray* output,
                      std::chrono::milliseconds limit) const {
    return runToEnd(environment(), program, arguments, output, limit);
}

QString PasteTarget::programPath() {
    const QString build = qEnvironmentVariable("MURMELO_BUILD_DIR");
    return (build.isEmpty() ? QCoreApplication::applicationDirPath() : build + "/bin") +
           "/murmelo-paste-target";
}

bool PasteTarget::start(std::chrono::milliseconds limit) {
    stop();
    m_process = std::make_unique<QProcess>();
    dieWithParent(*m_process);
    m_process->setProcessEnvironment(m_display.environment());
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QStringList options =
        m_windowClass.isEmpty() ? QStringList() : QStringList{"--class", m_windowClass};
    m_process->start(programPath(),
                     options + QStringList{m_files.filePath("text"), m_files.filePath("changes")});
    const auto running = [&] { return m_process->state() == QProcess::Running; };
    if (!m_process->waitForStarted(int(limit.count()))) return false;
    // As a pager would; without a window manager the input focus is set directly. Activation
    // fails while the window is mapped but not yet managed: it is asked again.
    const auto activate = [&] {
        return m_display.run("xdotool",
                             {"search", "--sync", "--all", "--onlyvisible", "--pid",
                              QString::number(m_process->processId()), "--name", "^Murmelo paste target$",
                              m_display.hasWindowManager() ? "windowactivate" : "windowfocus", "--sync",
                              "%1"},
                             nullptr, 5s);
    };
    return waitUntil([&] { return !running() || activate(); }, limit, 50ms) &&
           waitUntil([&] { return !running() || QFile::exists(m_files.filePath("text.ready")); }, limit) &&
           running();
}

void PasteTarget::stop() {
    if (!m_process) return;
    stopChild(*m_process);
    m_process.reset();
    for (const char* file : {"text.ready", "text", "changes", "text.keys"})
        QFile::remove(m_files.filePath(QLatin1String(file)));
}

QByteArray PasteTarget::contents(const char* name) const {
    return readAll(m_files.filePath(QLatin1String(name)));
}

qint64 PasteTarget::lastChangeNs() const {
    const QByteArray changes = contents("changes").trimmed();
    return changes.isEmpty() ? -1 : changes.mid(changes.lastIndexOf('\n') + 1).toLongLong();
}

QStringList chordsInKeyLog(const QString& keyLog) {
    static const QList<int> modifierKeys{Qt::Key_Shift,   Qt::Key_Control, Qt::Key_Alt,  Qt::Key_Meta,
                                         Qt::Key_Super_L, Qt::Key_Super_R, Qt::Key_AltGr};
    QStringList chords;
    for (const QString& line : keyLog.split('\n', Qt::SkipEmptyParts)) {
        // "<ns> press <key hex> mods <modifiers hex>"
        const QStringList fields = line.split(' ');
        if (fields.size() != 5 || fields.at(1) != "press" ||
            modifierKeys.contains(fields.at(2).toInt(nullptr, 16)))
            continue;
        const auto modifiers = Qt::KeyboardModifiers(fields.at(4).toInt(nullptr, 16)) & ~Qt::KeypadModifier;
        chords
            << QKeySequence(QKeyCombination(modifiers, Qt::Key(fields.at(2).toInt(nullptr, 16)))).toString();
    }
    return chords;
}

} // namespace murmelo::test
