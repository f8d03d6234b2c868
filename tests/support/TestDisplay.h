#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace murmelo::test {

// Polls `condition` until it holds or `limit` passes, letting the event loop run in between.
// Returns the condition's last value.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit,
               std::chrono::milliseconds interval = std::chrono::milliseconds(5));

// Runs a helper program to its end with the event loop running (the helper may need this process,
// for example to fetch the clipboard it owns); false when it failed to start, ran past `limit` (it
// is stopped then) or exited non-zero. Standard output goes to `output`.
bool runToEnd(const QProcessEnvironment& environment, const QString& program, const QStringList& arguments,
              QByteArray* output, std::chrono::milliseconds limit);

// Long-running helpers of a test session: each dies with the test process, appends its standard
// error to `<logFolder>/<program>.log`, and is stopped by its PID, the newest first.
class ChildProcesses {
public:
    ~ChildProcesses() { stopAll(); }
    QProcess* start(const QProcessEnvironment& environment, const QString& logFolder, const QString& program,
                    const QStringList& arguments);
    // Starts a helper that keeps running and polls `ready` until it holds, within `limit`. Null
    // when the helper did not start, exited, or was not ready in time; it is stopped then.
    QProcess* startAndWait(const QProcessEnvironment& environment, const QString& logFolder,
                           const QString& program, const QStringList& arguments,
                           const std::function<bool()>& ready, std::chrono::milliseconds limit);
    void stop(QProcess* process);
    void stopAll();

private:
    std::vector<std::unique_ptr<QProcess>> m_children; // in start order
};

// A private X display for desktop tests: Xvfb (display number chosen by the server itself),
// optionally openbox and a tray. Everything it starts gets a private HOME and XDG folders and
// is stopped by its PID when the display stops or is destroyed. Every wait is bounded.
class TestDisplay {
public:
    struct Options {
        bool windowManager = true; // openbox
        bool tray = false;         // trayer
        bool xtest = true;         // false starts the server without the XTEST extension
        bool twoScreens = false;   // two 1280x800 monitors side by side, the left one primary
    };

    TestDisplay();
    // False with errorString() when something did not come up; what did start is stopped.
    bool start(const Options& options);
    bool start() { return start(Options{}); }
    void stop();

    QString name() const { return m_name; } // ":N"
    QString errorString() const { return m_error; }
    bool hasWindowManager() const { return m_windowManager; }
    // Private HOME, XDG folders and DISPLAY, for processes run against this display (Qt ones on xcb).
    QProcessEnvironment environment() const;
    // Points this process at the display (DISPLAY, QT_QPA_PLATFORM=xcb), before a
    // QGuiApplication exists.
    void exportToThisProcess() const;
    // Runs a helper (xdotool, xclip, ...) against the display to its end; see runToEnd().
    bool run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr,
             std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) const;

private:
    bool fail(const QString& message);

    QTemporaryDir m_root;
    QString m_name;
    QString m_error;
    bool m_windowManager = false;
    ChildProcesses m_children; // the server first
};

// Monotonic clock in nanoseconds, comparable between processes on this machine.
qint64 monotonicNs();

// The chords (for example "Ctrl+V") pressed according to a paste target's key log, in order.
QStringList chordsInKeyLog(const QString& keyLog);

// murmelo-paste-target, standing in for the application a user dictates into: a window with one
// focused multi-line field that writes its whole content to a file at every change, so tests see
// what a user would see.
class PasteTarget {
public:
    // On an X display, as an application of WM_CLASS class `windowClass` (the instance stays
    // "murmelo-paste-target"), such as a terminal.
    explicit PasteTarget(TestDisplay& display, const QString& windowClass = {})
        : m_display(display)
        , m_windowClass(windowClass) {}
    ~PasteTarget() { stop(); }

    // Starts the window and waits until its text field has the keyboard focus.
    bool start(std::chrono::milliseconds limit = std::chrono::milliseconds(15000));
    void stop();
    // The field's content as last written; empty before the first change.
    QString text() const { return QString::fromUtf8(contents("text")); }
    bool waitForText(const QString& expected, std::chrono::milliseconds limit) {
        return waitUntil([&] { return text() == expected; }, limit);
    }
    // Number of changes so far and the CLOCK_MONOTONIC time (ns) of the last one.
    int changes() const { return int(contents("changes").count('\n')); }
    qint64 lastChangeNs() const;
    // The key events the field has seen, one per line ("<ns> press|release <key> mods <mods>"),
    // and the chords among them.
    QString keyLog() const { return QString::fromUtf8(contents("text.keys")); }
    QStringList pressedChords() const { return chordsInKeyLog(keyLog()); }

    static QString programPath();

private:
    QByteArray contents(const char* file) const;

    TestDisplay& m_display;
    QString m_windowClass;
    QTemporaryDir m_files;
    std::unique_ptr<QProcess> m_process;
};

} // namespace murmelo::test

// main() for a desktop test (the test includes QApplication): starts a display with `options` (a
// TestDisplay::Options), runs the test object constructed with the display, then stops the display.
#define MURMELO_DESKTOP_TEST_MAIN(TestObject, options)                                                       \
    int main(int argc, char* argv[]) {                                                                       \
        murmelo::test::TestDisplay display;                                                                  \
        if (!display.start(options)) qFatal("test display: %s", qPrintable(display.errorString()));          \
        display.exportToThisProcess();                                                                       \
        QApplication application(argc, argv);                                                                \
        TestObject test(display);                                                                            \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
