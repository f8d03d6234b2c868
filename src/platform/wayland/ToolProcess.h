#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace murmelo::wayland {

// What a helper run ended with: `succeeded` only when it exited normally with status 0 in time;
// `output` is its standard output when that was asked for.
struct ToolRun {
    bool succeeded = false;
    QByteArray output;
};

// Runs a command-line helper (wl-copy, wl-paste, wtype) to its end, at most `limit`, with the event
// loop turning meanwhile. `input` goes to its standard input; its standard output is read only
// when asked for. Whatever is not read is the null device rather than a pipe: a helper that
// leaves a child behind (wl-copy serves the clipboard from one) would otherwise keep the pipe open
// and the wait would last as long as that child. On time-out the helper is killed.
QCoro::Task<ToolRun> runTool(QString program, QStringList arguments, std::chrono::milliseconds limit,
                             std::optional<QByteArray> input = std::nullopt, bool readOutput = false);

// The same, waiting on the calling thread: only for the clipboard's synchronous interface.
bool runToolNow(const QString& program, const QStringList& arguments, std::chrono::milliseconds limit,
                const QByteArray* input = nullptr, QByteArray* output = nullptr);

} // namespace murmelo::wayland
