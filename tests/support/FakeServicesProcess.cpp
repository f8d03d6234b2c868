#include "FakeServicesProcess.h"
#include "TestEnvironment.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

#include <signal.h>
#include <sys/types.h>

namespace murmelo::test {

QString FakeServicesProcess::programPath() {
    return qEnvironmentVariable("MURMELO_BUILD_DIR") + QStringLiteral("/bin/murmelo-fake-services");
}

FakeServicesProcess::FakeServicesProcess(const QString& scriptPath, int startLimitMs) {
    QStringList arguments{QStringLiteral("--port"), QStringLiteral("0")};
    if (!scriptPath.isEmpty()) arguments << QStringLiteral("--script") << scriptPath;
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(programPath(), arguments);
    if (!m_process.waitForStarted(startLimitMs)) return;
    const QDeadlineTimer deadline(startLimitMs);
    QByteArray line;
    while (!line.contains('\n') && !deadline.hasExpired()) {
        if (!m_process.waitForReadyRead(int(deadline.remainingTime()))) break;
        line += m_process.readAllStandardOutput();
    }
    const auto match = QRegularExpression(QStringLiteral("listening on http://127\\.0\\.0\\.1:(\\d+)"))
                           .match(QString::fromLatin1(line));
    if (match.hasMatch()) m_port = match.captured(1).toUShort();
}

FakeServicesProcess::~FakeServicesProcess() {
    stopChild(m_process, 5000);
}

QUrl FakeServicesProcess::baseUrl() const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port));
}

} // namespace murmelo::test
