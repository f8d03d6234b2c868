#pragma once

#include "TestDisplay.h"

#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>

namespace murmelo::test {

// The built murmelo on a test display, as a user starts it: private home, configuration and data
// folders, the given audio server, no session bus and no API keys unless the test adds them.
class MurmeloProcess {
public:
    MurmeloProcess(TestDisplay& display, QString pulseServer);
    ~MurmeloProcess();
    MurmeloProcess(const MurmeloProcess&) = delete;
    MurmeloProcess& operator=(const MurmeloProcess&) = delete;

    QString home() const { return m_home.path(); }
    QString dataDirectory() const { return m_home.path() + QStringLiteral("/data/Murmelo"); }
    QProcessEnvironment environment() const;
    // Written before start(): the settings file the application reads.
    bool writeSettings(const QJsonObject& values);

    // Starts it and waits (bounded) until its tray icon's window exists.
    bool start(const QProcessEnvironment& environment);
    bool start() { return start(environment()); }
    void stop();
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    // Runs `murmelo ARGUMENTS` next to the running one (for example --toggle); its exit code.
    int runCommand(const QStringList& arguments, std::chrono::milliseconds limit = std::chrono::seconds(10));

    // The overlay window's title without "Murmelo — "; a null string while it is hidden.
    QString overlayTitle() const;
    bool waitForOverlay(const QString& title,
                        std::chrono::milliseconds limit = std::chrono::seconds(15)) const;
    bool waitForOverlayHidden(std::chrono::milliseconds limit = std::chrono::seconds(5)) const;

private:
    TestDisplay& m_display;
    QString m_pulseServer;
    QTemporaryDir m_home;
    QProcess m_process;
    QProcessEnvironment m_startedWith;
};

} // namespace murmelo::test
