#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>

namespace murmelo::wayland {

// Runs a command-line helper (wl-copy, wl-paste, wtype) to its end, at most `limit`; true only when
// it exited normally with status 0. `input` goes to its standard input; its standard output is read
// into `output` only when asked for. Whatever is not read is the null device rather than a pipe: a
// helper that leaves a child behind (wl-copy serves the clipboard from one) would otherwise keep
// the pipe open and the wait would last as long as that child. On time-out the helper is killed.
bool runTool(const QString& program, const QStringList& arguments, std::chrono::milliseconds limit,
             const QByteArray* input = nullptr, QByteArray* output = nullptr);

} // namespace murmelo::wayland
