#include "wayland/ToolProcess.h"

#include <QDeadlineTimer>
#include <QProcess>

namespace murmelo::wayland {

bool runTool(const QString& program, const QStringList& arguments, std::chrono::milliseconds limit,
             const QByteArray* input, QByteArray* output) {
    const QDeadlineTimer deadline(limit);
    QProcess process;
    if (!input) process.setStandardInputFile(QProcess::nullDevice());
    if (!output) process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted(int(std::max<qint64>(deadline.remainingTime(), 0)))) return false;
    if (input) {
        process.write(*input);
        process.closeWriteChannel(); // sent once the buffer is written, during the wait below
    }
    if (!process.waitForFinished(int(std::max<qint64>(deadline.remainingTime(), 0)))) {
        process.kill(); // SIGKILL to its PID
        process.waitForFinished(1000);
        return false;
    }
    if (output) *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace murmelo::wayland
