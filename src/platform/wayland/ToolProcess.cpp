#include "wayland/ToolProcess.h"

#include <QCoroProcess>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>

namespace murmelo::wayland {

namespace {

std::chrono::milliseconds remaining(const QDeadlineTimer& deadline) {
    return std::chrono::milliseconds(std::max<qint64>(deadline.remainingTime(), 0));
}

void prepare(QProcess& process, bool hasInput, bool readOutput) {
    if (!hasInput) process.setStandardInputFile(QProcess::nullDevice());
    if (!readOutput) process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
}

} // namespace

QCoro::Task<ToolRun> runTool(QString program, QStringList arguments, std::chrono::milliseconds limit,
                             std::optional<QByteArray> input, bool readOutput) {
    const QDeadlineTimer deadline(limit);
    // A program that cannot be executed would only be noticed at the end of the start's wait.
    if (QStandardPaths::findExecutable(program).isEmpty()) co_return ToolRun{};
    QProcess process;
    prepare(process, input.has_value(), readOutput);
    const bool started =
        co_await qCoro(process).start(program, arguments, QIODevice::ReadWrite, remaining(deadline));
    if (!started) {
        process.kill(); // reaped before the process object goes, as below
        if (process.state() != QProcess::NotRunning)
            co_await qCoro(process).waitForFinished(std::chrono::milliseconds(1000));
        co_return ToolRun{};
    }
    if (input) {
        process.write(*input);
        process.closeWriteChannel(); // sent once the buffer is written, during the wait below
    }
    // The wait reports false for a helper that has already ended, so it is asked only for one running.
    bool ended = process.state() == QProcess::NotRunning;
    if (!ended) ended = co_await qCoro(process).waitForFinished(remaining(deadline));
    if (!ended) {
        process.kill(); // SIGKILL to its PID
        if (process.state() != QProcess::NotRunning)
            co_await qCoro(process).waitForFinished(std::chrono::milliseconds(1000));
        co_return ToolRun{};
    }
    ToolRun run;
    run.succeeded = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (readOutput) run.output = process.readAllStandardOutput();
    co_return run;
}

bool runToolNow(const QString& program, const QStringList& arguments, std::chrono::milliseconds limit,
                const QByteArray* input, QByteArray* output) {
    const QDeadlineTimer deadline(limit);
    QProcess process;
    prepare(process, input != nullptr, output != nullptr);
    process.start(program, arguments);
    if (!process.waitForStarted(int(remaining(deadline).count()))) return false;
    if (input) {
        process.write(*input);
        process.closeWriteChannel();
    }
    if (!process.waitForFinished(int(remaining(deadline).count()))) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    if (output) *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace murmelo::wayland
