#pragma once

#include <QFile>
#include <QList>

#include <unistd.h>

namespace murmelo::bench {

// This process's resident memory in MB (from /proc/self/statm); -1 when it cannot be read.
inline double residentMegabytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2) return -1;
    return fields.at(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

} // namespace murmelo::bench
