#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

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
    ChildProcesses() = default;
    ~ChildProcesses() { stopAll(); }
    ChildProcesses(const ChildProcesses&) = delete;
    ChildProcesses& operator=(const ChildProcesses&) = delete;

    QProcess* start(const QProcessEnvironment& environment, const QString& logFolder, const QString& program,
                    const QStringList& arguments);
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
        bool windowManager = true; // openbox; start() waits until it manages the screen
        bool tray = false;         // trayer; start() waits until it owns the tray selection
        bool xtest = true;         // false starts the server without the XTEST extension
        QString screen = QStringLiteral("1280x800x24");
        std::chrono::milliseconds limit{15000}; // for each service to come up
    };

    TestDisplay();
    ~TestDisplay();
    TestDisplay(const TestDisplay&) = delete;
    TestDisplay& operator=(const TestDisplay&) = delete;

    // False with errorString() when something did not come up; what did start is stopped.
    bool start(const Options& options);
    bool start() { return start(Options{}); }
    void stop();

    bool isRunning() const;
    QString name() const { return m_name; } // ":N"
    QString errorString() const { return m_error; }
    // Private HOME, XDG folders and DISPLAY, for processes run against this display.
    QProcessEnvironment environment() const;
    QString privateRoot() const { return m_root.path(); }

    // Points this process at the display (DISPLAY, QT_QPA_PLATFORM=xcb), before a
    // QGuiApplication exists.
    void exportToThisProcess() const;

    // Runs a helper (xdotool, xclip, xprop ...) against the display and waits for it, with the
    // event loop running; false when it failed to start, timed out or exited non-zero. Its
    // standard output goes to `output`.
    bool run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr,
             std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) const;
    // Starts a helper that keeps running until the display stops (or stopProcess()).
    QProcess* startProcess(const QString& program, const QStringList& arguments);
    void stopProcess(QProcess* process);

private:
    bool startServer(const Options& options);
    bool waitForWindowManager(std::chrono::milliseconds limit);
    bool waitForTray(std::chrono::milliseconds limit);
    bool fail(const QString& message);

    QTemporaryDir m_root;
    QString m_name;
    QString m_error;
    std::unique_ptr<QProcess> m_server;
    ChildProcesses m_helpers;
};

// The paste target: a small Qt window with a focused multi-line text field that writes its
// whole content to a file at every change (atomically), so tests see what a user would see.
class PasteTarget {
public:
    explicit PasteTarget(TestDisplay& display);
    // A target whose WM_CLASS class is `windowClass` (its instance stays "murmelo-paste-target"),
    // standing in for another application, such as a terminal.
    PasteTarget(TestDisplay& display, QString windowClass);
    ~PasteTarget();

    // Starts the window and waits until its text field has the keyboard focus.
    bool start(std::chrono::milliseconds limit = std::chrono::milliseconds(15000));
    void stop();
    // The field's content as last written; empty before the first change.
    QString text() const;
    // Number of changes so far and the CLOCK_MONOTONIC time (ns) of the last one.
    int changes() const;
    qint64 lastChangeNs() const;
    bool waitForText(const QString& expected, std::chrono::milliseconds limit);
    // The key events the field has seen, one per line ("<ns> press|release <key> mods <mods>").
    QString keyLog() const;
    // The key combinations pressed in the field, modifier keys on their own left out ("Ctrl+V").
    QStringList pressedChords() const;

    static QString programPath();

private:
    TestDisplay& m_display;
    QString m_windowClass;
    QTemporaryDir m_files;
    QProcess* m_process = nullptr;
};

// Monotonic clock in nanoseconds, comparable between processes on this machine.
qint64 monotonicNs();

// The chords (for example "Ctrl+V") pressed according to a paste target's key log, in order.
QStringList chordsInKeyLog(const QString& keyLog);

} // namespace murmelo::test

// main() for a desktop test: starts a display with `options` (a TestDisplay::Options), runs
// the test object constructed with the display, then stops the display.
#ifdef QT_WIDGETS_LIB
#include <QApplication>
#define MURMELO_DESKTOP_TEST_APPLICATION QApplication
#else
#include <QGuiApplication>
#define MURMELO_DESKTOP_TEST_APPLICATION QGuiApplication
#endif
#include <QTest>

#define MURMELO_DESKTOP_TEST_MAIN(TestObject, options)                                                       \
    int main(int argc, char* argv[]) {                                                                       \
        murmelo::test::TestDisplay display;                                                                  \
        if (!display.start(options)) {                                                                       \
            qCritical("test display: %s", qPrintable(display.errorString()));                                \
            return 1;                                                                                        \
        }                                                                                                    \
        display.exportToThisProcess();                                                                       \
        int status = 0;                                                                                      \
        {                                                                                                    \
            MURMELO_DESKTOP_TEST_APPLICATION application(argc, argv);                                        \
            TestObject test(display);                                                                        \
            status = QTest::qExec(&test, argc, argv);                                                        \
        }                                                                                                    \
        display.stop();                                                                                      \
        return status;                                                                                       \
    }
