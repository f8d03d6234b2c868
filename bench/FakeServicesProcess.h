#pragma once

#include "TestEnvironment.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QUrl>

namespace murmelo::test {

// For the benchmarks: runs build/bin/murmelo-fake-services on a free loopback port until destroyed (then stops it by its
// PID), for benchmarks that want the server in another process.
class FakeServicesProcess {
public:
    // `scriptPath` may be empty. Waits at most `startLimitMs` for the port line.
    explicit FakeServicesProcess(const QString& scriptPath = {}, int startLimitMs = 10000) {
        QStringList arguments{"--port", "0"};
        if (!scriptPath.isEmpty()) arguments << "--script" << scriptPath;
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(qEnvironmentVariable("MURMELO_BUILD_DIR") + "/bin/murmelo-fake-services", arguments);
        const QDeadlineTimer deadline(startLimitMs);
        QByteArray line;
        while (!line.contains('\n') && m_process.waitForReadyRead(int(deadline.remainingTime())))
            line += m_process.readAllStandardOutput();
        const auto port = QRegularExpression("listening on http://127\\.0\\.0\\.1:(\\d+)").match(line);
        if (port.hasMatch()) m_port = port.captured(1).toUShort();
    }
    ~FakeServicesProcess() { stopChild(m_process, 5000); }

    bool isRunning() const { return m_port != 0; }
    QUrl baseUrl() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port)); }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

} // namespace murmelo::test
