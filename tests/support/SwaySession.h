#pragma once

#include "TestDisplay.h"

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <vector>

namespace murmelo::test {

// A private headless sway for Wayland tests. sway refuses to run as root, so the compositor runs
// as nobody (65534) with a runtime folder of its own; clients (this process and what it starts)
// keep their own private folders and reach it by the socket's absolute path. Everything started
// is stopped by PID; every wait is bounded.
class SwaySession {
public:
    SwaySession();
    ~SwaySession();
    SwaySession(const SwaySession&) = delete;
    SwaySession& operator=(const SwaySession&) = delete;

    // The programs these tests need that are not installed (sway, setpriv, wl-clipboard, wtype,
    // Qt's Wayland platform plugin); a test skips only for these.
    static QStringList missingPrograms();

    // False with errorString() when the compositor did not come up; what started is stopped.
    bool start(std::chrono::milliseconds limit = std::chrono::milliseconds(15000));
    void stop();

    bool isRunning() const;
    QString socketPath() const { return m_socket; }
    QString errorString() const { return m_error; }
    // For clients: private HOME and XDG folders, WAYLAND_DISPLAY, QT_QPA_PLATFORM=wayland, no DISPLAY.
    QProcessEnvironment environment() const;
    // Points this process's own clients (and the helpers back ends start) at the compositor.
    void exportToThisProcess() const;

    // Runs a helper (wl-paste, swaymsg, ...) to its end with the event loop running; false when it
    // failed to start, timed out or exited non-zero. Standard output goes to `output`.
    bool run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr,
             std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) const;
    // Starts a client that runs until the session stops (or stopProcess()).
    QProcess* startProcess(const QString& program, const QStringList& arguments);
    void stopProcess(QProcess* process);

private:
    bool fail(const QString& message);

    QTemporaryDir m_root;
    QString m_socket;
    QString m_ipcSocket;
    QString m_error;
    std::unique_ptr<QProcess> m_compositor;
    ChildProcesses m_clients;
};

// The paste target (murmelo-paste-target) as a Wayland client of the session, under the app id
// `appId` (standing in for another application, such as a terminal) or its own.
class WaylandPasteTarget {
public:
    explicit WaylandPasteTarget(SwaySession& session, QString appId = {});
    ~WaylandPasteTarget();

    // Starts the window and waits until its text field has the keyboard focus.
    bool start(std::chrono::milliseconds limit = std::chrono::milliseconds(15000));
    void stop();
    QString text() const;
    bool waitForText(const QString& expected, std::chrono::milliseconds limit);
    // The key events the field has seen, one per line, and the chords pressed ("Ctrl+V").
    QString keyLog() const;
    QStringList pressedChords() const;

private:
    SwaySession& m_session;
    QString m_appId;
    QTemporaryDir m_files;
    QProcess* m_process = nullptr;
};

} // namespace murmelo::test
