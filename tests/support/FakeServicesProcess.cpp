#include "FakeServicesProcess.h"
#include "TestEnvironment.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

namespace murmelo::test {

FakeServicesProcess::FakeServicesProcess(const QString& scriptPath, int startLimitMs) {
    QStringList arguments{"--port", "0"};
    if (!scriptPath.isEmpty()) arguments << "--script" << scriptPath;
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(qEnvironmentVariable("MURMELO_BUILD_DIR") + "/bin/murmelo-fake-services", arguments);
    const QDeadlineTimer deadline(startLimitMs);
    QByteArray line;
    while (!line.contains('\n') && m_process.waitForReadyRead(int(deadline.remainingTime())))
        line += m_process.readAllStandardOutput();
    const auto port =
        QRegularExpression("listening on http://127\\.0\\.0\\.1:(\\d+)").match(QString::fromLatin1(line));
    if (port.hasMatch()) m_port = port.captured(1).toUShort();
}

FakeServicesProcess::~FakeServicesProcess() {
    stopChild(m_process, 5000);
}

} // namespace murmelo::test
