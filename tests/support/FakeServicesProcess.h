#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QUrl>

namespace murmelo::test {

// Starts build/bin/murmelo-fake-services on a free loopback port and stops it (by its PID) when
// destroyed. For tests and benchmarks that want the server in another process.
class FakeServicesProcess {
public:
    // `scriptPath` may be empty. Waits at most `startLimitMs` for the port line.
    explicit FakeServicesProcess(const QString& scriptPath = {}, int startLimitMs = 10000);
    ~FakeServicesProcess();
    FakeServicesProcess(const FakeServicesProcess&) = delete;
    FakeServicesProcess& operator=(const FakeServicesProcess&) = delete;

    bool isRunning() const { return m_port != 0; }
    QUrl baseUrl() const;
    static QString programPath();

private:
    QProcess m_process;
    quint16 m_port = 0;
};

} // namespace murmelo::test
