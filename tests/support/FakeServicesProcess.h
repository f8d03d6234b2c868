#pragma once

#include <QProcess>
#include <QUrl>

namespace murmelo::test {

// Runs build/bin/murmelo-fake-services on a free loopback port until destroyed (then stops it by its
// PID), for benchmarks that want the server in another process.
class FakeServicesProcess {
public:
    // `scriptPath` may be empty. Waits at most `startLimitMs` for the port line.
    explicit FakeServicesProcess(const QString& scriptPath = {}, int startLimitMs = 10000);
    ~FakeServicesProcess();

    bool isRunning() const { return m_port != 0; }
    QUrl baseUrl() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port)); }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

} // namespace murmelo::test
